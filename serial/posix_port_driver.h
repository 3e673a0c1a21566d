#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "serial/clock.h"
#include "serial/port_driver.h"
#include "serial/posix_port_list.h"

namespace updater {

// COMn over termios, the device found as ResolvePortPath says. A handle is the open descriptor,
// held exclusively (TIOCEXCL and a non-blocking flock, since root ignores TIOCEXCL) until Close.
//
// The bytes waiting on the line are taken in one read and handed out from memory: the link asks
// for its bytes one at a time, and a wake-up then costs one read instead of two queue queries and
// a read per byte. While bytes stream in, a wait lets the next couple gather (about two bytes'
// time at 9600 baud) instead of waking for each one; a first byte after a silence ends a wait at
// once. When the caller says how many bytes are coming (ExpectBytes), a wait lets all but the
// last of them gather, up to its whole time, and waits for the last one on the line itself, so
// that it is returned as it arrives. The gather is timed by `gatherClock` when one is given
// (tests), else by the monotonic clock.
class PosixPortDriver final : public PortDriver {
 public:
  using PathTable = std::array<const char*, 4>;

  // Resolves each port at every Open, from /dev and the machine's terminals (udev).
  PosixPortDriver() = default;
  // Resolves each port from `devDir` and `source` (tests).
  PosixPortDriver(TtySource& source, const char* devDir) : source_(&source), devDir_(devDir) {}
  // Uses these paths for COM1 to COM4; nullptr means the port is absent.
  explicit PosixPortDriver(const PathTable& paths, Clock* gatherClock = nullptr)
      : paths_(paths), injected_(true), gatherClock_(gatherClock) {}
  PosixPortDriver(const PosixPortDriver&) = delete;
  PosixPortDriver& operator=(const PosixPortDriver&) = delete;

  using PortDriver::Open;
  PortHandle Open(const char* name, OpenError& error) override;
  bool GetLineSettings(PortHandle port, LineSettings& settings) override;
  bool SetLineSettings(PortHandle port, const LineSettings& settings) override;
  bool ClearErrors(PortHandle port, std::uint32_t& errors, ComStat& stat) override;
  bool ReadByte(PortHandle port, std::uint8_t& value, std::uint32_t& transferred) override;
  bool WriteByte(PortHandle port, std::uint8_t value, std::uint32_t& transferred) override;
  WaitResult WaitReadable(PortHandle port, std::uint32_t timeoutMs) override;
  WaitResult WaitWritable(PortHandle port, std::uint32_t timeoutMs) override;
  void ExpectBytes(PortHandle port, std::uint32_t count) override;
  void Close(PortHandle port) override;

 private:
  // The bytes read ahead for one port; a second port open at the same time reads unbuffered
  // while the first one's bytes wait, so that none is lost.
  struct ReadAhead {
    PortHandle port = kInvalidPort;
    std::uint32_t head = 0;
    std::uint32_t count = 0;
    bool arrived = false;  // bytes came since the port was taken
    bool lost = false;     // the line hung up, failed or its device is gone
    std::int64_t lastArrivalNs = 0;
    std::uint32_t lastArrivalTick = 0;
    std::uint32_t expected = 0;   // bytes the caller said are coming and has not taken yet
    std::uint32_t usPerByte = 0;  // on the line, at its baud rate; 0: not known
    std::uint8_t buffer[512] = {};
  };
  // Whether `port` reads through the read-ahead, taking it over when it holds nothing.
  bool ReadsAhead(PortHandle port);
  void Forget(PortHandle port);
  // Reads what waits when nothing is held; false only for a handle that is no descriptor.
  bool Fill(PortHandle port);
  bool Streaming();
  void NoteArrival();
  void GatherPause(std::uint32_t ms);
  // How long a wait may let bytes gather; 0 when it should wait for the line instead.
  std::uint32_t GatherMs(std::uint32_t timeoutMs);

  UdevTtySource udev_;
  TtySource* source_ = &udev_;
  const char* devDir_ = "/dev";
  PathTable paths_{};
  bool injected_ = false;
  Clock* gatherClock_ = nullptr;
  ReadAhead ahead_;
};

}  // namespace updater
