#pragma once

#include <time.h>

#include <cerrno>
#include <cstdint>

namespace updater::posix {

// The monotonic clock in nanoseconds, and sleeping until a point on it, for the POSIX clock and
// driver and the device simulator alike.
inline constexpr std::int64_t kNsPerMs = 1000000;
inline constexpr std::int64_t kNsPerSecond = 1000 * kNsPerMs;

inline std::int64_t MonotonicNowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

// A point or a span in nanoseconds as a timespec; a negative one becomes zero, which the system
// calls take as "now" or "no wait" where a negative one would be an error.
inline timespec ToTimespec(std::int64_t ns) {
  if (ns < 0) {
    ns = 0;
  }
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / kNsPerSecond);
  ts.tv_nsec = static_cast<long>(ns % kNsPerSecond);
  return ts;
}

// Sleeps until `deadlineNs` on the monotonic clock; a signal does not end the sleep early.
inline void SleepUntilNs(std::int64_t deadlineNs) {
  const timespec ts = ToTimespec(deadlineNs);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

}  // namespace updater::posix
