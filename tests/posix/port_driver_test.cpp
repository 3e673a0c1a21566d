#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "serial/posix_line_settings.h"
#include "serial/posix_port_driver.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

namespace updater {
namespace {

using std::chrono::milliseconds;
using Steady = std::chrono::steady_clock;

long long MsSince(Steady::time_point t0) {
  return std::chrono::duration_cast<milliseconds>(Steady::now() - t0).count();
}

long long CpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

LineSettings Table() {
  LineSettings s;
  s.baudRate = 9600;
  s.byteSize = 8;
  s.binary = true;
  return s;
}

// The slave starts cooked, as a login would leave a tty, so that every test proves the driver
// makes the line binary.
class PosixPortDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    ASSERT_TRUE(pty_.MakeSlaveCooked());
  }
  void TearDown() override {
    if (port_ != kInvalidPort)
      driver_.Close(port_);
  }
  void OpenConfigured() {
    port_ = driver_.Open("COM1");
    ASSERT_NE(port_, kInvalidPort);
    ASSERT_TRUE(driver_.SetLineSettings(port_, Table()));
  }
  // Reads `n` bytes through the driver the way the link does: wait, then one byte at a time.
  std::size_t DriverRead(std::uint8_t* out, std::size_t n) {
    std::size_t got = 0;
    const auto t0 = Steady::now();
    while (got < n && MsSince(t0) < 5000) {
      if (driver_.WaitReadable(port_, 1000) != WaitResult::kReady)
        continue;
      std::uint32_t moved = 0;
      if (!driver_.ReadByte(port_, out[got], moved))
        break;
      got += moved;
    }
    return got;
  }

  test::PtyPair pty_;
  PosixPortDriver driver_{{pty_.slavePath(), nullptr, nullptr, nullptr}};
  PortHandle port_ = kInvalidPort;
};

TEST_F(PosixPortDriverTest, ConfiguringACookedLineMakesItBinary) {
  OpenConfigured();
  LineSettings now;
  ASSERT_TRUE(driver_.GetLineSettings(port_, now));
  EXPECT_TRUE(now.binary);
  EXPECT_EQ(now.byteSize, 8);
  EXPECT_EQ(now.stopBits, 0);
  EXPECT_FALSE(now.parityCheck);
  EXPECT_NE(now.rtsControl, 2);
  termios t{};
  ASSERT_TRUE(pty_.GetSlaveTermios(t));
  EXPECT_NE(t.c_cflag & CLOCAL, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 1);
}

TEST_F(PosixPortDriverTest, EveryByteValuePassesBothWaysUntouched) {
  OpenConfigured();
  std::uint8_t all[256];
  for (int i = 0; i < 256; ++i)
    all[i] = static_cast<std::uint8_t>(i);

  ASSERT_TRUE(pty_.WriteMaster(all, sizeof all, 2000));
  std::uint8_t in[256] = {};
  ASSERT_EQ(DriverRead(in, sizeof in), sizeof in);
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(in[i], all[i]) << "byte " << i;
  std::uint8_t extra = 0;
  std::uint32_t moved = 0;
  EXPECT_TRUE(driver_.ReadByte(port_, extra, moved));
  EXPECT_EQ(moved, 0u) << "0xFF doubled or a byte duplicated";

  for (std::uint8_t b : all) {
    ASSERT_EQ(driver_.WaitWritable(port_, 2000), WaitResult::kReady);
    ASSERT_TRUE(driver_.WriteByte(port_, b, moved));
    ASSERT_EQ(moved, 1u);
  }
  std::uint8_t out[257] = {};
  ASSERT_EQ(pty_.ReadMaster(out, 256, 5000), 256u);
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(out[i], all[i]) << "byte " << i;
  EXPECT_EQ(pty_.ReadMaster(out, 1, 100), 0u) << "echo or output translation";
}

TEST_F(PosixPortDriverTest, AWaitingByteIsReportedAndReadyAtOnce) {
  OpenConfigured();
  const std::uint8_t byte = 0x13;
  ASSERT_TRUE(pty_.WriteMaster(&byte, 1, 1000));
  std::uint32_t errors = 1;
  ComStat stat;
  const auto arrival = Steady::now();
  do {
    ASSERT_TRUE(driver_.ClearErrors(port_, errors, stat));
  } while (stat.cbInQue == 0 && MsSince(arrival) < 3000 && usleep(1000) == 0);
  ASSERT_EQ(stat.cbInQue, 1u);
  EXPECT_EQ(errors, 0u);

  const auto t0 = Steady::now();
  EXPECT_EQ(driver_.WaitReadable(port_, 5000), WaitResult::kReady);
  EXPECT_LT(MsSince(t0), 2000);
  std::uint8_t got = 0;
  std::uint32_t moved = 0;
  ASSERT_TRUE(driver_.ReadByte(port_, got, moved));
  EXPECT_EQ(moved, 1u);
  EXPECT_EQ(got, byte);
}

