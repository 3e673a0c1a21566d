#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "serial/clock.h"

namespace fakes {

// The tests' clock. It logs the pauses asked for, counts pumps and runs a pump hook when one is
// set; where its ticks come from is chosen at construction:
// - Time::kFake: they move only when the code under test sleeps or waits on a fake port, or when
//   the test moves them, so tests never sleep;
// - Time::kRealSkippingPauses: the machine's elapsed time plus every pause asked for, without
//   pausing: waits on a real line last their real time, the fixed pauses of discovery and the
//   download cost nothing. Each pause pumps once, as the system clock does after its last slice.
class FakeClock : public updater::Clock {
 public:
  enum class Time { kFake, kRealSkippingPauses };
  static constexpr std::size_t kSleepLogSize = 512;

  explicit FakeClock(std::uint32_t start = 1000) : FakeClock(Time::kFake, start) {}
  explicit FakeClock(Time time, std::uint32_t start = 1000) : time_(time), offset_(start) {}

  std::uint32_t TickCount() override { return now(); }
  void Sleep(std::uint32_t ms) override {
    if (sleepCount_ < kSleepLogSize)
      sleeps_[sleepCount_] = ms;
    ++sleepCount_;
    totalSlept_ += ms;
    offset_ += ms;
    if (time_ == Time::kRealSkippingPauses)
      Pump();
  }
  void Pump() override {
    ++pumps_;
    if (hook_ != nullptr)
      schedule_.Ask(hook_(context_), now());
  }
  std::uint32_t WaitSliceMs() override { return schedule_.SliceMs(now()); }
  void SetPumpHook(updater::PumpHook hook, void* context) {
    hook_ = hook;
    context_ = context;
    schedule_.Forget();
  }

  // Moves the ticks without a pause (a fake port's wait, or the test's own setting).
  void Advance(std::uint32_t ms) { offset_ += ms; }
  void Set(std::uint32_t now) { offset_ = now - Elapsed(); }

  std::uint32_t now() const { return offset_ + Elapsed(); }
  std::size_t sleep_count() const { return sleepCount_; }
  std::uint32_t sleep_at(std::size_t i) const { return i < kSleepLogSize ? sleeps_[i] : 0; }
  std::uint64_t total_slept() const { return totalSlept_; }
  long pumps() const { return pumps_; }

 private:
  using Steady = std::chrono::steady_clock;

  // Real milliseconds since construction; none for a fake time.
  std::uint32_t Elapsed() const {
    if (time_ == Time::kFake)
      return 0;
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - started_).count());
  }

  Time time_;
  std::uint32_t offset_;
  Steady::time_point started_ = Steady::now();
  std::uint32_t sleeps_[kSleepLogSize] = {};
  std::size_t sleepCount_ = 0;
  std::uint64_t totalSlept_ = 0;
  long pumps_ = 0;
  updater::PumpHook hook_ = nullptr;
  void* context_ = nullptr;
  updater::PumpSchedule schedule_;
};

// Real time with the pauses skipped, as a type of its own for fixtures that hold their clock by
// type: loops of many runs whose subject is what they leave behind, and windows that should not
// sit through discovery's pauses. Time-outs still last their 5000 ms.
class SkippingClock final : public FakeClock {
 public:
  SkippingClock() : FakeClock(Time::kRealSkippingPauses) {}
};

}  // namespace fakes
