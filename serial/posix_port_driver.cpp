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

// About two bytes' time at 9600 baud: how long a wait lets a stream's next bytes gather, and how
// recent the last bytes must be for the line to count as streaming.
constexpr std::uint32_t kGatherMs = 2;
constexpr std::uint32_t kStreamingMs = 3;

// Modem-line calls a pseudo-terminal does not support are not errors.
bool ModemLineCall(int fd, unsigned long request, int bits) {
  if (ioctl(fd, request, &bits) == 0)
    return true;
  return errno == ENOTTY || errno == EINVAL;
}

// What a read or write error says: the line hung up (a pseudo-terminal's far end closed: EIO) or
// its device went away (a USB adapter pulled out: EIO, ENXIO, ENODEV).
bool LostLineError(int error) {
  return error == EIO || error == ENXIO || error == ENODEV;
}

// Whether poll reports the line hung up, failed or gone. A tty that was hung up (its adapter
// pulled out) also answers a read with 0 and every ioctl with EIO.
bool HungUp(int fd) {
  pollfd p{fd, POLLIN, 0};
  int rc = 0;
  do {
    rc = poll(&p, 1, 0);
  } while (rc < 0 && errno == EINTR);
  return rc < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// Waits for the line; a line that is hung up, failed or gone is reported at once: nothing more
// will pass on it. Bytes that arrived before a hang-up are still handed out first.
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
    int count = 0;
    if ((events & POLLIN) != 0 && (p.revents & POLLNVAL) == 0 && BytesWaiting(fd, count) &&
        count > 0) {
      return WaitResult::kReady;
    }
    break;
  }
  return WaitResult::kLineLost;
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
  if (fd == ahead_.port)
    Forget(kInvalidPort);
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
  if (fd < 0)
    return false;
  if (ReadsAhead(port)) {
    // Mid-stream the next bytes are gathered by the wait that follows; looking now would only
    // find the line empty.
    if (ahead_.count == 0 && Streaming())
      return true;
    if (!Fill(port))
      return false;
    stat.cbInQue = ahead_.count;
    return true;
  }
  int waiting = 0;
  if (!BytesWaiting(fd, waiting))
    return false;
  stat.cbInQue = static_cast<std::uint32_t>(waiting);
  return true;
}

bool PosixPortDriver::ReadByte(PortHandle port, std::uint8_t& value, std::uint32_t& transferred) {
  transferred = 0;
  const int fd = ToFd(port);
  if (fd < 0)
    return false;
  if (ReadsAhead(port)) {
    if (!Fill(port))
      return false;
    if (ahead_.count > 0) {
      value = ahead_.buffer[ahead_.head++];
      --ahead_.count;
      transferred = 1;
      if (ahead_.expected > 0)
        --ahead_.expected;
    }
    return true;
  }
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
  // A write moves the exchange on: what was expected back is the caller's to say again.
  if (port == ahead_.port)
    ahead_.expected = 0;
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
  if (ToFd(port) < 0 || !ReadsAhead(port))
    return WaitFor(port, POLLIN, timeoutMs);
  if (ahead_.count > 0)
    return WaitResult::kReady;
  if (ahead_.lost)
    return WaitResult::kLineLost;
  if (const std::uint32_t gather = GatherMs(timeoutMs); gather > 0) {
    GatherPause(gather);
  } else if (const WaitResult line = WaitFor(port, POLLIN, timeoutMs); line != WaitResult::kReady) {
    return line;
  }
  // Taken now: mid-stream the next look at the queue leaves it to this wait.
  Fill(port);
  if (ahead_.count > 0)
    return WaitResult::kReady;
  return ahead_.lost ? WaitResult::kLineLost : WaitResult::kTimedOut;
}