TEST_F(PosixPortDriverTest, WaitsLastTheirLimitThroughSignals) {
  OpenConfigured();
  test::ScopedInterrupts interrupts(15);
  const int before = test::ScopedInterrupts::count();
  const auto t0 = Steady::now();
  EXPECT_EQ(driver_.WaitReadable(port_, 200), WaitResult::kTimedOut);
  EXPECT_GE(MsSince(t0), 200);
  EXPECT_GT(test::ScopedInterrupts::count(), before);
}

// Root ignores TIOCEXCL, so the lock must hold on its own, also when the same device is reached
// through an administrator's symlink.
TEST_F(PosixPortDriverTest, PortIsExclusiveUntilClosed) {
  const support::TempDir temp;
  const std::string alias = temp.File("COM2");
  ASSERT_EQ(symlink(pty_.slavePath(), alias.c_str()), 0);
  PosixPortDriver driver({pty_.slavePath(), alias.c_str(), nullptr, nullptr});

  const PortHandle first = driver.Open("COM1");
  ASSERT_NE(first, kInvalidPort);
  EXPECT_EQ(driver.Open("COM1"), kInvalidPort);
  EXPECT_EQ(driver.Open("COM2"), kInvalidPort);
  driver.Close(first);
  const PortHandle again = driver.Open("COM2");
  EXPECT_NE(again, kInvalidPort);
  driver.Close(again);
}

TEST(PosixPortDriverOpen, AnythingButATerminalFailsQuickly) {
  const support::TempDir temp;
  const std::string d = temp.path();
  const std::string file = d + "/file", fifo = d + "/fifo", dangling = d + "/dangling";
  close(open(file.c_str(), O_CREAT | O_WRONLY, 0600));
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(symlink((d + "/gone").c_str(), dangling.c_str()), 0);

  PosixPortDriver some({"/nonexistent/tty", file.c_str(), d.c_str(), fifo.c_str()});
  PosixPortDriver others({"/dev/null", dangling.c_str(), nullptr, nullptr});
  const auto t0 = Steady::now();
  for (const char* name : {"COM1", "COM2", "COM3", "COM4"}) {
    EXPECT_EQ(some.Open(name), kInvalidPort) << name;
    EXPECT_EQ(others.Open(name), kInvalidPort) << name;
  }
  for (const char* name : {"COM0", "COM5", "com1", "COM1 ", "", "COM"}) {
    EXPECT_EQ(others.Open(name), kInvalidPort) << name;
  }
  EXPECT_EQ(others.Open(nullptr), kInvalidPort);
  EXPECT_LT(MsSince(t0), 3000);
}

// Closing the master hangs the slave up as a pulled USB adapter does (reads give 0, ioctls EIO,
// poll a hang-up): both waits say the line is lost at once, without spinning.
TEST_F(PosixPortDriverTest, HangUpMidTransferIsReportedAtOnce) {
  OpenConfigured();
  std::uint8_t half[64];
  for (std::uint8_t& b : half)
    b = 0x5A;
  ASSERT_TRUE(pty_.WriteMaster(half, sizeof half, 1000));
  std::uint8_t in[64];
  ASSERT_EQ(DriverRead(in, sizeof in), sizeof in);
  pty_.CloseMaster();

  std::uint8_t value = 0;
  std::uint32_t moved = 1;
  driver_.ReadByte(port_, value, moved);
  EXPECT_EQ(moved, 0u);

  const long long cpu0 = CpuMs();
  const auto t0 = Steady::now();
  EXPECT_EQ(driver_.WaitReadable(port_, 300), WaitResult::kLineLost);
  EXPECT_EQ(driver_.WaitReadable(port_, 300), WaitResult::kLineLost);
  EXPECT_EQ(driver_.WaitWritable(port_, 300), WaitResult::kLineLost);
  EXPECT_LT(MsSince(t0), 100) << "a wait on the lost line";
  EXPECT_LT(CpuMs() - cpu0, 100);

  moved = 1;
  driver_.WriteByte(port_, 0x55, moved);
  EXPECT_EQ(moved, 0u);
}

}  // namespace
}  // namespace updater
