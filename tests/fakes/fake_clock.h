#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/clock.h"

namespace fakes {

// A clock that only moves when the code under test sleeps or waits, so tests never sleep.
class FakeClock final : public updater::Clock {
 public:
  static constexpr std::size_t kSleepLogSize = 512;

  explicit FakeClock(std::uint32_t start = 1000) : now_(start) {}

  std::uint32_t TickCount() override { return now_; }
  void Sleep(std::uint32_t ms) override {
    if (sleepCount_ < kSleepLogSize)
      sleeps_[sleepCount_] = ms;
    ++sleepCount_;
    totalSlept_ += ms;
    now_ += ms;
  }
  void Pump() override { ++pumps_; }

  void Advance(std::uint32_t ms) { now_ += ms; }
  void Set(std::uint32_t now) { now_ = now; }

  std::uint32_t now() const { return now_; }
  std::size_t sleep_count() const { return sleepCount_; }
  std::uint32_t sleep_at(std::size_t i) const { return i < kSleepLogSize ? sleeps_[i] : 0; }
  std::uint64_t total_slept() const { return totalSlept_; }
  long pumps() const { return pumps_; }

 private:
  std::uint32_t now_;
  std::uint32_t sleeps_[kSleepLogSize] = {};
  std::size_t sleepCount_ = 0;
  std::uint64_t totalSlept_ = 0;
  long pumps_ = 0;
};

}  // namespace fakes
