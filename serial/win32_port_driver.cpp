#include "serial/win32_port_driver.h"

#include <windows.h>

#include "serial/clock.h"
#include "serial/com_name.h"
#include "serial/win32_line_settings.h"

namespace updater {

namespace {

// Only the upper-case form is taken, as the program names its ports.
bool IsPortName(const char* name) {
  return ComNumber(name) != 0;
}

HANDLE ToHandle(PortHandle port) {
  return port == kInvalidPort ? nullptr : reinterpret_cast<HANDLE>(port);
}

bool GetState(HANDLE h, DCB& dcb) {
  dcb = DCB{};
  dcb.DCBlength = sizeof dcb;
  return h != nullptr && GetCommState(h, &dcb) != FALSE;
}

bool QueryStatus(HANDLE h, DWORD& errors, COMSTAT& stat) {
  errors = 0;
  stat = COMSTAT{};
  return h != nullptr && ClearCommError(h, &errors, &stat) != FALSE;
}

// What a failed CreateFile says about the port. Windows refuses a port that another program
// holds with "access denied".
OpenFailure FailureOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return OpenFailure::kAbsent;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return OpenFailure::kBusy;
    default:
      return OpenFailure::kOther;
  }
}

// A port whose serial calls fail (an unplugged adapter: ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND,
// ERROR_DEVICE_REMOVED, ERROR_GEN_FAILURE; a handle gone: ERROR_INVALID_HANDLE) will pass nothing
// more: the wait says so at once rather than sit out its time.
constexpr WaitResult kLost = WaitResult::kLineLost;

// ERROR_OPERATION_ABORTED is a line error (framing, overrun) that ClearCommError clears on a port
// that is still there, and what a transfer gets when its device is pulled out: the port tells.
bool AbortedByLineError(HANDLE h, DWORD code) {
  DWORD errors = 0;
  COMSTAT status{};
  return code == ERROR_OPERATION_ABORTED && QueryStatus(h, errors, status);
}

}  // namespace

Win32PortDriver::Port* Win32PortDriver::Slot(const void* handle) {
  for (Port& p : ports_) {
    if (p.handle == handle)
      return &p;
  }
  return nullptr;
}

Win32PortDriver::Port* Win32PortDriver::Find(PortHandle port) {
  HANDLE h = ToHandle(port);
  return h == nullptr ? nullptr : Slot(h);
}

PortHandle Win32PortDriver::Open(const char* name, OpenError& error) {
  error = OpenError{};
  if (!IsPortName(name)) {
    error.failure = OpenFailure::kAbsent;
    return kInvalidPort;
  }
  // The device namespace: CreateFile takes "COM10" and above only in this form.
  char path[16] = "\\\\.\\";
  lstrcpynA(path + 4, name, static_cast<int>(sizeof path - 4));
  lstrcpynA(error.path, path, static_cast<int>(sizeof error.path));
  Port* slot = Slot(nullptr);
  if (slot == nullptr) {
    error.failure = OpenFailure::kOther;
    error.systemError = ERROR_TOO_MANY_OPEN_FILES;
    return kInvalidPort;
  }
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    error.failure = FailureOf(code);
    error.systemError = static_cast<int>(code);
    return kInvalidPort;
  }
  // Only a serial device has a control block; anything else under the name is no port.
  DCB dcb;
  if (!GetState(h, dcb)) {
    error.failure = OpenFailure::kNotSerialPort;
    error.systemError = static_cast<int>(GetLastError());
    CloseHandle(h);
    return kInvalidPort;
  }
  // The waits rely on the read time-outs; a port that does not take them is not used.
  COMMTIMEOUTS timeouts{};
  if (!GetCommTimeouts(h, &timeouts)) {
    error.failure = OpenFailure::kOther;
    error.systemError = static_cast<int>(GetLastError());
    CloseHandle(h);
    return kInvalidPort;
  }
  win32::SetReadWait(timeouts, kWaitSliceMs);
  win32::BoundWriteTimeouts(timeouts);
  if (!SetCommTimeouts(h, &timeouts)) {
    error.failure = OpenFailure::kOther;
    error.systemError = static_cast<int>(GetLastError());
    CloseHandle(h);
    return kInvalidPort;
  }
  *slot = Port{};
  slot->handle = h;
  slot->readWaitMs = kWaitSliceMs;
  return reinterpret_cast<PortHandle>(h);
}

bool Win32PortDriver::GetLineSettings(PortHandle port, LineSettings& settings) {
  DCB dcb;
  if (!GetState(ToHandle(port), dcb))
    return false;
  settings = win32::ReadLineSettings(dcb);
  return true;
}

