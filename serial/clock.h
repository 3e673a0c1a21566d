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
  // The time left until the pump the hook asked for, counted from when it asked: what runs
  // between that and the next wait does not push the pump back.
  std::uint32_t WaitSliceMs() override {
    if (!pumpDue_)
      return kWaitSliceMs;
    const auto left = static_cast<std::int32_t>(pumpDueAt_ - TickCount());
    return WaitSliceWithin(left > 0 ? static_cast<std::uint32_t>(left) : 0);
  }
  void SetPumpHook(PumpHook hook, void* context) override {
    hook_ = hook;
    context_ = context;
    pumpDue_ = false;
  }
  void PumpWithin(std::uint32_t ms) override {
    pumpDue_ = ms != kPumpWhenever;
    if (pumpDue_)
      pumpDueAt_ = TickCount() + ms;
  }

 private:
  PumpHook hook_ = nullptr;
  void* context_ = nullptr;
  bool pumpDue_ = false;
  std::uint32_t pumpDueAt_ = 0;  // in TickCount's milliseconds, when pumpDue_
};

}  // namespace updater
