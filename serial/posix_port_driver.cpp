#include "serial/posix_port_driver.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "serial/com_name.h"
#include "serial/posix_line_settings.h"
#include "serial/posix_monotonic.h"

namespace updater {

namespace {

using posix::kNsPerMs;

// n-1 for "COMn"; -1 for any other name.
int PortIndex(const char* name) {
  return ComNumber(name) - 1;
}

OpenFailure FailureOfOpen(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return OpenFailure::kAbsent;
    case EACCES:
    case EPERM:
    case EROFS:
      return OpenFailure::kPermissionDenied;
    case EBUSY:
      return OpenFailure::kBusy;
    case EISDIR:
    case ENOTDIR:
      return OpenFailure::kNotSerialPort;
    default:
      return OpenFailure::kOther;
  }
}

PortHandle Fail(OpenError& error, OpenFailure failure, int systemError) {
  error.failure = failure;
  error.systemError = systemError;
  return kInvalidPort;
}

int ToFd(PortHandle port) {
  return port < 0 || port > INT_MAX ? -1 : static_cast<int>(port);
}

bool BytesWaiting(int fd, int& count) {
  count = 0;
  if (ioctl(fd, FIONREAD, &count) != 0)
    return false;
  if (count < 0)
    count = 0;
  return true;
}

// Modem-line calls a pseudo-terminal does not support are not errors.
bool ModemLineCall(int fd, unsigned long request, int bits) {
  if (ioctl(fd, request, &bits) == 0)
    return true;
  return errno == ENOTTY || errno == EINVAL;
}

// A line that is hung up keeps reporting itself ready; waiting out the limit instead of returning
// at once keeps a caller's retry loop from spinning.
WaitResult WaitFor(PortHandle port, short events, std::uint32_t timeoutMs) {
  const std::int64_t deadline =
      posix::MonotonicNowNs() + static_cast<std::int64_t>(timeoutMs) * kNsPerMs;
  const int fd = ToFd(port);
  while (fd >= 0) {
    const std::int64_t remaining = deadline - posix::MonotonicNowNs();
    std::int64_t waitMs = remaining <= 0 ? 0 : (remaining + kNsPerMs - 1) / kNsPerMs;
    if (waitMs > INT_MAX)
      waitMs = INT_MAX;
    pollfd p{fd, events, 0};
    const int rc = poll(&p, 1, static_cast<int>(waitMs));
    if (rc < 0) {
      if (errno == EINTR)
        continue;
      break;
    }
    if (rc == 0) {
      if (posix::MonotonicNowNs() >= deadline)
        return WaitResult::kTimedOut;
      continue;
    }
    const bool broken = (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    if (!broken && (p.revents & events) != 0)
      return WaitResult::kReady;
    // Bytes that arrived before a hang-up can still be read.
    int count = 0;
    if ((events & POLLIN) != 0 && (p.revents & POLLNVAL) == 0 && BytesWaiting(fd, count) &&
        count > 0) {
      return WaitResult::kReady;
    }
    break;
  }
  posix::SleepUntilNs(deadline);
  return WaitResult::kError;
}

}  // namespace

PortHandle PosixPortDriver::Open(const char* name, OpenError& error) {
  error = OpenError{};
  const int index = PortIndex(name);
  if (index < 0)
    return Fail(error, OpenFailure::kAbsent, 0);
  char resolved[PATH_MAX];
  const char* path = nullptr;
  if (injected_) {
    if (index < static_cast<int>(paths_.size()))
      path = paths_[static_cast<std::size_t>(index)];
  } else if (ResolvePortPath(index, devDir_, *source_, resolved, sizeof resolved)) {
    path = resolved;
  }
  if (path == nullptr)
    return Fail(error, OpenFailure::kAbsent, 0);
  const std::size_t length = std::min(std::strlen(path), sizeof error.path - 1);
  std::memcpy(error.path, path, length);  // cut to fit: the path is only shown
  error.path[length] = '\0';

  // Non-blocking, so that a line without carrier neither holds up the open nor any transfer.
  int fd = -1;
  do {
    fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int code = errno;
    return Fail(error, FailureOfOpen(code), code);
  }
  if (isatty(fd) != 1) {
    close(fd);
    return Fail(error, OpenFailure::kNotSerialPort, ENOTTY);
  }
  // The lock is taken before TIOCEXCL: a refused second opener must not touch the flag that
  // belongs to the first one.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int code = errno;
    close(fd);
    return Fail(error, code == EWOULDBLOCK ? OpenFailure::kBusy : OpenFailure::kOther, code);
  }
  if (ioctl(fd, TIOCEXCL) != 0) {
    const int code = errno;
    flock(fd, LOCK_UN);
    close(fd);
    return Fail(error, OpenFailure::kOther, code);
  }
  return fd;
}

