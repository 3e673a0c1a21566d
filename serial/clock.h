#pragma once

#include <cstdint>

#include "model/tick_source.h"

namespace updater {

// The longest a single wait lasts before the waiting code pumps again.
inline constexpr std::uint32_t kWaitSliceMs = 20;

// A pump hook's answer as a wait slice: at most kWaitSliceMs, at least 1 ms.
inline std::uint32_t WaitSliceWithin(std::uint32_t ms) {
  if (ms < 1)
    return 1;
  return ms < kWaitSliceMs ? ms : kWaitSliceMs;
}

// When the pump hook asked to run next, counted from when it asked: what runs between that and
// the next wait does not push the pump back. Every clock with a hook keeps one.
class PumpSchedule {
 public:
  // `ms` as a hook returns it (kPumpWhenever: no time asked for).
  void Ask(std::uint32_t ms, std::uint32_t now) {
    due_ = ms != kPumpWhenever;
    dueAt_ = now + ms;
  }
  void Forget() { due_ = false; }
  // The next wait slice: the time left until the pump asked for, or kWaitSliceMs.
  std::uint32_t SliceMs(std::uint32_t now) const {
    if (!due_)
      return kWaitSliceMs;
    const auto left = static_cast<std::int32_t>(dueAt_ - now);
    return WaitSliceWithin(left > 0 ? static_cast<std::uint32_t>(left) : 0);
  }

 private:
  bool due_ = false;
  std::uint32_t dueAt_ = 0;  // in TickCount's milliseconds, when due_
};

// A millisecond tick count that wraps at 2^32 (differences are taken unsigned) and a sleep.
class Clock : public TickSource {
 public:
  // Sleeps `ms` milliseconds. A clock with a pump hook sleeps in short slices and runs the hook
  // between them, so that a window keeps painting.
  virtual void Sleep(std::uint32_t ms) = 0;
  // Called by waiting code between its wait slices (at least every WaitSliceMs()).
  virtual void Pump() {}
  // The longest the next wait slice lasts: kWaitSliceMs, or less when the last pump asked to run
  // again sooner. Never 0.
  virtual std::uint32_t WaitSliceMs() { return kWaitSliceMs; }
  // Whether the run should stop now (the command line's Ctrl-C). Waiting code asks after each
  // pump; the window's clock never says so.
  virtual bool Interrupted() { return false; }
};

// The machine's own clock (one source file per platform).
class SystemClock final : public Clock, public PumpingClock {
 public:
  std::uint32_t TickCount() override;
  void Sleep(std::uint32_t ms) override;
  void Pump() override {
    if (hook_ != nullptr)
      PumpWithin(hook_(context_));
  }
  std::uint32_t WaitSliceMs() override { return schedule_.SliceMs(TickCount()); }
  void SetPumpHook(PumpHook hook, void* context) override {
    hook_ = hook;
    context_ = context;
    schedule_.Forget();
  }
  void PumpWithin(std::uint32_t ms) override { schedule_.Ask(ms, TickCount()); }

 private:
  PumpHook hook_ = nullptr;
  void* context_ = nullptr;
  PumpSchedule schedule_;
};

}  // namespace updater
