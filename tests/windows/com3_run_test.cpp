#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "download/updater_core.h"
#include "fakes/fake_displays.h"
#include "fakes/log_entries.h"
#include "model/resource.h"
#include "serial/win32_port_driver.h"
#include "support/temp_dir.h"
#include "windows/com3_device.h"

namespace {

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Whole programming runs through the Win32 driver and clock, displays recorded. COM1 and COM2
// are absent, COM3 is the simulator, COM4 is absent.
class Com3Run : public win32test::Com3Test {
 protected:
  explicit Com3Run(const char* device) : Com3Test(device), core(displays, driver, clock) {
    core.InitState();
  }

  // An image of several blocks, the last one short, with the bytes a translating line would
  // alter or swallow.
  std::vector<std::uint8_t> LoadImage(std::size_t length) {
    std::vector<std::uint8_t> image(length);
    for (std::size_t i = 0; i < length; ++i)
      image[i] = static_cast<std::uint8_t>(i * 37 + 11);
    for (const int special : {0x00, 0x0D, 0x0A, 0x11, 0x13, 0x1A, 0xFF, 0x7F})
      image[(special * 3u) % length] = static_cast<std::uint8_t>(special);
    const std::string path =
        support::WriteImage(support::ProcessTempDir().File("com3_run.QMZ"), image);
    core.LoadImage(path.c_str());
    std::remove(path.c_str());
    return image;
  }
  std::vector<std::string> Log() const { return fakes::LogEntries(core.m_report); }

  updater::Win32PortDriver driver;
  updater::SystemClock clock;
  fakes::FakeDisplays displays;
  updater::UpdaterCore core;
};

class WellBehavedDevice : public Com3Run {
 protected:
  WellBehavedDevice() : Com3Run("well-behaved") {}
};
class WrongEchoDevice : public Com3Run {
 protected:
  WrongEchoDevice() : Com3Run("wrong-echo=132") {}
};
class LengthRejectingDevice : public Com3Run {
 protected:
  LengthRejectingDevice() : Com3Run("reject-length") {}
};
class HangingUpDevice : public Com3Run {
 protected:
  HangingUpDevice() : Com3Run("hang-up-after=100") {}
};

TEST_F(WellBehavedDevice, DiscoveryFindsCom3AndTheWholeImageArrives) {
  const auto image = LoadImage(1000);
  ASSERT_EQ(core.m_download.m_nFileLength, 1000u);

  core.OnProgram();

  const std::vector<std::string> expected = {
      "Probando COM1 ...\n",        "No abierto COM1\n",   "Probando COM2 ...\n",
      "No abierto COM2\n",          "Probando COM3 ...\n", "COM3 abierto\n",
      "Conectado a equipo en COM3", "Inicio descarga\n",   "Descarga correcta\n"};
  EXPECT_EQ(Log(), expected);
  EXPECT_EQ(displays.Text(IDC_SENT), "1000");
  EXPECT_EQ(displays.progress.position(), 1000);
  EXPECT_EQ(displays.messageBoxes, 0);
  EXPECT_TRUE(core.m_download.succeeded());
  EXPECT_EQ(displays.cursor, updater::CursorShape::kArrow);
  EXPECT_FALSE(core.m_link.IsOpen());

  // The simulator saves the image once it has acknowledged the end; give it time to write.
  const std::string saved = SavePath();
  ASSERT_FALSE(saved.empty());
  std::vector<std::uint8_t> received;
  for (int i = 0; i < 200 && received != image; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    received = ReadFile(saved);
  }
  EXPECT_EQ(received, image);
}

TEST_F(WrongEchoDevice, EchoMismatchShowsTheMessageBoxAndClosesThePort) {
  LoadImage(300);
  core.OnProgram();
  EXPECT_EQ(displays.messageBoxes, 1);
  EXPECT_STREQ(displays.lastMessageBox, "Error de comunicaci\xF3n");
  // The second block's fifth byte is the wrong one.
  EXPECT_EQ(core.m_download.m_nReceived, 132u);
  const auto log = Log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "Inicio descarga\n");
  EXPECT_EQ(std::count(log.begin(), log.end(), "Descarga correcta\n"), 0);
  EXPECT_FALSE(core.m_link.IsOpen());
}

TEST_F(LengthRejectingDevice, RejectedLengthIsReportedAndNoBlockIsSent) {
  LoadImage(300);
  core.OnProgram();
  const auto log = Log();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[log.size() - 3], "Inicio descarga\n");
  EXPECT_EQ(log[log.size() - 2], "tama\xF1o incorrecto\n");
  EXPECT_EQ(log.back(), "PROGRAM_STATE_ERROR !\n");
  EXPECT_EQ(core.m_download.m_nPosition, 0u);
  EXPECT_FALSE(core.m_download.succeeded());
  EXPECT_FALSE(core.m_link.IsOpen());
}

// The simulator hangs up as the host's 100th byte arrives, mid-block: the run ends at once with
// the lost-line message, not after a time-out and not as a wrong echo.
TEST_F(HangingUpDevice, ALostLineEndsTheRunAtOnceWithItsMessage) {
  LoadImage(300);
  const auto t0 = std::chrono::steady_clock::now();
  core.OnProgram();
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  // The fixed pauses: three opens, the probe, "Inicio descarga" and the length; then under 1 s.
  EXPECT_LT(ms, 3 * 1000 + 100 + 1000 + 10 + 1000);
  const auto log = Log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "Se perdi\xF3 la conexi\xF3n con COM3\n");
  EXPECT_EQ(displays.Text(IDC_INFO), "Se perdi\xF3 la conexi\xF3n con COM3\n");
  EXPECT_EQ(core.last_outcome(), updater::RunOutcome::kLineLost);
  EXPECT_EQ(displays.messageBoxes, 0);
  EXPECT_FALSE(core.m_download.succeeded());
  EXPECT_FALSE(core.m_link.IsOpen());
}

}  // namespace
