#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fakes/fake_displays.h"
#include "model/reporter.h"
#include "serial/clock.h"
#include "serial/posix_port_driver.h"
#include "serial/serial_link.h"
#include "support/pty_pair.h"

namespace updater {
namespace {

using Steady = std::chrono::steady_clock;

long long MsSince(Steady::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - t0).count();
}

long long CpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The link over the real driver and clock on a cooked pseudo-terminal: bytes that a cooked tty
// would alter pass, and a hang-up ends a read at once: the line is lost.
TEST(SerialLinkOverPty, TransfersAndSurvivesAHangUp) {
  test::PtyPair pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_TRUE(pty.MakeSlaveCooked());
  auto displays = std::make_unique<fakes::FakeDisplays>();
  auto reporter = std::make_unique<Reporter>(*displays);
  PosixPortDriver driver({pty.slavePath(), nullptr, nullptr, nullptr});
  SystemClock clock;
  SerialLink link(driver, clock, *reporter);

  ASSERT_EQ(link.OpenPort(0), 1);
  EXPECT_NE(std::strstr(reporter->m_log, "Probando COM1 ...\n\r\nCOM1 abierto\n\r\n"), nullptr)
      << reporter->m_log;

  const std::uint8_t sent[] = {0x0D, 0x11, 0x13, 0xFF, 0x00};
  ASSERT_TRUE(pty.WriteMaster(sent, sizeof sent, 1000));
  for (std::uint8_t b : sent)
    EXPECT_EQ(link.ReadByte(), b);
  for (std::uint8_t b : sent)
    link.WriteByte(b);
  std::uint8_t back[sizeof sent] = {};
  ASSERT_EQ(pty.ReadMaster(back, sizeof back, 3000), sizeof back);
  EXPECT_EQ(std::memcmp(back, sent, sizeof sent), 0);

  pty.CloseMaster();
  const long long cpu0 = CpuMs();
  const auto t0 = Steady::now();
  EXPECT_EQ(link.ReadByte(), SerialLink::kReadTimedOut);
  EXPECT_TRUE(link.line_lost());
  link.WriteByte('6');
  EXPECT_TRUE(link.write_dropped());
  EXPECT_LT(MsSince(t0), 100) << "a wait on the lost line";
  EXPECT_LT(CpuMs() - cpu0, 100);
  link.ClosePort();
  EXPECT_FALSE(link.IsOpen());
}

}  // namespace
}  // namespace updater
