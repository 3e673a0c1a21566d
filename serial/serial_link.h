#pragma once

#include <cstdint>

#include "model/reporter.h"
#include "serial/clock.h"
#include "serial/port_driver.h"

namespace updater {

// The serial line to the device: opening COM1 to COM4, single-byte transfers with five-second
// time-outs, closing, and finding the port on which the device answers.
class SerialLink {
 public:
  static constexpr int kPortCount = 4;
  static constexpr std::uint32_t kTransferTimeoutMs = 5000;
  static constexpr std::uint8_t kReadTimedOut = 0xFF;
  static constexpr const char* kPortNames[kPortCount] = {"COM1", "COM2", "COM3", "COM4"};

  SerialLink(PortDriver& driver, Clock& clock, Reporter& reporter)
      : driver_(driver), clock_(clock), reporter_(reporter) {}
  SerialLink(const SerialLink&) = delete;
  SerialLink& operator=(const SerialLink&) = delete;

  // Opens and configures port `index` (0 to 3, shown as COM1 to COM4). 1 on success, 0 if not.
  int OpenPort(std::int8_t index);
  // Sends the low 8 bits of `value`; a byte the line does not take within 5000 ms is dropped.
  void WriteByte(int value);
  // Whether the last WriteByte dropped its byte.
  bool write_dropped() const { return writeDropped_; }
  // The next byte received, or 0xFF when none arrived within 5000 ms or the line is lost.
  std::uint8_t ReadByte();
  // The next `count` bytes to read come back to back from the device (a block's replies): the
  // waits for them may let them gather, but the last one is returned as it arrives. The next
  // WriteByte ends it.
  void ExpectBytes(std::uint32_t count);
  // Whether the port opened last reported a hang-up, an error or that its device is gone. From
  // then on ReadByte and WriteByte return at once, until the next open.
  bool line_lost() const { return lineLost_; }
  // Closes m_hPort when it is open.
  void ClosePort();
  bool IsOpen() const { return m_hPort != kInvalidPort; }

  // Probes COM1 to COM4 in turn. 1 with the port left open when a device answered '0'; 0 with
  // every port closed when none did. A stop asked for through the clock ends the search.
  int FindDevice();
  // Probes only the port the driver opens as `name`, shown as `shown` in the messages (a device
  // path where the driver opens it under a COM name), with the pauses and messages of FindDevice.
  int FindDeviceOn(const char* name, const char* shown);
  // The port shown in "Conectado a equipo en ..." by the last search, nullptr when none answered;
  // a name given to FindDeviceOn stays the caller's.
  const char* connected_port() const { return connectedPort_; }
  // Why the port of the last FindDeviceOn would not open; kNone when it opened.
  const OpenError& named_open_error() const { return namedError_; }

  // Why the last open of port `index` (0 to 3) failed; kNone when it opened or was not tried
  // since the last FindDevice began.
  const OpenError& open_error(int index) const;
  // The first port of the last FindDevice that exists but could not be opened because this user
  // may not or another program holds it: the ones the operator can do something about.
  const OpenError* BlockedPort() const;

  PortHandle m_hPort = kInvalidPort;
  ComStat m_comStat{};
  std::uint32_t m_dwCommErrors = 0;

 private:
  PortDriver& driver_;
  Clock& clock_;
  Reporter& reporter_;
  int OpenNamed(const char* name, const char* shown, OpenError& error);
  bool Probe(const char* shown);
  // Clears what the last search learnt: the open failures and the port found.
  void ForgetLastSearch();

  bool writeDropped_ = false;
  bool lineLost_ = false;
  OpenError openErrors_[kPortCount] = {};
  OpenError namedError_{};
  const char* connectedPort_ = nullptr;
};

}  // namespace updater
