#include "serial/posix_line_settings.h"

#include <cstddef>

namespace updater {

namespace {

struct BaudEntry {
  std::uint32_t baud;
  speed_t speed;
};

constexpr BaudEntry kBauds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000},
};

// Cooked-mode flags that alter or swallow bytes: IXON eats 0x11/0x13, ICRNL turns 0x0D into 0x0A,
// PARMRK doubles 0xFF, ISTRIP clears bit 7, ICANON holds input until a newline.
constexpr tcflag_t kCookedInput =
    INLCR | IGNCR | ICRNL | ISTRIP | PARMRK | IUCLC | BRKINT | IXON | IXOFF | IXANY;
constexpr tcflag_t kCookedLocal =
    ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOPRT | ECHOKE | ISIG | IEXTEN;

tcflag_t CharSize(std::uint8_t byteSize) {
  switch (byteSize) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    case 8:
      return CS8;
    default:
      return 0;
  }
}

}  // namespace

speed_t BaudToSpeed(std::uint32_t baud) {
  for (const BaudEntry& e : kBauds) {
    if (e.baud == baud)
      return e.speed;
  }
  return 0;
}

std::uint32_t SpeedToBaud(speed_t speed) {
  for (const BaudEntry& e : kBauds) {
    if (e.speed == speed)
      return e.baud;
  }
  return 0;
}

bool IsBinary(const termios& t) {
  return (t.c_iflag & kCookedInput) == 0 && (t.c_lflag & kCookedLocal) == 0 &&
         (t.c_oflag & OPOST) == 0;
}

termios ApplyLineSettings(const termios& found, const LineSettings& wanted) {
  termios t = found;

  const speed_t speed = BaudToSpeed(wanted.baudRate);
  if (speed != 0) {
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
  }

  const tcflag_t size = CharSize(wanted.byteSize);
  if (size != 0)
    t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | size;

  // termios has no 1.5 stop bits; CSTOPB gives 1.5 with 5-bit characters on most UARTs.
  if (wanted.stopBits == 0) {
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
  } else {
    t.c_cflag |= CSTOPB;
  }

  if (wanted.parityCheck) {
    t.c_iflag |= INPCK;
  } else {
    t.c_iflag &= ~static_cast<tcflag_t>(INPCK);
  }

  // Linux cannot drop RTS handshaking while keeping CTS output flow: both go with CRTSCTS.
  if (wanted.rtsControl == 2) {
    t.c_cflag |= CRTSCTS;
  } else {
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  }

  if (wanted.binary) {
    t.c_iflag &= ~kCookedInput;
    t.c_lflag &= ~kCookedLocal;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
  }
  return t;
}

LineSettings ReadLineSettings(const termios& t) {
  LineSettings s;
  s.baudRate = SpeedToBaud(cfgetospeed(&t));
  switch (t.c_cflag & CSIZE) {
    case CS5:
      s.byteSize = 5;
      break;
    case CS6:
      s.byteSize = 6;
      break;
    case CS7:
      s.byteSize = 7;
      break;
    default:
      s.byteSize = 8;
      break;
  }
  s.stopBits = (t.c_cflag & CSTOPB) != 0 ? 2 : 0;
  s.binary = IsBinary(t);
  s.parityCheck = (t.c_iflag & INPCK) != 0;
  s.rtsControl = (t.c_cflag & CRTSCTS) != 0 ? 2 : 1;
  if ((t.c_cflag & PARENB) == 0) {
    s.parity = 0;
  } else if ((t.c_cflag & CMSPAR) != 0) {
    s.parity = (t.c_cflag & PARODD) != 0 ? 3 : 4;
  } else {
    s.parity = (t.c_cflag & PARODD) != 0 ? 1 : 2;
  }
  return s;
}

}  // namespace updater
