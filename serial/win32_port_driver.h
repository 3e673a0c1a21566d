#pragma once

#include <cstdint>

#include "serial/port_driver.h"

namespace updater {

// Serial ports ("COM1" to "COM255") through the Windows serial calls. A handle is the HANDLE of
// CreateFileA, opened without sharing and without overlapped I/O, until Close. The waits wait in
// the system (a read under the port's read time-outs), never in a polling loop.
class Win32PortDriver final : public PortDriver {
 public:
  // Ports open at once through one driver.
  static constexpr int kMaxOpenPorts = 8;

  using PortDriver::Open;
  PortHandle Open(const char* name, OpenError& error) override;
  bool GetLineSettings(PortHandle port, LineSettings& settings) override;
  bool SetLineSettings(PortHandle port, const LineSettings& settings) override;
  bool ClearErrors(PortHandle port, std::uint32_t& errors, ComStat& stat) override;
  bool ReadByte(PortHandle port, std::uint8_t& value, std::uint32_t& transferred) override;
  bool WriteByte(PortHandle port, std::uint8_t value, std::uint32_t& transferred) override;
  WaitResult WaitReadable(PortHandle port, std::uint32_t timeoutMs) override;
  WaitResult WaitWritable(PortHandle port, std::uint32_t timeoutMs) override;
  // A wait here ends as the first byte arrives; what is coming changes nothing.
  void ExpectBytes(PortHandle, std::uint32_t) override {}
  void Close(PortHandle port) override;

 private:
  struct Port {
    void* handle = nullptr;        // null: a free slot
    std::uint32_t readWaitMs = 0;  // the read-total constant the port now has
    bool hasEarlyByte = false;     // a wait took this byte; the next ReadByte returns it
    std::uint8_t earlyByte = 0;
    bool writeFailed = false;  // the last WriteFile failed other than by its time-out
  };
  Port* Slot(const void* handle);
  Port* Find(PortHandle port);

  Port ports_[kMaxOpenPorts] = {};
};

}  // namespace updater
