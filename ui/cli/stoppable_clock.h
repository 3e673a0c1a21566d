#pragma once

#include <atomic>
#include <cstdint>

#include "serial/clock.h"

namespace updater::cli {

// The command line's clock: the machine's ticks, and pauses cut into slices so that a stop asked
// for (Ctrl-C sets `stop`) ends them within a slice. The core asks Interrupted() between its
// waits, and the run then ends with the port closed.
class StoppableClock final : public Clock {
 public:
  static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

  StoppableClock(Clock& base, const std::atomic<bool>& stop) : base_(base), stop_(stop) {}

  std::uint32_t TickCount() override { return base_.TickCount(); }
  void Sleep(std::uint32_t ms) override;
  void Pump() override { base_.Pump(); }
  std::uint32_t WaitSliceMs() override { return base_.WaitSliceMs(); }
  bool Interrupted() override { return stop_.load(std::memory_order_relaxed); }

 private:
  Clock& base_;
  const std::atomic<bool>& stop_;
};

}  // namespace updater::cli
