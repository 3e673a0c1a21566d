#pragma once

#include <cstdint>

#include "serial/port_driver.h"

namespace updater {

// COM1 to COM4 through the Windows serial calls. A handle is the HANDLE of CreateFileA, opened
// without sharing and without overlapped I/O, until Close.
class Win32PortDriver final : public PortDriver {
 public:
  // Waits poll the input or output queue this often; the processor stays idle in between.
  static constexpr std::uint32_t kPollMs = 1;

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
};

}  // namespace updater
