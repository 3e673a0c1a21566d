// The POSIX driver's read-ahead over a pseudo-terminal: the gather timed by a fake clock, and a
// real-time stream read as the link reads it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "fakes/fake_clock.h"
#include "serial/posix_port_driver.h"
#include "support/pty_pair.h"

namespace updater {
namespace {

LineSettings Binary() {
  LineSettings s;
  s.baudRate = 9600;
  s.byteSize = 8;
  s.binary = true;
  return s;
}

PortHandle OpenBinary(PosixPortDriver& driver) {
  const PortHandle port = driver.Open("COM1");
  if (port != kInvalidPort && !driver.SetLineSettings(port, Binary())) {
    driver.Close(port);
    return kInvalidPort;
  }
  return port;
}

std::uint32_t Waiting(PosixPortDriver& driver, PortHandle port) {
  std::uint32_t errors = 0;
  ComStat stat;
  EXPECT_TRUE(driver.ClearErrors(port, errors, stat));
  return stat.cbInQue;
}

// The next byte the way the link takes it: the queue asked, then one byte.
bool TakeByte(PosixPortDriver& driver, PortHandle port, std::uint8_t& value) {
  if (Waiting(driver, port) == 0)
    return false;
  std::uint32_t moved = 0;
  return driver.ReadByte(port, value, moved) && moved == 1;
}

class ReadAheadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    port_ = OpenBinary(driver_);
    ASSERT_NE(port_, kInvalidPort);
  }
  void TearDown() override {
    if (port_ != kInvalidPort)
      driver_.Close(port_);
  }
  void Send(std::vector<std::uint8_t> bytes) {
    ASSERT_TRUE(pty_.WriteMaster(bytes.data(), bytes.size(), 1000));
    ASSERT_GE(pty_.WaitSlaveQueue(bytes.size(), 1000), bytes.size());
  }

  test::PtyPair pty_;
  fakes::FakeClock clock_;
  PosixPortDriver driver_{{pty_.slavePath(), nullptr, nullptr, nullptr}, &clock_};
  PortHandle port_ = kInvalidPort;
};

TEST_F(ReadAheadTest, BytesAreGatheredAndHandedOutOneByOne) {
  // A first byte after a silence is there at once: no gather pause.
  Send({0x10, 0x11, 0x12, 0x13});
  EXPECT_EQ(driver_.WaitReadable(port_, 5000), WaitResult::kReady);
  EXPECT_EQ(clock_.sleep_count(), 0u);
  EXPECT_EQ(Waiting(driver_, port_), 4u) << "taken in one read";
  for (std::uint8_t want = 0x10; want <= 0x13; ++want) {
    std::uint8_t got = 0;
    ASSERT_TRUE(TakeByte(driver_, port_, got));
    EXPECT_EQ(got, want);
    if (want < 0x13) {
      EXPECT_EQ(Waiting(driver_, port_), static_cast<std::uint32_t>(0x13 - want));
    }
  }
  std::uint8_t none = 0;
  std::uint32_t moved = 1;
  EXPECT_TRUE(driver_.ReadByte(port_, none, moved));
  EXPECT_EQ(moved, 0u) << "a byte handed out twice";

  // Mid-stream the wait lets the next bytes gather for 2 ms instead of waking for each.
  Send({0x20, 0x21});
  EXPECT_EQ(Waiting(driver_, port_), 0u) << "mid-stream the queue is left to the wait";
  EXPECT_EQ(driver_.WaitReadable(port_, 20), WaitResult::kReady);
  ASSERT_EQ(clock_.sleep_count(), 1u);
  EXPECT_EQ(clock_.sleep_at(0), 2u);
  std::uint8_t got = 0;
  ASSERT_TRUE(TakeByte(driver_, port_, got));
  EXPECT_EQ(got, 0x20);
  ASSERT_TRUE(TakeByte(driver_, port_, got));
  EXPECT_EQ(got, 0x21);

  // A gather that finds nothing times out; once the stream is over, waits are the line's again.
  EXPECT_EQ(driver_.WaitReadable(port_, 1), WaitResult::kTimedOut);
  EXPECT_EQ(clock_.sleep_at(1), 1u) << "the gather never outlasts the wait";
  clock_.Advance(10);
  Send({0x30});
  EXPECT_EQ(driver_.WaitReadable(port_, 5000), WaitResult::kReady);
  EXPECT_EQ(clock_.sleep_count(), 2u) << "a first byte after a silence waited for a gather";
  ASSERT_TRUE(TakeByte(driver_, port_, got));
  EXPECT_EQ(got, 0x30);
}

