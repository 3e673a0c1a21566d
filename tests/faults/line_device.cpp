#include "faults/line_device.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace faults {

LineDevice::LineDevice(Options options)
    : options_(std::move(options)), model_(options_.faults, *this) {}

LineDevice::~LineDevice() {
  stop_ = true;
  if (thread_.joinable())
    thread_.join();
  if (master_ >= 0)
    close(master_);
}

bool LineDevice::Start() {
  int slave = -1;
  if (openpty(&master_, &slave, path_, nullptr, nullptr) != 0)
    return false;
  termios raw{};
  tcgetattr(slave, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave, TCSANOW, &raw);
  // With no slave descriptor of ours, the host's close shows on the master as a hang-up.
  close(slave);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  thread_ = std::thread([this] { Serve(); });
  return true;
}

bool LineDevice::complete() {
  std::lock_guard<std::mutex> lock(mutex_);
  return complete_;
}

void LineDevice::Reply(const std::uint8_t* bytes, std::size_t count) {
  if (replies_ == options_.noiseBeforeReply)
    Send(options_.noise.data(), options_.noise.size());
  ++replies_;
  Send(bytes, count);
}

void LineDevice::Send(const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count && master_ >= 0; ++i) {
    if (options_.hangUpAfterDeviceBytes >= 0 && sent_ >= options_.hangUpAfterDeviceBytes) {
      // A hang-up discards what the host has not read yet; let it read what was sent, so that the
      // line drops at a known byte.
      WaitUntilHostHasRead();
      close(master_);
      master_ = -1;
      hungUp_ = true;
      return;
    }
    // The pseudo-terminal holds far more than one reply, so a short wait is only for a slow host.
    for (int tries = 0; tries < 1000; ++tries) {
      if (write(master_, &bytes[i], 1) == 1)
        break;
      pollfd p{master_, POLLOUT, 0};
      poll(&p, 1, 5);
    }
    ++sent_;
  }
}

void LineDevice::WaitUntilHostHasRead() {
  const int peer = ioctl(master_, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (peer < 0)
    return;
  for (int tries = 0; tries < 2000; ++tries) {
    pollfd p{peer, POLLIN, 0};
    if (poll(&p, 1, 0) == 0)
      break;
    timespec pause{0, 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  close(peer);
}

void LineDevice::FlushSlave() {
  // A real line's receive queue goes with the host's close; a pseudo-terminal keeps it, and the
  // host's TIOCEXCL, unless told otherwise.
  const int peer = ioctl(master_, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (peer >= 0) {
    tcflush(peer, TCIOFLUSH);
    ioctl(peer, TIOCNXCL);
    close(peer);
  }
  std::uint8_t discard[256];
  while (read(master_, discard, sizeof discard) > 0) {
  }
}

void LineDevice::Serve() {
  bool hostPresent = false;
  while (!stop_) {
    bool idle = true;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (master_ < 0)
        return;
      pollfd p{master_, POLLIN, 0};
      poll(&p, 1, 0);
      if ((p.revents & POLLIN) != 0) {
        hostPresent = true;
        idle = false;
        std::uint8_t value = 0;
        while (master_ >= 0 && read(master_, &value, 1) == 1) {
          model_.OnHostByte(value);
          complete_ = complete_ || model_.complete();
          if (model_.phase() == sim::DeviceModel::Phase::kDone && !afterEndSent_) {
            afterEndSent_ = true;
            Send(options_.noiseAfterEnd.data(), options_.noiseAfterEnd.size());
          }
        }
      } else if ((p.revents & POLLHUP) != 0) {
        if (hostPresent) {
          model_.LineClosed();
          FlushSlave();
        }
        hostPresent = false;
      }
    }
    if (idle) {
      // Not holding the lock, so complete() answers promptly; a short sleep, since the master
      // reports a hang-up at once while no host has the line open.
      timespec pause{0, 2 * 1000 * 1000};
      nanosleep(&pause, nullptr);
    }
  }
}

}  // namespace faults