// Only while bytes stream in: a first byte after a silence ends the wait as it arrives. With no
// count said, only the last byte of a stream is taken later, by at most kGatherMs; with one, the
// bytes still to come cannot all be there before the line has carried all but the last of them,
// and the last one is not taken late at all.
std::uint32_t PosixPortDriver::GatherMs(std::uint32_t timeoutMs) {
  if (timeoutMs == 0 || !Streaming())
    return 0;
  if (ahead_.expected == 0 || ahead_.usPerByte == 0)
    return std::min(timeoutMs, kGatherMs);
  if (ahead_.expected == 1)
    return 0;
  const std::uint64_t carried = (ahead_.expected - 1) * std::uint64_t{ahead_.usPerByte} / 1000;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(timeoutMs, carried));
}

void PosixPortDriver::ExpectBytes(PortHandle port, std::uint32_t count) {
  const int fd = ToFd(port);
  if (fd < 0 || !ReadsAhead(port))
    return;
  ahead_.expected = count;
  // Start, eight data bits and a stop bit a byte: the device's framing.
  termios t{};
  const speed_t speed = tcgetattr(fd, &t) == 0 ? cfgetispeed(&t) : B0;
  const std::uint32_t baud = SpeedToBaud(speed);
  ahead_.usPerByte = baud == 0 ? 0 : 10'000'000 / baud;
}

WaitResult PosixPortDriver::WaitWritable(PortHandle port, std::uint32_t timeoutMs) {
  return WaitFor(port, POLLOUT, timeoutMs);
}

void PosixPortDriver::Close(PortHandle port) {
  const int fd = ToFd(port);
  if (fd < 0)
    return;
  // Bytes read ahead go with the line, as the system's queue does.
  if (port == ahead_.port)
    Forget(kInvalidPort);
  ioctl(fd, TIOCNXCL);
  flock(fd, LOCK_UN);
  close(fd);
}

bool PosixPortDriver::ReadsAhead(PortHandle port) {
  if (port == ahead_.port)
    return true;
  if (ahead_.count > 0)
    return false;
  Forget(port);
  return true;
}

void PosixPortDriver::Forget(PortHandle port) {
  ahead_.port = port;
  ahead_.head = 0;
  ahead_.count = 0;
  ahead_.arrived = false;
  ahead_.lost = false;
  ahead_.expected = 0;
}

bool PosixPortDriver::Fill(PortHandle port) {
  const int fd = ToFd(port);
  if (fd < 0)
    return false;
  if (ahead_.count > 0)
    return true;
  ahead_.head = 0;
  ssize_t n = 0;
  do {
    n = read(fd, ahead_.buffer, sizeof ahead_.buffer);
  } while (n < 0 && errno == EINTR);
  ahead_.count = n > 0 ? static_cast<std::uint32_t>(n) : 0;
  if (ahead_.count > 0) {
    NoteArrival();
    return true;
  }
  // A hung-up tty reads 0, and so does a live one whose termios ask for no byte (VMIN 0): poll
  // tells them apart.
  const int error = n < 0 ? errno : 0;
  if ((n == 0 && HungUp(fd)) || (n < 0 && LostLineError(error)))
    ahead_.lost = true;
  return n >= 0 || error != EBADF;
}

// The line is streaming while its last bytes came less than kStreamingMs ago.
bool PosixPortDriver::Streaming() {
  if (!ahead_.arrived)
    return false;
  if (gatherClock_ != nullptr)
    return gatherClock_->TickCount() - ahead_.lastArrivalTick < kStreamingMs;
  return posix::MonotonicNowNs() - ahead_.lastArrivalNs < kStreamingMs * kNsPerMs;
}

void PosixPortDriver::NoteArrival() {
  ahead_.arrived = true;
  if (gatherClock_ != nullptr)
    ahead_.lastArrivalTick = gatherClock_->TickCount();
  else
    ahead_.lastArrivalNs = posix::MonotonicNowNs();
}

void PosixPortDriver::GatherPause(std::uint32_t ms) {
  if (gatherClock_ != nullptr)
    gatherClock_->Sleep(ms);
  else
    posix::SleepUntilNs(posix::MonotonicNowNs() + static_cast<std::int64_t>(ms) * kNsPerMs);
}

}  // namespace updater
