#include <gtest/gtest.h>
#include <poll.h>
#include <time.h>

#include <chrono>
#include <cstdint>

#include "serial/clock.h"
#include "serial/posix_monotonic.h"
#include "support/pty_pair.h"

namespace updater {
namespace {

using Steady = std::chrono::steady_clock;

long long MsSince(Steady::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - t0).count();
}

TEST(SystemClock, TickCountIsTheMonotonicClockInMilliseconds) {
  SystemClock clock;
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const auto expected =
      static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u);
  const std::uint32_t tick = clock.TickCount();
  EXPECT_LT(static_cast<std::uint32_t>(tick - expected), 1000u);
}

TEST(SystemClock, SleepLastsThroughSignals) {
  SystemClock clock;
  test::ScopedInterrupts interrupts(10);
  const auto t0 = Steady::now();
  clock.Sleep(120);
  EXPECT_GE(MsSince(t0), 120);
}

std::uint32_t CountPump(void* context) {
  ++*static_cast<int*>(context);
  return updater::kPumpWhenever;
}

TEST(SystemClock, SleepWithAHookPumpsBetweenSlices) {
  SystemClock clock;
  int pumps = 0;
  clock.SetPumpHook(CountPump, &pumps);
  test::ScopedInterrupts interrupts(7);
  const auto t0 = Steady::now();
  clock.Sleep(5 * kWaitSliceMs);
  EXPECT_GE(MsSince(t0), 5 * kWaitSliceMs);
  EXPECT_GE(pumps, 4);

  pumps = 0;
  clock.Sleep(0);
  EXPECT_EQ(pumps, 0);
}

TEST(SystemClock, SleepShorterThanASlicePumpsAtItsEnd) {
  // A sleep is often followed at once by a wait for a byte; without a pump at the end of the
  // sleep the two together leave the window unpainted for longer than a slice.
  SystemClock clock;
  int pumps = 0;
  clock.SetPumpHook(CountPump, &pumps);
  clock.Sleep(kWaitSliceMs / 2);
  EXPECT_EQ(pumps, 1);
}

TEST(SystemClock, APumpAskedForIsDueFromWhenItWasAskedNotFromTheNextWait) {
  SystemClock clock;
  EXPECT_EQ(clock.WaitSliceMs(), kWaitSliceMs);
  clock.PumpWithin(15);
  const std::uint32_t asked = clock.TickCount();
  while (clock.TickCount() - asked < 10) {
  }
  // Work done since the request (a port opened, texts set) shortens the wait that follows.
  EXPECT_LE(clock.WaitSliceMs(), 5u);
  while (clock.TickCount() - asked < 20) {
  }
  EXPECT_EQ(clock.WaitSliceMs(), 1u);  // overdue: the next wait is the shortest there is
  clock.PumpWithin(kPumpWhenever);
  EXPECT_EQ(clock.WaitSliceMs(), kWaitSliceMs);
}

TEST(MonotonicTime, SpanBeforeNowIsNoWaitRatherThanAnError) {
  // Waits are computed as deadline minus now, which goes negative once the deadline has passed.
  const timespec none = posix::ToTimespec(-3 * posix::kNsPerMs);
  EXPECT_EQ(ppoll(nullptr, 0, &none, nullptr), 0);
  const timespec span = posix::ToTimespec(posix::kNsPerSecond + 2);
  EXPECT_EQ(span.tv_sec, 1);
  EXPECT_EQ(span.tv_nsec, 2);
}

}  // namespace
}  // namespace updater
