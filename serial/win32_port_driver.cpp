#include "serial/win32_port_driver.h"

#include <windows.h>

#include "serial/win32_line_settings.h"

namespace updater {

namespace {

bool IsPortName(const char* name) {
  return name != nullptr && name[0] == 'C' && name[1] == 'O' && name[2] == 'M' && name[3] >= '1' &&
         name[3] <= '4' && name[4] == '\0';
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

DWORD Elapsed(DWORD start) {
  return GetTickCount() - start;
}

// A port that no longer answers (an unplugged adapter) waits out the limit, so that the caller's
// retry loop does not spin.
WaitResult WaitOut(DWORD start, std::uint32_t timeoutMs) {
  const DWORD elapsed = Elapsed(start);
  if (elapsed < timeoutMs)
    ::Sleep(timeoutMs - elapsed);
  return WaitResult::kError;
}

// Sleeps one poll slice, never past the limit. False when the limit has passed.
bool SleepSlice(DWORD start, std::uint32_t timeoutMs) {
  const DWORD elapsed = Elapsed(start);
  if (elapsed >= timeoutMs)
    return false;
  const DWORD left = timeoutMs - elapsed;
  ::Sleep(left < Win32PortDriver::kPollMs ? left : Win32PortDriver::kPollMs);
  return true;
}

}  // namespace

PortHandle Win32PortDriver::Open(const char* name, OpenError& error) {
  error = OpenError{};
  if (!IsPortName(name)) {
    error.failure = OpenFailure::kAbsent;
    return kInvalidPort;
  }
  lstrcpynA(error.path, name, static_cast<int>(sizeof error.path));
  HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    error.systemError = static_cast<int>(code);
    error.failure = code == ERROR_FILE_NOT_FOUND ? OpenFailure::kAbsent : OpenFailure::kOther;
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
  COMMTIMEOUTS timeouts{};
  if (GetCommTimeouts(h, &timeouts) && win32::BoundWriteTimeouts(timeouts))
    SetCommTimeouts(h, &timeouts);
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
  return ok;
}

bool Win32PortDriver::ReadByte(PortHandle port, std::uint8_t& value, std::uint32_t& transferred) {
  transferred = 0;
  HANDLE h = ToHandle(port);
  // ReadFile only when a byte waits: with the port's read time-outs left as found (often none),
  // it would otherwise wait for the line.
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
  HANDLE h = ToHandle(port);
  if (h == nullptr)
    return false;
  DWORD written = 0;
  if (!WriteFile(h, &value, 1, &written, nullptr))
    return GetLastError() == ERROR_TIMEOUT;  // the line did not take it in time: try again
  transferred = written;
  return true;
}

WaitResult Win32PortDriver::WaitReadable(PortHandle port, std::uint32_t timeoutMs) {
  const DWORD start = GetTickCount();
  HANDLE h = ToHandle(port);
  for (;;) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!QueryStatus(h, errors, status))
      return WaitOut(start, timeoutMs);
    if (status.cbInQue > 0)
      return WaitResult::kReady;
    if (!SleepSlice(start, timeoutMs))
      return WaitResult::kTimedOut;
  }
}

// A synchronous WriteFile can always be tried again; this only follows a write that the line did
// not take, so it waits at least one slice (no spinning) and then for the output queue to drain.
WaitResult Win32PortDriver::WaitWritable(PortHandle port, std::uint32_t timeoutMs) {
  const DWORD start = GetTickCount();
  HANDLE h = ToHandle(port);
  for (;;) {
    const bool slept = SleepSlice(start, timeoutMs);
    DWORD errors = 0;
    COMSTAT status{};
    if (!QueryStatus(h, errors, status))
      return WaitOut(start, timeoutMs);
    if (status.cbOutQue == 0)
      return WaitResult::kReady;
    if (!slept)
      return WaitResult::kTimedOut;
  }
}

void Win32PortDriver::Close(PortHandle port) {
  HANDLE h = ToHandle(port);
  if (h != nullptr)
    CloseHandle(h);
}

}  // namespace updater
