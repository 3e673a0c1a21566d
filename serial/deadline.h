#pragma once

#include <cstdint>

namespace updater {

// A time limit measured on a wrapping 32-bit millisecond tick count. Differences are unsigned, so
// a wrap of the counter neither ends a wait early nor makes it last longer.
class Deadline {
 public:
  Deadline(std::uint32_t startTick, std::uint32_t limitMs) : start_(startTick), limit_(limitMs) {}

  std::uint32_t Elapsed(std::uint32_t now) const { return now - start_; }
  bool Expired(std::uint32_t now) const { return Elapsed(now) >= limit_; }
  std::uint32_t Remaining(std::uint32_t now) const {
    const std::uint32_t elapsed = Elapsed(now);
    return elapsed >= limit_ ? 0 : limit_ - elapsed;
  }
  // The next wait: the remaining time, but never more than one slice.
  std::uint32_t NextWait(std::uint32_t now, std::uint32_t sliceMs) const {
    const std::uint32_t remaining = Remaining(now);
    return remaining < sliceMs ? remaining : sliceMs;
  }

 private:
  std::uint32_t start_;
  std::uint32_t limit_;
};

}  // namespace updater
