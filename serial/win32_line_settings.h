#pragma once

#include <windows.h>

#include "serial/port_driver.h"

namespace updater::win32 {

// The settings this program changes, as the port's device control block holds them.
inline LineSettings ReadLineSettings(const DCB& dcb) {
  LineSettings settings;
  settings.baudRate = dcb.BaudRate;
  settings.byteSize = dcb.ByteSize;
  settings.stopBits = dcb.StopBits;
  settings.binary = dcb.fBinary != 0;
  settings.parityCheck = dcb.fParity != 0;
  settings.rtsControl = static_cast<std::uint8_t>(dcb.fRtsControl);
  settings.parity = dcb.Parity;
  return settings;
}

// The block as found with exactly the six edits applied; the parity scheme, DTR, output flow
// control, XON/XOFF and the error and null-byte options stay as the port reported them.
inline DCB ApplyLineSettings(const DCB& found, const LineSettings& wanted) {
  DCB dcb = found;
  dcb.BaudRate = wanted.baudRate;
  dcb.ByteSize = wanted.byteSize;
  dcb.StopBits = wanted.stopBits;
  dcb.fBinary = wanted.binary ? 1u : 0u;
  dcb.fParity = wanted.parityCheck ? 1u : 0u;
  dcb.fRtsControl = wanted.rtsControl & 3u;
  return dcb;
}

// The bound given to a single WriteFile when the port has no write-total time-out: far above the
// 1 ms a byte takes at 9600 baud (or a USB adapter's latency), and short enough that a byte the
// line never takes is still dropped close to the 5000 ms limit of the caller's retries.
inline constexpr DWORD kWriteTimeoutBoundMs = 500;

// A port whose write-total time-outs are both zero lets WriteFile wait forever (a line held off by
// flow control would hang the program). Sets only the write-total fields, and only then; true
// when it changed them.
inline bool BoundWriteTimeouts(COMMTIMEOUTS& timeouts) {
  if (timeouts.WriteTotalTimeoutMultiplier != 0 || timeouts.WriteTotalTimeoutConstant != 0)
    return false;
  timeouts.WriteTotalTimeoutConstant = kWriteTimeoutBoundMs;
  return true;
}

// The read time-outs the driver's waits rely on: a one-byte ReadFile returns at once when a byte
// waits, else as soon as one arrives, else empty after `waitMs` (above 0; MAXDWORD would mean
// something else and is cut to one below).
inline void SetReadWait(COMMTIMEOUTS& timeouts, DWORD waitMs) {
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = waitMs < MAXDWORD ? waitMs : MAXDWORD - 1;
}

}  // namespace updater::win32
