#include <time.h>

#include <cerrno>
#include <cstdint>

#include "serial/clock.h"

namespace updater {

namespace {

constexpr std::int64_t kNsPerMs = 1000000;

std::int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 * kNsPerMs + ts.tv_nsec;
}

timespec ToTimespec(std::int64_t ns) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / (1000 * kNsPerMs));
  ts.tv_nsec = static_cast<long>(ns % (1000 * kNsPerMs));
  return ts;
}

}  // namespace

std::uint32_t SystemClock::TickCount() {
  // Truncation gives the wrapping 32-bit millisecond count.
  return static_cast<std::uint32_t>(NowNs() / kNsPerMs);
}

void SystemClock::Sleep(std::uint32_t ms) {
  if (hook_ == nullptr) {
    timespec left = ToTimespec(static_cast<std::int64_t>(ms) * kNsPerMs);
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
    return;
  }
  // Slices end on absolute times, so time spent in the hook does not lengthen the sleep.
  const std::int64_t deadline = NowNs() + static_cast<std::int64_t>(ms) * kNsPerMs;
  for (;;) {
    const std::int64_t now = NowNs();
    if (now >= deadline)
      return;
    std::int64_t sliceEnd = now + static_cast<std::int64_t>(kWaitSliceMs) * kNsPerMs;
    if (sliceEnd > deadline)
      sliceEnd = deadline;
    const timespec until = ToTimespec(sliceEnd);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
    // Also after the last slice: the caller's next wait may add a slice of its own before it
    // pumps, and the window would go that much longer without painting.
    Pump();
  }
}

}  // namespace updater
