#pragma once

#include <termios.h>

#include <cstdint>

#include "serial/port_driver.h"

namespace updater {

// The termios to apply for `wanted`, starting from what the port reported. Only the baud rate,
// character size, stop bits, input parity checking and RTS handshaking change, plus what a binary
// exchange needs on a Linux tty: no canonical mode, echo, signals, input or output translation or
// software flow control, the receiver on, modem control off, VMIN 1 and VTIME 0. The parity scheme
// (PARENB, PARODD, CMSPAR) and every other field stay as found. A value outside the known ones
// (an unusual baud rate, byte size 0) leaves that setting as found.
termios ApplyLineSettings(const termios& found, const LineSettings& wanted);

// The settings as the port reports them, in the driver interface's terms.
LineSettings ReadLineSettings(const termios& t);

// True when none of the cooked-mode flags that would corrupt a binary exchange is set.
bool IsBinary(const termios& t);

// Standard baud rates to and from their termios speed codes; 0 when not a standard rate.
speed_t BaudToSpeed(std::uint32_t baud);
std::uint32_t SpeedToBaud(speed_t speed);

}  // namespace updater