bool PosixPortDriver::GetLineSettings(PortHandle port, LineSettings& settings) {
  const int fd = ToFd(port);
  termios t{};
  if (fd < 0 || tcgetattr(fd, &t) != 0)
    return false;
  settings = ReadLineSettings(t);
  int bits = 0;
  if (settings.rtsControl == 1 && ioctl(fd, TIOCMGET, &bits) == 0 && (bits & TIOCM_RTS) == 0) {
    settings.rtsControl = 0;
  }
  return true;
}

bool PosixPortDriver::SetLineSettings(PortHandle port, const LineSettings& settings) {
  const int fd = ToFd(port);
  termios found{};
  if (fd < 0 || tcgetattr(fd, &found) != 0)
    return false;
  const termios wanted = ApplyLineSettings(found, settings);
  if (tcsetattr(fd, TCSANOW, &wanted) != 0)
    return false;

  // tcsetattr succeeds when any part took. A pseudo-terminal forces CS8 and no parity and ignores
  // the baud rate; only what the binary exchange depends on is checked.
  termios now{};
  if (tcgetattr(fd, &now) != 0)
    return false;
  if (settings.binary) {
    const tcflag_t line = CREAD | CLOCAL;
    if (!IsBinary(now) || (now.c_cflag & line) != line || now.c_cc[VMIN] != 1 ||
        now.c_cc[VTIME] != 0) {
      return false;
    }
  }

  if (settings.rtsControl == 0)
    return ModemLineCall(fd, TIOCMBIC, TIOCM_RTS);
  if (settings.rtsControl == 1)
    return ModemLineCall(fd, TIOCMBIS, TIOCM_RTS);
  return true;
}

bool PosixPortDriver::ClearErrors(PortHandle port, std::uint32_t& errors, ComStat& stat) {
  errors = 0;
  stat = ComStat{};
  const int fd = ToFd(port);
  int waiting = 0;
  if (fd < 0 || !BytesWaiting(fd, waiting))
    return false;
  stat.cbInQue = static_cast<std::uint32_t>(waiting);
  int unsent = 0;
  if (ioctl(fd, TIOCOUTQ, &unsent) == 0 && unsent > 0) {
    stat.cbOutQue = static_cast<std::uint32_t>(unsent);
  }
  return true;
}

bool PosixPortDriver::ReadByte(PortHandle port, std::uint8_t& value, std::uint32_t& transferred) {
  transferred = 0;
  const int fd = ToFd(port);
  if (fd < 0)
    return false;
  std::uint8_t byte = 0;
  ssize_t n = 0;
  do {
    n = read(fd, &byte, 1);
  } while (n < 0 && errno == EINTR);
  if (n == 1) {
    value = byte;
    transferred = 1;
    return true;
  }
  return n == 0 || errno == EAGAIN || errno == EWOULDBLOCK;
}

bool PosixPortDriver::WriteByte(PortHandle port, std::uint8_t value, std::uint32_t& transferred) {
  transferred = 0;
  const int fd = ToFd(port);
  if (fd < 0)
    return false;
  ssize_t n = 0;
  do {
    n = write(fd, &value, 1);
  } while (n < 0 && errno == EINTR);
  if (n == 1) {
    transferred = 1;
    return true;
  }
  return n == 0 || errno == EAGAIN || errno == EWOULDBLOCK;
}

WaitResult PosixPortDriver::WaitReadable(PortHandle port, std::uint32_t timeoutMs) {
  return WaitFor(port, POLLIN, timeoutMs);
}

WaitResult PosixPortDriver::WaitWritable(PortHandle port, std::uint32_t timeoutMs) {
  return WaitFor(port, POLLOUT, timeoutMs);
}

void PosixPortDriver::Close(PortHandle port) {
  const int fd = ToFd(port);
  if (fd < 0)
    return;
  ioctl(fd, TIOCNXCL);
  flock(fd, LOCK_UN);
  close(fd);
}

}  // namespace updater
