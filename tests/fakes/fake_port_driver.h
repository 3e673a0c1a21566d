#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

#include "fakes/fake_clock.h"
#include "serial/port_driver.h"
#include "sim/device_model.h"

namespace fakes {

class FakePort;

// What sits at the far end of a fake port: it sees every byte the host sends.
class Peer {
 public:
  virtual ~Peer() = default;
  virtual void OnHostByte(std::uint8_t value, FakePort& port) = 0;
  // The host closed the port.
  virtual void OnLineClosed() {}
};

// One fake serial port: a queue of timed bytes from the peer, a record of the host's bytes, and
// switches for the faults of a real line. Time is the FakeClock's.
class FakePort {
 public:
  static constexpr std::size_t kQueueSize = 8192;
  static constexpr std::size_t kHostLogSize = 70000;

  // Queues bytes for the host, readable `delayMs` from now.
  void Deliver(const std::uint8_t* bytes, std::size_t count, std::uint32_t delayMs = 0);
  void Deliver(std::uint8_t value, std::uint32_t delayMs = 0) { Deliver(&value, 1, delayMs); }

  bool present = false;        // the port exists
  bool busy = false;           // another program holds it
  bool forbidden = false;      // this user may not open it
  const char* path = nullptr;  // the device path a failed open reports; "/dev/fakeN" when unset
  bool hungUp = false;         // the far end dropped the line
  bool writeStalled = false;   // the line takes no bytes
  Peer* peer = nullptr;
  updater::LineSettings reported{};  // what the port reports when opened
  updater::LineSettings applied{};   // what the code set last
  int opens = 0;
  int closes = 0;
  int settingsWritten = 0;
  bool isOpen = false;
  long readsWithNothingWaiting = 0;
  // What the code said was coming back (ExpectBytes) against what it then read.
  std::uint32_t expected = 0;  // announced and not read yet
  long bytesReadAsExpected = 0;
  long bytesReadUnannounced = 0;
  long writesWithBytesStillExpected = 0;

  std::size_t host_byte_count() const { return hostCount_; }
  std::uint8_t host_byte(std::size_t i) const { return i < kHostLogSize ? hostLog_[i] : 0; }
  std::size_t queued() const { return queueCount_; }
  bool overflowed() const { return overflowed_; }

 private:
  friend class FakePortDriver;
  struct Timed {
    std::uint8_t value;
    std::uint32_t readyAt;
  };
  std::size_t ReadyCount(std::uint32_t now) const;
  void RecordHostByte(std::uint8_t value);

  FakeClock* clock_ = nullptr;
  Timed queue_[kQueueSize] = {};
  std::size_t queueHead_ = 0;
  std::size_t queueCount_ = 0;
  bool overflowed_ = false;
  std::uint8_t hostLog_[kHostLogSize] = {};
  std::size_t hostCount_ = 0;
};

// Four fake ports named COM1 to COM4. A failed open, a silent port, a device and a dropped line
// are all set up by the test on the port objects.
class FakePortDriver final : public updater::PortDriver {
 public:
  explicit FakePortDriver(FakeClock& clock);

  FakePort& port(int index) { return ports_[index]; }

  using updater::PortDriver::Open;
  updater::PortHandle Open(const char* name, updater::OpenError& error) override;
  bool GetLineSettings(updater::PortHandle port, updater::LineSettings& settings) override;
  bool SetLineSettings(updater::PortHandle port, const updater::LineSettings& settings) override;
  bool ClearErrors(updater::PortHandle port, std::uint32_t& errors,
                   updater::ComStat& stat) override;
  bool ReadByte(updater::PortHandle port, std::uint8_t& value, std::uint32_t& transferred) override;
  bool WriteByte(updater::PortHandle port, std::uint8_t value, std::uint32_t& transferred) override;
  updater::WaitResult WaitReadable(updater::PortHandle port, std::uint32_t timeoutMs) override;
  updater::WaitResult WaitWritable(updater::PortHandle port, std::uint32_t timeoutMs) override;
  void ExpectBytes(updater::PortHandle port, std::uint32_t count) override;
  void Close(updater::PortHandle port) override;

  int open_port_count() const;
  long calls_on_closed_handles() const { return badCalls_; }

 private:
  FakePort* Get(updater::PortHandle handle);

  FakeClock& clock_;
  FakePort ports_[4];
  long badCalls_ = 0;
};

// Serves the simulated device on a fake port, each reply after a delay of its own (by reply
// number, 0 being the probe reply; else the faults' reply delay), and stops the line after a
// number of host bytes when told.
class DevicePeer final : public Peer, public sim::ReplySink {
 public:
  explicit DevicePeer(const sim::DeviceFaults& faults = {})
      : defaultDelayMs(faults.replyDelayMs), faults_(faults), model_(faults_, *this) {}
  void Attach(FakePort& port) {
    port_ = &port;
    port.present = true;
    port.peer = this;
  }
  void OnHostByte(std::uint8_t value, FakePort& port) override;
  void OnLineClosed() override { model_.LineClosed(); }
  void Reply(const std::uint8_t* bytes, std::size_t count) override;

  sim::DeviceModel& model() { return model_; }

  std::uint32_t defaultDelayMs;
  std::map<long, std::uint32_t> delays;
  long stallAfterHostBytes = -1;  // the line takes no more bytes after this one

 private:
  sim::DeviceFaults faults_;
  sim::DeviceModel model_;
  FakePort* port_ = nullptr;
  long replies_ = 0;
  long hostBytes_ = 0;
};

}  // namespace fakes