// A block's answer said to be coming: all but its last byte gather for as long as the line needs
// to carry them (1.04 ms a byte at 9600 baud), never longer than the wait; the last one is waited
// for on the line, and a write ends what was said.
TEST_F(ReadAheadTest, AnnouncedBytesGatherUntilTheLastIsDue) {
  driver_.ExpectBytes(port_, 6);
  Send({0x40});
  EXPECT_EQ(driver_.WaitReadable(port_, 5000), WaitResult::kReady);
  EXPECT_EQ(clock_.sleep_count(), 0u) << "a first byte after a silence waited for a gather";
  std::uint8_t got = 0;
  ASSERT_TRUE(TakeByte(driver_, port_, got));

  Send({0x41, 0x42});
  EXPECT_EQ(driver_.WaitReadable(port_, 20), WaitResult::kReady);
  ASSERT_EQ(clock_.sleep_count(), 1u);
  EXPECT_EQ(clock_.sleep_at(0), 4u) << "five to come: four bytes' time";
  ASSERT_TRUE(TakeByte(driver_, port_, got));
  ASSERT_TRUE(TakeByte(driver_, port_, got));
  EXPECT_EQ(got, 0x42);

  Send({0x43, 0x44});
  EXPECT_EQ(driver_.WaitReadable(port_, 1), WaitResult::kReady);
  EXPECT_EQ(clock_.sleep_at(1), 1u) << "the gather outlasted the wait";
  ASSERT_TRUE(TakeByte(driver_, port_, got));
  ASSERT_TRUE(TakeByte(driver_, port_, got));

  Send({0x45});
  EXPECT_EQ(driver_.WaitReadable(port_, 20), WaitResult::kReady);
  EXPECT_EQ(clock_.sleep_count(), 2u) << "the last byte was taken late";
  ASSERT_TRUE(TakeByte(driver_, port_, got));
  EXPECT_EQ(got, 0x45);

  driver_.ExpectBytes(port_, 130);
  clock_.Advance(10);
  Send({0x50});
  ASSERT_TRUE(TakeByte(driver_, port_, got));
  EXPECT_EQ(driver_.WaitReadable(port_, 16), WaitResult::kTimedOut);
  EXPECT_EQ(clock_.sleep_at(2), 16u) << "a long answer gathers for the whole wait";
  std::uint32_t moved = 0;
  ASSERT_TRUE(driver_.WriteByte(port_, 0x33, moved));
  Send({0x51});
  ASSERT_TRUE(TakeByte(driver_, port_, got));
  EXPECT_EQ(driver_.WaitReadable(port_, 16), WaitResult::kTimedOut);
  EXPECT_EQ(clock_.sleep_at(3), 2u) << "a write left the answer said";
}

TEST_F(ReadAheadTest, BytesReadAheadGoWithTheClosedLine) {
  Send({1, 2, 3, 4, 5});
  ASSERT_EQ(Waiting(driver_, port_), 5u);
  std::uint8_t got = 0;
  ASSERT_TRUE(TakeByte(driver_, port_, got));
  EXPECT_EQ(got, 1);
  driver_.Close(port_);
  port_ = OpenBinary(driver_);
  ASSERT_NE(port_, kInvalidPort);
  clock_.Advance(10);
  EXPECT_EQ(Waiting(driver_, port_), 0u) << "bytes of the closed line came back";
  Send({9});
  ASSERT_TRUE(TakeByte(driver_, port_, got));
  EXPECT_EQ(got, 9);
}

// A second port open at once reads past the first one's bytes without taking them.
TEST_F(ReadAheadTest, ASecondPortLeavesTheFirstOnesBytesInPlace) {
  test::PtyPair other;
  ASSERT_TRUE(other.ok());
  PosixPortDriver both({pty_.slavePath(), other.slavePath(), nullptr, nullptr}, &clock_);
  driver_.Close(port_);
  port_ = kInvalidPort;
  const PortHandle first = OpenBinary(both);
  const PortHandle second = both.Open("COM2");
  ASSERT_NE(first, kInvalidPort);
  ASSERT_NE(second, kInvalidPort);
  ASSERT_TRUE(both.SetLineSettings(second, Binary()));

  Send({0xA1, 0xA2});
  ASSERT_EQ(Waiting(both, first), 2u);
  const std::uint8_t b = 0xB1;
  ASSERT_TRUE(other.WriteMaster(&b, 1, 1000));
  ASSERT_EQ(other.WaitSlaveQueue(1, 1000), 1u);
  EXPECT_EQ(both.WaitReadable(second, 1000), WaitResult::kReady);
  std::uint8_t got = 0;
  ASSERT_TRUE(TakeByte(both, second, got));
  EXPECT_EQ(got, 0xB1);
  ASSERT_TRUE(TakeByte(both, first, got));
  EXPECT_EQ(got, 0xA1);
  ASSERT_TRUE(TakeByte(both, first, got));
  EXPECT_EQ(got, 0xA2);
  both.Close(second);
  both.Close(first);
}

// On the machine's own clock: a stream written in bursts, read as the link reads it (the queue,
// else a wait of at most one slice), arrives whole and in order; no byte is lost across a wait.
TEST(ReadAheadRealTime, NoByteIsLostAcrossTheWaits) {
  test::PtyPair pty;
  ASSERT_TRUE(pty.ok());
  PosixPortDriver driver({pty.slavePath(), nullptr, nullptr, nullptr});
  const PortHandle port = OpenBinary(driver);
  ASSERT_NE(port, kInvalidPort);

  std::vector<std::uint8_t> sent(3000);
  for (std::size_t i = 0; i < sent.size(); ++i)
    sent[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  std::thread device([&] {
    for (std::size_t i = 0; i < sent.size(); i += 37) {
      const std::size_t n = std::min<std::size_t>(37, sent.size() - i);
      pty.WriteMaster(sent.data() + i, n, 2000);
      if (i % 5 == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(4));  // a silence: pacing
    }
  });
  std::vector<std::uint8_t> got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (got.size() < sent.size() && std::chrono::steady_clock::now() < end) {
    std::uint8_t value = 0;
    if (TakeByte(driver, port, value))
      got.push_back(value);
    else
      driver.WaitReadable(port, kWaitSliceMs);
  }
  device.join();
  driver.Close(port);
  EXPECT_EQ(got, sent);
}

}  // namespace
}  // namespace updater