bool Win32PortDriver::SetLineSettings(PortHandle port, const LineSettings& settings) {
  HANDLE h = ToHandle(port);
  DCB found;
  if (!GetState(h, found))
    return false;
  DCB wanted = win32::ApplyLineSettings(found, settings);
  if (!SetCommState(h, &wanted))
    return false;
  // SetCommState can succeed with a value the device did not take: read back what the binary
  // exchange depends on. RTS is left out: a port without modem lines (a pseudo-terminal under
  // Wine) reports it enabled whatever was set.
  DCB now;
  if (!GetState(h, now))
    return false;
  const LineSettings applied = win32::ReadLineSettings(now);
  return applied.baudRate == settings.baudRate && applied.byteSize == settings.byteSize &&
         applied.stopBits == settings.stopBits && applied.binary == settings.binary &&
         applied.parityCheck == settings.parityCheck;
}

bool Win32PortDriver::ClearErrors(PortHandle port, std::uint32_t& errors, ComStat& stat) {
  DWORD found = 0;
  COMSTAT status{};
  const bool ok = QueryStatus(ToHandle(port), found, status);
  errors = found;
  stat = ComStat{};
  stat.cbInQue = status.cbInQue;
  stat.cbOutQue = status.cbOutQue;
  // A byte that a wait has already taken from the queue is still waiting for the caller.
  const Port* p = Find(port);
  if (p != nullptr && p->hasEarlyByte)
    ++stat.cbInQue;
  return ok;
}

bool Win32PortDriver::ReadByte(PortHandle port, std::uint8_t& value, std::uint32_t& transferred) {
  transferred = 0;
  Port* p = Find(port);
  if (p == nullptr)
    return false;
  if (p->hasEarlyByte) {
    p->hasEarlyByte = false;
    value = p->earlyByte;
    transferred = 1;
    return true;
  }
  // ReadFile only when a byte waits: it would otherwise wait for the line up to a slice.
  HANDLE h = p->handle;
  DWORD errors = 0;
  COMSTAT status{};
  if (!QueryStatus(h, errors, status))
    return false;
  if (status.cbInQue == 0)
    return true;
  std::uint8_t byte = 0;
  DWORD read = 0;
  if (!ReadFile(h, &byte, 1, &read, nullptr))
    return false;
  if (read == 1) {
    value = byte;
    transferred = 1;
  }
  return true;
}

bool Win32PortDriver::WriteByte(PortHandle port, std::uint8_t value, std::uint32_t& transferred) {
  transferred = 0;
  Port* p = Find(port);
  if (p == nullptr)
    return false;
  DWORD written = 0;
  p->writeFailed = false;
  if (!WriteFile(p->handle, &value, 1, &written, nullptr)) {
    const DWORD code = GetLastError();
    // A line error aborts transfers until ClearCommError clears it (here); anything but that or
    // the line's not taking the byte in time is a port that is gone.
    p->writeFailed = code != ERROR_TIMEOUT && !AbortedByLineError(p->handle, code);
    return !p->writeFailed;
  }
  transferred = written;
  return true;
}

// The wait is a one-byte ReadFile under the read time-outs set at Open (interval and multiplier
// MAXDWORD, total constant the wait): it returns as soon as a byte arrives, or empty once the
// wait is over. A byte it takes is kept for the next ReadByte.
WaitResult Win32PortDriver::WaitReadable(PortHandle port, std::uint32_t timeoutMs) {
  Port* p = Find(port);
  if (p == nullptr)
    return kLost;
  if (p->hasEarlyByte)
    return WaitResult::kReady;
  HANDLE h = p->handle;
  DWORD errors = 0;
  COMSTAT status{};
  if (!QueryStatus(h, errors, status))
    return kLost;
  if (status.cbInQue > 0)
    return WaitResult::kReady;
  if (timeoutMs == 0)
    return WaitResult::kTimedOut;
  if (p->readWaitMs != timeoutMs) {
    COMMTIMEOUTS timeouts{};
    if (!GetCommTimeouts(h, &timeouts))
      return kLost;
    win32::SetReadWait(timeouts, timeoutMs);
    if (!SetCommTimeouts(h, &timeouts))
      return kLost;
    p->readWaitMs = timeoutMs;
  }
  std::uint8_t byte = 0;
  DWORD read = 0;
  if (!ReadFile(h, &byte, 1, &read, nullptr)) {
    // A line error during the wait is cleared by the look at the queue; anything else is a port
    // that is gone.
    return AbortedByLineError(h, GetLastError()) ? WaitResult::kTimedOut : kLost;
  }
  if (read == 0)
    return WaitResult::kTimedOut;
  p->earlyByte = byte;
  p->hasEarlyByte = true;
  return WaitResult::kReady;
}

// A synchronous WriteFile waits for the line itself, up to the port's write time-out, so there is
// nothing left to wait for here: a write can be tried again at once unless the port is gone or
// the last write failed for good.
WaitResult Win32PortDriver::WaitWritable(PortHandle port, std::uint32_t) {
  const Port* p = Find(port);
  DWORD errors = 0;
  COMSTAT status{};
  if (p == nullptr || p->writeFailed || !QueryStatus(p->handle, errors, status))
    return kLost;
  return WaitResult::kReady;
}

void Win32PortDriver::Close(PortHandle port) {
  HANDLE h = ToHandle(port);
  if (h == nullptr)
    return;
  if (Port* p = Find(port))
    *p = Port{};
  CloseHandle(h);
}

}  // namespace updater
