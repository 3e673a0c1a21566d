#include <gtest/gtest.h>

#include "serial/clock.h"

namespace {

struct PumpLog {
  updater::SystemClock* clock = nullptr;
  int calls = 0;
  std::uint32_t lastGapMs = 0;  // longest time between two pumps
  std::uint32_t lastTick = 0;
};

void CountPump(void* context) {
  auto* log = static_cast<PumpLog*>(context);
  const std::uint32_t now = log->clock->TickCount();
  if (log->calls > 0 && now - log->lastTick > log->lastGapMs)
    log->lastGapMs = now - log->lastTick;
  log->lastTick = now;
  ++log->calls;
}

// Real time, so only lower bounds are tight; the upper ones are wide.
TEST(Win32SystemClock, SleepWithAHookPumpsBetweenSlicesAndLastsTheWholeTime) {
  updater::SystemClock clock;
  PumpLog log;
  log.clock = &clock;
  clock.SetPumpHook(CountPump, &log);
  const std::uint32_t start = clock.TickCount();
  clock.Sleep(200);
  const std::uint32_t elapsed = clock.TickCount() - start;
  EXPECT_GE(elapsed, 200u);
  EXPECT_LT(elapsed, 5000u);
  EXPECT_GE(log.calls, 200 / static_cast<int>(updater::kWaitSliceMs) / 2);
  EXPECT_LT(log.lastGapMs, 1000u);
}

TEST(Win32SystemClock, SleepShorterThanASlicePumpsAtItsEnd) {
  updater::SystemClock clock;
  PumpLog log;
  log.clock = &clock;
  clock.SetPumpHook(CountPump, &log);
  clock.Sleep(updater::kWaitSliceMs / 2);
  EXPECT_GE(log.calls, 1);
}

TEST(Win32SystemClock, SleepWithoutAHookStillSleeps) {
  updater::SystemClock clock;
  const std::uint32_t start = clock.TickCount();
  clock.Sleep(100);
  EXPECT_GE(clock.TickCount() - start, 90u);  // the tick's own granularity may round down once
  clock.Pump();                               // without a hook: nothing to run
}

}  // namespace
