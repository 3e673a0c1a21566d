#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "serial/port_driver.h"

namespace updater {

// The device path for port `index` (0 to 3, COM1 to COM4) under `devDir`: "<devDir>/COMn" when
// that name exists as a directory entry (an administrator's udev symlink; a dangling one means the
// port is absent, so the open then fails), else "<devDir>/ttyS{n-1}". False when the index is out
// of range or the path does not fit in `cap` bytes.
bool ResolvePortPath(int index, const char* devDir, char* out, std::size_t cap);

// COM1 to COM4 over termios. A handle is the open descriptor, held exclusively (TIOCEXCL and a
// non-blocking flock, since root ignores TIOCEXCL) until Close.
class PosixPortDriver final : public PortDriver {
 public:
  using PathTable = std::array<const char*, 4>;

  // Resolves each port under /dev at every Open.
  PosixPortDriver() = default;
  // Uses these paths for COM1 to COM4; nullptr means the port is absent.
  explicit PosixPortDriver(const PathTable& paths) : paths_(paths), injected_(true) {}

  PortHandle Open(const char* name) override;
  bool GetLineSettings(PortHandle port, LineSettings& settings) override;
  bool SetLineSettings(PortHandle port, const LineSettings& settings) override;
  bool ClearErrors(PortHandle port, std::uint32_t& errors, ComStat& stat) override;
  bool ReadByte(PortHandle port, std::uint8_t& value, std::uint32_t& transferred) override;
  bool WriteByte(PortHandle port, std::uint8_t value, std::uint32_t& transferred) override;
  WaitResult WaitReadable(PortHandle port, std::uint32_t timeoutMs) override;
  WaitResult WaitWritable(PortHandle port, std::uint32_t timeoutMs) override;
  void Close(PortHandle port) override;

 private:
  PathTable paths_{};
  bool injected_ = false;
};

}  // namespace updater
