#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/protocol.h"

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
  found.baudRate = protocol::kBaud;
  found.byteSize = protocol::kDataBits;
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

// kLineLost: the port reported a hang-up, an error or that its device is gone. Nothing more will
// pass on that handle, so the wait says so at once instead of sitting out its time.
enum class WaitResult { kReady, kTimedOut, kLineLost };

// Why an open failed, so that the operator can be told what to do.
enum class OpenFailure : std::uint8_t {
  kNone,              // the port opened
  kAbsent,            // no device answers to the name (a dangling link included)
  kBusy,              // another program holds the port
  kPermissionDenied,  // the device is there but this user may not open it
  kNotSerialPort,     // the name leads to something that is no serial port
  kOther,             // anything else: systemError tells what
};

struct OpenError {
  static constexpr std::size_t kPathSize = 256;

  OpenFailure failure = OpenFailure::kNone;
  int systemError = 0;        // errno or GetLastError() of the failing call, 0 when none
  char path[kPathSize] = {};  // the device tried, cut to fit; empty when no device has the name
};

// One serial port driver per platform (POSIX termios, Win32, and a fake for tests). All calls are
// non-blocking except the two waits, which return after at most their time limit.
class PortDriver {
 public:
  virtual ~PortDriver() = default;

  // Opens a port by its COM name ("COM1" to "COM4" for the window) for reading and writing,
  // exclusively. kInvalidPort on any failure, with `error` saying why; on success `error` holds
  // kNone and the device's path.
  virtual PortHandle Open(const char* name, OpenError& error) = 0;
  // The same for callers that need no cause. A driver brings it in with `using PortDriver::Open`.
  PortHandle Open(const char* name) {
    OpenError ignored;
    return Open(name, ignored);
  }
  virtual bool GetLineSettings(PortHandle port, LineSettings& settings) = 0;
  virtual bool SetLineSettings(PortHandle port, const LineSettings& settings) = 0;
  // Reports and clears the line-error mask and fills in the bytes waiting.
  virtual bool ClearErrors(PortHandle port, std::uint32_t& errors, ComStat& stat) = 0;
  // Transfer at most one byte without waiting; `transferred` says how many moved.
  virtual bool ReadByte(PortHandle port, std::uint8_t& value, std::uint32_t& transferred) = 0;
  virtual bool WriteByte(PortHandle port, std::uint8_t value, std::uint32_t& transferred) = 0;
  // Wait until a byte can be read (or written), at most `timeoutMs`. A lost line returns
  // kLineLost at once; callers stop using the handle rather than retry on it.
  virtual WaitResult WaitReadable(PortHandle port, std::uint32_t timeoutMs) = 0;
  virtual WaitResult WaitWritable(PortHandle port, std::uint32_t timeoutMs) = 0;
  // The caller's next reads are `count` bytes that the device sends back to back, as fast as
  // the line carries them. A driver may then let them gather instead of waking for each one, as
  // long as no wait outlasts the time the last of them can arrive. The next write ends it.
  virtual void ExpectBytes(PortHandle port, std::uint32_t count) = 0;
  virtual void Close(PortHandle port) = 0;
};

}  // namespace updater
