#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "serial/port_driver.h"
#include "serial/posix_port_list.h"

namespace updater {

// COMn over termios, the device found as ResolvePortPath says. A handle is the open descriptor,
// held exclusively (TIOCEXCL and a non-blocking flock, since root ignores TIOCEXCL) until Close.
class PosixPortDriver final : public PortDriver {
 public:
  using PathTable = std::array<const char*, 4>;

  // Resolves each port at every Open, from /dev and the machine's terminals (udev).
  PosixPortDriver() = default;
  // Resolves each port from `devDir` and `source` (tests).
  PosixPortDriver(TtySource& source, const char* devDir) : source_(&source), devDir_(devDir) {}
  // Uses these paths for COM1 to COM4; nullptr means the port is absent.
  explicit PosixPortDriver(const PathTable& paths) : paths_(paths), injected_(true) {}
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
  void Close(PortHandle port) override;

 private:
  UdevTtySource udev_;
  TtySource* source_ = &udev_;
  const char* devDir_ = "/dev";
  PathTable paths_{};
  bool injected_ = false;
};

}  // namespace updater
