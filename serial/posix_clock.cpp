#include <cstdint>

#include "serial/clock.h"
#include "serial/posix_monotonic.h"

namespace updater {

using posix::kNsPerMs;
using posix::MonotonicNowNs;
using posix::SleepUntilNs;

std::uint32_t SystemClock::TickCount() {
  // Truncation gives the wrapping 32-bit millisecond count.
  return static_cast<std::uint32_t>(MonotonicNowNs() / kNsPerMs);
}

void SystemClock::Sleep(std::uint32_t ms) {
  const std::int64_t deadline = MonotonicNowNs() + static_cast<std::int64_t>(ms) * kNsPerMs;
  if (hook_ == nullptr) {
    SleepUntilNs(deadline);
    return;
  }
  // Slices end on absolute times, so time spent in the hook does not lengthen the sleep.
  for (;;) {
    const std::int64_t now = MonotonicNowNs();
    if (now >= deadline)
      return;
    std::int64_t sliceEnd = now + static_cast<std::int64_t>(WaitSliceMs()) * kNsPerMs;
    if (sliceEnd > deadline)
      sliceEnd = deadline;
    SleepUntilNs(sliceEnd);
    // Also after the last slice: the caller's next wait may add a slice of its own before it
    // pumps, and the window would go that much longer without painting.
    Pump();
  }
}

}  // namespace updater
