#include "support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace updater::test {

namespace {

volatile sig_atomic_t g_interrupts = 0;

void OnAlarm(int) {
  g_interrupts = g_interrupts + 1;
}

std::int64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

PtyPair::PtyPair() {
  char name[sizeof slavePath_] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    master_ = slave_ = -1;
    return;
  }
  std::snprintf(slavePath_, sizeof slavePath_, "%s", name);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair() {
  CloseSlave();
  CloseMaster();
}

bool PtyPair::SetSlaveTermios(const termios& t) {
  return slave_ >= 0 && tcsetattr(slave_, TCSANOW, &t) == 0;
}

bool PtyPair::GetSlaveTermios(termios& t) const {
  return slave_ >= 0 && tcgetattr(slave_, &t) == 0;
}

termios PtyPair::Cooked(const termios& base) {
  termios t = base;
  t.c_iflag |= ICRNL | INLCR | IXON | IXOFF | IXANY | PARMRK | ISTRIP | BRKINT | INPCK;
  t.c_iflag &= ~static_cast<tcflag_t>(IGNCR);  // IGNCR would hide what ICRNL does
  t.c_oflag |= OPOST | ONLCR;
  t.c_lflag |= ICANON | ECHO | ECHOE | ECHOK | ECHOCTL | ECHOKE | ISIG | IEXTEN;
  t.c_cflag |= CSTOPB | CRTSCTS | CREAD;
  t.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 5;
  return t;
}

bool PtyPair::MakeSlaveCooked() {
  termios t{};
  return GetSlaveTermios(t) && SetSlaveTermios(Cooked(t));
}

bool PtyPair::WriteMaster(const std::uint8_t* data, std::size_t n, int timeoutMs) {
  const std::int64_t end = NowMs() + timeoutMs;
  std::size_t done = 0;
  while (master_ >= 0 && done < n) {
    const ssize_t w = write(master_, data + done, n - done);
    if (w > 0) {
      done += static_cast<std::size_t>(w);
      continue;
    }
    if (w < 0 && errno != EAGAIN && errno != EINTR)
      return false;
    const std::int64_t left = end - NowMs();
    if (left <= 0)
      return false;
    pollfd p{master_, POLLOUT, 0};
    poll(&p, 1, static_cast<int>(left));
  }
  return done == n;
}

std::size_t PtyPair::ReadMaster(std::uint8_t* out, std::size_t n, int timeoutMs) {
  const std::int64_t end = NowMs() + timeoutMs;
  std::size_t done = 0;
  while (master_ >= 0 && done < n) {
    const ssize_t r = read(master_, out + done, n - done);
    if (r > 0) {
      done += static_cast<std::size_t>(r);
      continue;
    }
    if (r < 0 && errno != EAGAIN && errno != EINTR)
      break;
    const std::int64_t left = end - NowMs();
    if (left <= 0)
      break;
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) > 0 && (p.revents & POLLIN) == 0)
      break;
  }
  return done;
}

std::size_t PtyPair::WaitSlaveQueue(std::size_t n, int timeoutMs) {
  const std::int64_t end = NowMs() + timeoutMs;
  int count = 0;
  while (slave_ >= 0) {
    if (ioctl(slave_, FIONREAD, &count) != 0)
      return 0;
    if (static_cast<std::size_t>(count) >= n || NowMs() >= end)
      break;
    poll(nullptr, 0, 1);  // the kernel hands the master's bytes over within microseconds
  }
  return count < 0 ? 0 : static_cast<std::size_t>(count);
}

void PtyPair::CloseMaster() {
  if (master_ >= 0)
    close(master_);
  master_ = -1;
}

void PtyPair::CloseSlave() {
  if (slave_ >= 0)
    close(slave_);
  slave_ = -1;
}

ScopedInterrupts::ScopedInterrupts(int periodMs) {
  struct sigaction sa {};
  sa.sa_handler = OnAlarm;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  sigaction(SIGALRM, &sa, nullptr);
  itimerval tv{};
  tv.it_interval.tv_sec = periodMs / 1000;
  tv.it_interval.tv_usec = (periodMs % 1000) * 1000;
  tv.it_value = tv.it_interval;
  setitimer(ITIMER_REAL, &tv, nullptr);
}

ScopedInterrupts::~ScopedInterrupts() {
  itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  signal(SIGALRM, SIG_DFL);
}

int ScopedInterrupts::count() {
  return g_interrupts;
}

}  // namespace updater::test
