#pragma once

#include <cstdint>

namespace updater {

// An open port as the platform knows it: a descriptor, a Windows HANDLE, or a fake's index.
using PortHandle = std::intptr_t;
inline constexpr PortHandle kInvalidPort = -1;

// The line settings this program changes. A driver keeps every other setting of the port (its
// native device control block or termios) exactly as the port reported it.
struct LineSettings {
  std::uint32_t baudRate = 0;
  std::uint8_t byteSize = 0;
  std::uint8_t stopBits = 0;  // 0 one stop bit, 1 one and a half, 2 two
  bool binary = false;
  bool parityCheck = false;
  std::uint8_t rtsControl = 0;  // 0 RTS disabled, 1 enabled, 2 handshake, 3 toggle
  // The parity scheme as reported (0 none, 1 odd, 2 even, 3 mark, 4 space). Read only: drivers
  // ignore it in SetLineSettings and keep the port's own scheme.
  std::uint8_t parity = 0;
};

// The settings every open applies to the device's line: 9600 baud, 8 data bits, one stop bit,
// binary, no parity checking, RTS disabled. Everything else in `found` is kept.
inline LineSettings WithDeviceLineSettings(LineSettings found) {
  found.baudRate = 9600;
  found.byteSize = 8;
  found.stopBits = 0;
  found.binary = true;
  found.parityCheck = false;
  found.rtsControl = 0;
  return found;
}

// The part of the port's status record the program uses.
struct ComStat {
  std::uint32_t cbInQue = 0;   // bytes waiting in the input queue
  std::uint32_t cbOutQue = 0;  // bytes not yet sent
};

enum class WaitResult { kReady, kTimedOut, kError };

// One serial port driver per platform (POSIX termios, Win32, and a fake for tests). All calls are
// non-blocking except the two waits, which return after at most their time limit.
class PortDriver {
 public:
  virtual ~PortDriver() = default;

  // Opens "COM1" to "COM4" for reading and writing, exclusively. kInvalidPort on any failure.
  virtual PortHandle Open(const char* name) = 0;
  virtual bool GetLineSettings(PortHandle port, LineSettings& settings) = 0;
  virtual bool SetLineSettings(PortHandle port, const LineSettings& settings) = 0;
  // Reports and clears the line-error mask and fills in the bytes waiting.
  virtual bool ClearErrors(PortHandle port, std::uint32_t& errors, ComStat& stat) = 0;
  // Transfer at most one byte without waiting; `transferred` says how many moved.
  virtual bool ReadByte(PortHandle port, std::uint8_t& value, std::uint32_t& transferred) = 0;
  virtual bool WriteByte(PortHandle port, std::uint8_t value, std::uint32_t& transferred) = 0;
  // Wait until a byte can be read (or written), at most `timeoutMs`. A line that is hung up
  // waits out the time limit rather than returning at once, so callers never spin.
  virtual WaitResult WaitReadable(PortHandle port, std::uint32_t timeoutMs) = 0;
  virtual WaitResult WaitWritable(PortHandle port, std::uint32_t timeoutMs) = 0;
  virtual void Close(PortHandle port) = 0;
};

}  // namespace updater
