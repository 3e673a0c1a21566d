#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "download/updater_core.h"
#include "fakes/fake_displays.h"
#include "fakes/log_entries.h"
#include "model/resource.h"
#include "serial/posix_port_driver.h"
#include "support/pty_pair.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace {

using updater::PosixPortDriver;

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The real POSIX driver and clock, ports given by the test, displays recorded.
class PtyRunTest : public ::testing::Test {
 protected:
  ~PtyRunTest() override {
    const std::error_code error = temp.Remove();
    EXPECT_FALSE(error) << error.message();
  }

  void StartDevice(std::vector<std::string> options) {
    options.insert(options.end(), {"--no-pace", "--timeout", "120", "--save", dir + "/saved.bin"});
    ASSERT_TRUE(device.Start(SIM47913_PATH, options));
  }
  void MakeCore(const PosixPortDriver::PathTable& paths) {
    driver = std::make_unique<PosixPortDriver>(paths);
    core = std::make_unique<updater::UpdaterCore>(displays, *driver, clock);
    core->InitState();
  }
  std::vector<std::uint8_t> LoadImage(std::size_t length) {
    std::vector<std::uint8_t> image(length);
    for (std::size_t i = 0; i < length; ++i)
      image[i] = static_cast<std::uint8_t>(i * 37 + 11);
    // The bytes a cooked line discipline would mangle are all there.
    for (int special : {0x00, 0x0D, 0x11, 0x13, 0xFF, 0x0A, 0x03, 0x7F}) {
      image[static_cast<std::size_t>(special) % length] = static_cast<std::uint8_t>(special);
    }
    core->LoadImage(support::WriteImage(temp.File("fw.QMZ"), image).c_str());
    return image;
  }
  std::vector<std::string> Log() const { return fakes::LogEntries(core->m_report); }

  support::TempDir temp;
  const std::string dir = temp.path();
  support::SimProcess device;
  updater::SystemClock clock;
  fakes::FakeDisplays displays;
  std::unique_ptr<PosixPortDriver> driver;
  std::unique_ptr<updater::UpdaterCore> core;
};

TEST_F(PtyRunTest, WholeRunFindsTheDeviceOnCom3AndDownloadsTheImage) {
  StartDevice({});
  updater::test::PtyPair silentLine;  // COM2: a terminal with nobody at the other end
  ASSERT_TRUE(silentLine.ok());
  MakeCore({"/nonexistent/COM1", silentLine.slavePath(), device.path().c_str(), nullptr});
  const auto image = LoadImage(300);

  core->OnProgram();

  const std::vector<std::string> expected = {"Probando COM1 ...\n", "No abierto COM1\n",
                                             "Probando COM2 ...\n", "COM2 abierto\n",
                                             "Cerrar COM2\n",       "Probando COM3 ...\n",
                                             "COM3 abierto\n",      "Conectado a equipo en COM3",
                                             "Inicio descarga\n",   "Descarga correcta\n"};
  EXPECT_EQ(Log(), expected);
  EXPECT_EQ(displays.SentAt(displays.sent_history_size() - 1), "300");
  EXPECT_EQ(displays.progress.position(), 300);
  EXPECT_EQ(displays.cursor, updater::CursorShape::kArrow);
  EXPECT_FALSE(core->m_link.IsOpen());
  // The simulator's own usage comes back with its status: the benchmarks report it.
  rusage usage{};
  EXPECT_EQ(device.Wait(20000, &usage), 0);
  EXPECT_GT(usage.ru_maxrss, 0);
  EXPECT_GT(usage.ru_nvcsw, 0);
  EXPECT_EQ(ReadFile(dir + "/saved.bin"), image);

  // The probe was the only byte the silent port saw.
  std::uint8_t seen[4] = {};
  EXPECT_EQ(silentLine.ReadMaster(seen, sizeof seen, 200), 1u);
  EXPECT_EQ(seen[0], '0');
}

TEST_F(PtyRunTest, EchoMismatchShowsTheMessageBoxAndClosesThePort) {
  StartDevice({"--wrong-echo=132"});
  MakeCore({device.path().c_str(), nullptr, nullptr, nullptr});
  LoadImage(300);
  core->OnProgram();
  EXPECT_EQ(displays.messageBoxes, 1);
  EXPECT_STREQ(displays.lastMessageBox, "Error de comunicaci\xF3n");
  EXPECT_EQ(core->m_download.m_nReceived, 132u);
  EXPECT_EQ(Log().back(), "Inicio descarga\n");
  EXPECT_FALSE(core->m_link.IsOpen());
}

TEST_F(PtyRunTest, RejectedLengthIsReported) {
  StartDevice({"--reject-length"});
  MakeCore({device.path().c_str(), nullptr, nullptr, nullptr});
  LoadImage(300);
  core->OnProgram();
  const auto log = Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "tama\xF1o incorrecto\n");
  EXPECT_EQ(log.back(), "PROGRAM_STATE_ERROR !\n");
}

TEST_F(PtyRunTest, DeviceHangingUpMidBlockEndsTheRunWithTheLineClosed) {
  StartDevice({"--hang-up-after=100"});
  MakeCore({device.path().c_str(), nullptr, nullptr, nullptr});
  LoadImage(300);
  core->OnProgram();
  EXPECT_EQ(Log().back(), "Se perdi\xF3 la conexi\xF3n con COM1\n");
  EXPECT_FALSE(core->m_download.succeeded());
  EXPECT_FALSE(core->m_link.IsOpen());
  EXPECT_EQ(device.Wait(20000), 2);
}

TEST_F(PtyRunTest, SecondRunAfterASuccessProbesAgainAndSucceeds) {
  StartDevice({"--keep-serving"});
  MakeCore({device.path().c_str(), nullptr, nullptr, nullptr});
  const auto image = LoadImage(200);
  core->OnProgram();
  core->OnProgram();
  int successes = 0;
  for (const auto& entry : Log())
    successes += entry == "Descarga correcta\n" ? 1 : 0;
  EXPECT_EQ(successes, 2);
  EXPECT_EQ(ReadFile(dir + "/saved.bin"), image);
}

}  // namespace
