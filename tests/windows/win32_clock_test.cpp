#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

#include "serial/clock.h"

namespace {

// GetTickCount, and the timer that ends a Sleep, advance in steps of about 16 ms: a sleep may end
// up to one step short, and a span read on the tick count may come out one step short too.
constexpr std::int64_t kTickStepMs = 16;

// Real time on the performance counter, which has no such step.
std::int64_t CounterMsSince(const LARGE_INTEGER& start) {
  LARGE_INTEGER now;
  LARGE_INTEGER frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return (now.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart;
}

struct PumpLog {
  updater::SystemClock* clock = nullptr;
  int calls = 0;
  std::uint32_t lastGapMs = 0;  // longest time between two pumps
  std::uint32_t lastTick = 0;
};

std::uint32_t CountPump(void* context) {
  auto* log = static_cast<PumpLog*>(context);
  const std::uint32_t now = log->clock->TickCount();
  if (log->calls > 0 && now - log->lastTick > log->lastGapMs)
    log->lastGapMs = now - log->lastTick;
  log->lastTick = now;
  ++log->calls;
  return updater::kPumpWhenever;
}

// Real time, so only lower bounds are tight; the upper ones are wide. The sleep counts its length
// on the same tick as the test reads, so the lower bound holds whatever the tick's step.
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
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  clock.Sleep(100);
  EXPECT_GE(CounterMsSince(start), 100 - kTickStepMs);
  clock.Pump();  // without a hook: nothing to run
}

}  // namespace
