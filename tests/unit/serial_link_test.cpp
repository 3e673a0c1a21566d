#include <gtest/gtest.h>

#include "fakes/core_fixture.h"
#include "model/resource.h"
#include "serial/deadline.h"

namespace {

using fakes::CoreFixture;
using updater::Deadline;
using updater::SerialLink;

class SerialLinkTest : public CoreFixture {
 protected:
  SerialLink& link() { return core.m_link; }
  // Opens COM1 with nothing at the far end.
  void OpenSilentPort() {
    driver.port(0).present = true;
    ASSERT_EQ(link().OpenPort(0), 1);
  }
};

TEST(DeadlineTest, ExpiresAtTheLimitAlsoAcrossAWrap) {
  const Deadline deadline(0xFFFFF000u, 5000);
  EXPECT_FALSE(deadline.Expired(0xFFFFF000u + 4999u));  // wraps past zero on the way
  EXPECT_TRUE(deadline.Expired(0xFFFFF000u + 5000u));
  EXPECT_EQ(deadline.Remaining(0xFFFFF000u + 4990u), 10u);
  EXPECT_EQ(deadline.NextWait(0xFFFFF000u + 10u, 20), 20u);
  EXPECT_EQ(deadline.NextWait(0xFFFFF000u + 4995u, 20), 5u);
}

TEST_F(SerialLinkTest, OpeningAMissingPortFailsAfterAboutASecond) {
  const std::uint32_t start = clock.now();
  EXPECT_EQ(link().OpenPort(3), 0);
  EXPECT_EQ(clock.now() - start, 1000u);
  EXPECT_EQ(LogEntries(), (std::vector<std::string>{"Probando COM4 ...\n", "No abierto COM4\n"}));
  EXPECT_FALSE(link().IsOpen());
  link().ClosePort();  // the invalid handle is never handed to the driver
  EXPECT_EQ(driver.calls_on_closed_handles(), 0);
}

TEST_F(SerialLinkTest, PortHeldByAnotherProgramIsNotOpened) {
  driver.port(1).present = true;
  driver.port(1).busy = true;
  EXPECT_EQ(link().OpenPort(1), 0);
  EXPECT_EQ(LogEntries().back(), "No abierto COM2\n");
}

TEST_F(SerialLinkTest, OpenChangesOnlyTheSixLineSettings) {
  driver.port(2).present = true;
  driver.port(2).reported.parity = 2;  // even parity stays even
  ASSERT_EQ(link().OpenPort(2), 1);
  const updater::LineSettings& applied = driver.port(2).applied;
  EXPECT_EQ(applied.baudRate, 9600u);
  EXPECT_EQ(applied.byteSize, 8);
  EXPECT_EQ(applied.stopBits, 0);
  EXPECT_TRUE(applied.binary);
  EXPECT_FALSE(applied.parityCheck);
  EXPECT_EQ(applied.rtsControl, 0);
  EXPECT_EQ(applied.parity, 2);
  EXPECT_EQ(driver.port(2).settingsWritten, 1);
  EXPECT_EQ(LogEntries().back(), "COM3 abierto\n");
}

TEST_F(SerialLinkTest, ReadTimesOutAtExactlyFiveSecondsAcrossATickWrap) {
  OpenSilentPort();
  clock.Set(0xFFFFFFFFu - 1200u);
  const std::uint32_t start = clock.now();
  EXPECT_EQ(link().ReadByte(), 0xFF);
  EXPECT_EQ(clock.now() - start, 5000u);
  EXPECT_GT(clock.pumps(), 5000 / 50);  // the window is pumped while the wait lasts
}

TEST_F(SerialLinkTest, ByteArrivingJustBeforeTheLimitIsReturned) {
  OpenSilentPort();
  driver.port(0).Deliver('2', 4999);
  EXPECT_EQ(link().ReadByte(), '2');
}

TEST_F(SerialLinkTest, ByteArrivingJustAfterTheLimitIsTooLate) {
  OpenSilentPort();
  driver.port(0).Deliver('2', 5001);
  EXPECT_EQ(link().ReadByte(), 0xFF);
  EXPECT_EQ(link().ReadByte(), '2');  // and is the next read's byte
}

TEST_F(SerialLinkTest, WaitingByteIsReturnedAtOnce) {
  OpenSilentPort();
  driver.port(0).Deliver('7');
  const std::uint32_t start = clock.now();
  EXPECT_EQ(link().ReadByte(), '7');
  EXPECT_EQ(clock.now(), start);
  EXPECT_EQ(link().m_comStat.cbInQue, 1u);
}

TEST_F(SerialLinkTest, AReadPumpsBeforeEachWaitAndWaitsNoLongerThanThePumpAsks) {
  OpenSilentPort();
  struct Pumps {
    fakes::FakeClock* clock;
    std::vector<std::uint32_t> at;
  } pumps{&clock, {}};
  clock.SetPumpHook(
      [](void* context) {
        auto* p = static_cast<Pumps*>(context);
        p->at.push_back(p->clock->now());
        return std::uint32_t{3};
      },
      &pumps);
  const std::uint32_t start = clock.now();
  driver.port(0).Deliver('5', 10);
  EXPECT_EQ(link().ReadByte(), '5');
  // Returned as it came, with no pass of the window between its arrival and the return.
  EXPECT_EQ(clock.now() - start, 10u);
  ASSERT_EQ(pumps.at.size(), 4u);
  EXPECT_EQ(pumps.at.back() - start, 9u);
  clock.SetPumpHook(nullptr, nullptr);
}

TEST_F(SerialLinkTest, ReadsAreOnlyAttemptedWhenBytesWait) {
  OpenSilentPort();
  driver.port(0).Deliver('1', 300);
  EXPECT_EQ(link().ReadByte(), '1');
  EXPECT_EQ(link().ReadByte(), 0xFF);
  EXPECT_EQ(driver.port(0).readsWithNothingWaiting, 0);
}

TEST_F(SerialLinkTest, DeviceSending0xFFIsIndistinguishableFromATimeOut) {
  OpenSilentPort();
  driver.port(0).Deliver(0xFF);
  EXPECT_EQ(link().ReadByte(), 0xFF);
}

TEST_F(SerialLinkTest, WriteSendsTheLowEightBits) {
  OpenSilentPort();
  link().WriteByte(0x1C2);
  ASSERT_EQ(driver.port(0).host_byte_count(), 1u);
  EXPECT_EQ(driver.port(0).host_byte(0), 0xC2);
}

TEST_F(SerialLinkTest, WriteToALineThatTakesNothingGivesUpAfterFiveSeconds) {
  OpenSilentPort();
  driver.port(0).writeStalled = true;
  const std::uint32_t start = clock.now();
  link().WriteByte('0');
  EXPECT_EQ(clock.now() - start, 5000u);
  EXPECT_EQ(driver.port(0).host_byte_count(), 0u);
  EXPECT_EQ(LogEntries().back(), "COM1 abierto\n");  // dropped without a report
}

// A lost line is given up at once, and for the rest of that open: nothing more passes on it.
TEST_F(SerialLinkTest, LostLineEndsReadsAndWritesAtOnceUntilTheNextOpen) {
  OpenSilentPort();
  driver.port(0).hungUp = true;
  const std::uint32_t start = clock.now();
  EXPECT_EQ(link().ReadByte(), 0xFF);
  EXPECT_TRUE(link().line_lost());
  driver.port(0).hungUp = false;
  EXPECT_EQ(link().ReadByte(), 0xFF);
  link().WriteByte('0');
  EXPECT_TRUE(link().write_dropped());
  EXPECT_EQ(driver.port(0).host_byte_count(), 0u);
  EXPECT_EQ(clock.now(), start);
  link().ClosePort();
  OpenSilentPort();
  EXPECT_FALSE(link().line_lost());
}

TEST_F(SerialLinkTest, ClosingTwiceClosesOnce) {
  OpenSilentPort();
  link().ClosePort();
  link().ClosePort();
  EXPECT_EQ(driver.port(0).closes, 1);
  EXPECT_EQ(driver.calls_on_closed_handles(), 0);
}

}  // namespace
