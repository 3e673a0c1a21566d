#include <windows.h>

#include <cstring>

#include "download/updater_core.h"
#include "fakes/fake_displays.h"
#include "serial/clock.h"
#include "serial/port_list.h"
#include "serial/win32_line_settings.h"
#include "serial/win32_port_driver.h"
#include "windows/com3_device.h"

namespace {

using updater::kInvalidPort;
using updater::WaitResult;

// GetTickCount and the timer that ends a wait advance in steps of about 16 ms under Wine.
constexpr std::int64_t kTickStepMs = 16;

std::int64_t CounterMs() {
  LARGE_INTEGER now;
  LARGE_INTEGER frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return now.QuadPart * 1000 / frequency.QuadPart;
}

// The Win32 driver on its own, against the well-behaved simulator, which says nothing until it
// is probed.
class Com3Driver : public win32test::Com3Test {
 protected:
  Com3Driver() : Com3Test("well-behaved") {}
  ~Com3Driver() override {
    if (port != kInvalidPort)
      driver.Close(port);
  }
  HANDLE handle() const { return reinterpret_cast<HANDLE>(port); }
  static updater::LineSettings ProgramSettings() {
    updater::LineSettings s;
    s.baudRate = 9600;
    s.byteSize = 8;
    s.binary = true;
    return s;
  }
  static std::uint64_t CpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ms = [](const FILETIME& t) {
      return ((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000;
    };
    return ms(kernel) + ms(user);
  }

  updater::Win32PortDriver driver;
  updater::PortHandle port = kInvalidPort;
};

// Besides COM3, scripts/test-windows maps COM12 to the simulator's line too and COM9 to a regular
// file; COM1, COM2 and COM4 have no device (Wine opens a stand-in without a control block).
TEST_F(Com3Driver, MalformedNamesAndAbsentPortsFailAndSayWhy) {
  EXPECT_EQ(driver.Open("COM1"), kInvalidPort);
  EXPECT_EQ(driver.Open("COM2"), kInvalidPort);
  for (const char* name :
       {"COM5", "COM0", "COM31", "COM", "com3", "\\\\.\\COM3", "", "COM03", "COM256", "COM3 "}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(driver.Open(name), kInvalidPort);
  }
  EXPECT_EQ(driver.Open(nullptr), kInvalidPort);

  updater::OpenError error;
  EXPECT_EQ(driver.Open("com3", error), kInvalidPort);
  EXPECT_EQ(error.failure, updater::OpenFailure::kAbsent);
  EXPECT_STREQ(error.path, "");
  EXPECT_EQ(driver.Open("COM77", error), kInvalidPort);
  EXPECT_EQ(error.failure, updater::OpenFailure::kAbsent);
  EXPECT_EQ(error.systemError, ERROR_FILE_NOT_FOUND);
  EXPECT_STREQ(error.path, "\\\\.\\COM77");
  EXPECT_EQ(driver.Open("COM9", error), kInvalidPort);
  EXPECT_EQ(error.failure, updater::OpenFailure::kNotSerialPort);
  EXPECT_NE(error.systemError, 0);
}

TEST_F(Com3Driver, NamesAboveCom9Open) {
  updater::OpenError error;
  port = driver.Open("COM12", error);
  ASSERT_NE(port, kInvalidPort);
  EXPECT_EQ(error.failure, updater::OpenFailure::kNone);
  EXPECT_STREQ(error.path, "\\\\.\\COM12");
}

// Open asks for no sharing; Windows' serial driver then refuses a second opener, Wine does not
// (it shares a device file), so only the release at Close is checked here.
TEST_F(Com3Driver, AClosedPortOpensAgain) {
  port = driver.Open("COM3");
  ASSERT_NE(port, kInvalidPort);
  driver.Close(port);
  port = driver.Open("COM3");
  EXPECT_NE(port, kInvalidPort);
}

// The read time-outs are the driver's own (its waits rely on them); of the write ones only a
// missing bound is set.
TEST_F(Com3Driver, OpenSetsTheReadWaitAndBoundsOnlyAMissingWriteTimeout) {
  HANDLE raw = CreateFileA("COM3", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(raw, INVALID_HANDLE_VALUE);
  COMMTIMEOUTS found{};
  ASSERT_TRUE(GetCommTimeouts(raw, &found));
  CloseHandle(raw);

  port = driver.Open("COM3");
  ASSERT_NE(port, kInvalidPort);
  COMMTIMEOUTS now{};
  ASSERT_TRUE(GetCommTimeouts(handle(), &now));
  COMMTIMEOUTS expected = found;
  expected.ReadIntervalTimeout = MAXDWORD;
  expected.ReadTotalTimeoutMultiplier = MAXDWORD;
  expected.ReadTotalTimeoutConstant = updater::kWaitSliceMs;
  updater::win32::BoundWriteTimeouts(expected);
  EXPECT_EQ(std::memcmp(&now, &expected, sizeof now), 0);
  EXPECT_TRUE(now.WriteTotalTimeoutConstant != 0 || now.WriteTotalTimeoutMultiplier != 0);
}

TEST_F(Com3Driver, LineSettingsTakeTheSixValuesAndTheRestStaysAsFound) {
  port = driver.Open("COM3");
  ASSERT_NE(port, kInvalidPort);
  DCB found{};
  found.DCBlength = sizeof found;
  ASSERT_TRUE(GetCommState(handle(), &found));

  updater::LineSettings reported;
  ASSERT_TRUE(driver.GetLineSettings(port, reported));
  EXPECT_EQ(reported.parity, found.Parity);
  const updater::LineSettings wanted = ProgramSettings();
  EXPECT_TRUE(driver.SetLineSettings(port, wanted));

  updater::LineSettings now;
  ASSERT_TRUE(driver.GetLineSettings(port, now));
  EXPECT_EQ(now.baudRate, 9600u);
  EXPECT_EQ(now.byteSize, 8);
  EXPECT_EQ(now.stopBits, 0);
  EXPECT_TRUE(now.binary);
  EXPECT_FALSE(now.parityCheck);
  DCB after{};
  after.DCBlength = sizeof after;
  ASSERT_TRUE(GetCommState(handle(), &after));
  // A pseudo-terminal has no RTS line; Wine reports it enabled whatever was set.
  DCB expected = updater::win32::ApplyLineSettings(found, wanted);
  expected.fRtsControl = after.fRtsControl;
  EXPECT_EQ(std::memcmp(&after, &expected, sizeof after), 0);
}

TEST_F(Com3Driver, AWaitingByteIsReadAtOnceAndNothingIsReadWhenNoneWaits) {
  port = driver.Open("COM3");
  ASSERT_NE(port, kInvalidPort);
  ASSERT_TRUE(driver.SetLineSettings(port, ProgramSettings()));
  std::uint32_t moved = 0;
  ASSERT_TRUE(driver.WriteByte(port, '0', moved));
  ASSERT_EQ(moved, 1u);

  ASSERT_EQ(driver.WaitReadable(port, 5000), WaitResult::kReady);
  std::uint32_t errors = 0;
  updater::ComStat stat;
  ASSERT_TRUE(driver.ClearErrors(port, errors, stat));
  EXPECT_EQ(stat.cbInQue, 1u);
  std::uint8_t value = 0;
  ASSERT_TRUE(driver.ReadByte(port, value, moved));
  EXPECT_EQ(moved, 1u);
  EXPECT_EQ(value, '0');

  // The device now waits for the length; a read must not wait for it.
  const DWORD start = GetTickCount();
  EXPECT_TRUE(driver.ReadByte(port, value, moved));
  EXPECT_EQ(moved, 0u);
  EXPECT_LT(GetTickCount() - start, 3000u);
}

TEST_F(Com3Driver, ASilentLineWaitsOutTheLimitWithTheProcessorIdle) {
  port = driver.Open("COM3");
  ASSERT_NE(port, kInvalidPort);
  ASSERT_TRUE(driver.SetLineSettings(port, ProgramSettings()));
  const std::uint64_t cpuBefore = CpuMs();
  const std::int64_t start = CounterMs();
  EXPECT_EQ(driver.WaitReadable(port, 1000), WaitResult::kTimedOut);
  const std::int64_t elapsed = CounterMs() - start;
  // The wait is the read's own time-out, ended by the system's timer: on the tick count it may
  // read one step short, so it is measured on the performance counter, allowing that step.
  EXPECT_GE(elapsed, 1000 - kTickStepMs);
  EXPECT_LT(elapsed, 10000);
  // A busy poll would take the whole second of processor time.
  EXPECT_LT(CpuMs() - cpuBefore, 500u);
  // Nothing is queued for sending, so the line takes a byte.
  EXPECT_EQ(driver.WaitWritable(port, 1000), WaitResult::kReady);
}

// scripts/test-windows names COM1 to COM4 in the prefix's port table; Wine lists each port of its
// table in SERIALCOMM, present or not.
TEST_F(Com3Driver, ThePortListNamesCom3AmongThePortsInOrder) {
  updater::PortInfo ports[16];
  const int count = updater::ListSerialPorts(ports, 16);
  const updater::PortInfo* com3 = nullptr;
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      EXPECT_LT(ports[i - 1].number, ports[i].number);
    }
    if (ports[i].number == 3)
      com3 = &ports[i];
  }
  ASSERT_NE(com3, nullptr);
  EXPECT_STREQ(com3->name, "COM3");
  EXPECT_STREQ(com3->path, "\\\\.\\COM3");
  EXPECT_STRNE(com3->driver, "");
  updater::PortInfo lowest;
  ASSERT_EQ(updater::ListSerialPorts(&lowest, 1), 1);
  EXPECT_EQ(lowest.number, ports[0].number);
}

// Through the link as a run reads: a read that nothing answers still ends at its 5000 ms limit,
// measured on the performance counter (the limit is counted in timer ticks, which may end it up
// to one 16 ms step early).
TEST_F(Com3Driver, ASilentLineTimesOutAtTheLinkLimit) {
  updater::SystemClock clock;
  fakes::FakeDisplays displays;
  updater::UpdaterCore core(displays, driver, clock);
  ASSERT_EQ(core.m_link.OpenPort(2), 1);
  const std::int64_t start = CounterMs();
  EXPECT_EQ(core.m_link.ReadByte(), updater::SerialLink::kReadTimedOut);
  const std::int64_t elapsed = CounterMs() - start;
  core.m_link.ClosePort();
  EXPECT_GE(elapsed, 5000 - kTickStepMs);
  EXPECT_LT(elapsed, 15000);
}

// The simulator answers the probe 300 ms late: the byte comes in the middle of a wait, which
// ends with it rather than at its limit, and the byte is the next one read.
class Com3SlowReply : public win32test::Com3Test {
 protected:
  Com3SlowReply() : Com3Test("reply-delay=300") {}
  updater::Win32PortDriver driver;
};

TEST_F(Com3SlowReply, AByteArrivingMidWaitEndsTheWaitAtOnce) {
  const updater::PortHandle port = driver.Open("COM3");
  ASSERT_NE(port, kInvalidPort);
  std::uint32_t moved = 0;
  ASSERT_TRUE(driver.WriteByte(port, '0', moved));
  const std::int64_t start = CounterMs();
  EXPECT_EQ(driver.WaitReadable(port, 5000), WaitResult::kReady);
  const std::int64_t elapsed = CounterMs() - start;
  EXPECT_GE(elapsed, 300 - kTickStepMs);
  EXPECT_LT(elapsed, 2500);  // a wait that ran to its limit would take 5000 ms

  std::uint32_t errors = 0;
  updater::ComStat stat;
  ASSERT_TRUE(driver.ClearErrors(port, errors, stat));
  EXPECT_EQ(stat.cbInQue, 1u);
  EXPECT_EQ(driver.WaitReadable(port, 5000), WaitResult::kReady);
  std::uint8_t value = 0;
  ASSERT_TRUE(driver.ReadByte(port, value, moved));
  EXPECT_EQ(moved, 1u);
  EXPECT_EQ(value, '0');
  ASSERT_TRUE(driver.ReadByte(port, value, moved));
  EXPECT_EQ(moved, 0u);
  driver.Close(port);
}

}  // namespace
