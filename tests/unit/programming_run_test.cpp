#include <gtest/gtest.h>

#include "fakes/core_fixture.h"
#include "ui/resource.h"

namespace {

using fakes::CoreFixture;
using updater::CursorShape;

class ProgrammingRunTest : public CoreFixture {
 protected:
  void LoadPattern(std::size_t length) {
    SetImage(Pattern(length));
    displays.SetProgressRange(static_cast<std::uint16_t>(length));
    displays.SetProgressStep(1);
    displays.SetProgressPos(0);
  }
};

TEST_F(ProgrammingRunTest, WholeRunWithTheDeviceOnCom3) {
  LoadPattern(300);
  driver.port(1).present = true;  // COM2 silent
  auto& device = AttachDevice(2);
  displays.SetText(IDC_SENT, "0");
  core.OnProgram();

  EXPECT_EQ(displays.SentAt(1), "");  // cleared before discovery
  const auto log = LogEntries();
  const std::vector<std::string> expected = {"Probando COM1 ...\n", "No abierto COM1\n",
                                             "Probando COM2 ...\n", "COM2 abierto\n",
                                             "Cerrar COM2\n",       "Probando COM3 ...\n",
                                             "COM3 abierto\n",      "Conectado a equipo en COM3",
                                             "Inicio descarga\n",   "Descarga correcta\n"};
  EXPECT_EQ(log, expected);
  EXPECT_TRUE(device.model().complete());
  EXPECT_EQ(driver.open_port_count(), 0);
  EXPECT_EQ(driver.port(2).closes, 1);
  EXPECT_EQ(displays.cursor, CursorShape::kArrow);
  EXPECT_EQ(displays.cursorChanges, 2);
  EXPECT_EQ(driver.port(3).opens, 0);
}

TEST_F(ProgrammingRunTest, NoDeviceEndsWithNoSePuedeConectar) {
  LoadPattern(300);
  core.OnProgram();
  EXPECT_EQ(displays.Text(IDC_INFO), "No se puede conectar\n");
  EXPECT_EQ(LogEntries().back(), "No se puede conectar\n");
  EXPECT_EQ(displays.cursor, CursorShape::kArrow);
  EXPECT_EQ(driver.open_port_count(), 0);
}

TEST_F(ProgrammingRunTest, SecondRunProbesCom1AgainAndContinuesTheProgressBar) {
  LoadPattern(300);
  auto& device = AttachDevice(0);
  core.OnProgram();
  const std::size_t firstRunEntries = LogEntries().size();
  core.OnProgram();

  const auto log = LogEntries();
  ASSERT_GT(log.size(), firstRunEntries);
  EXPECT_EQ(log[firstRunEntries], "Probando COM1 ...\n");
  EXPECT_EQ(log.back(), "Descarga correcta\n");
  EXPECT_EQ(driver.port(0).opens, 2);
  EXPECT_EQ(device.model().probes(), 2);
  // The bar is not reset between runs: 600 steps on a 0..300 range wrap back to 300 - 1.
  EXPECT_EQ(displays.progressSteps, 600);
  EXPECT_EQ(displays.progress.position(), 299);
}

enum class Fault { kLengthRejected, kNoBlockAck, kWrongEcho, kNoEndAck, kHangUpMidBlock };

// The parameter base comes first: the fixture is over a megabyte, and a base placed after it lies
// further from the object's start than the sanitizer's type checks accept.
class FailedRunTest : public ::testing::WithParamInterface<Fault>, public ProgrammingRunTest {};

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::kLengthRejected:
      return "LengthRejected";
    case Fault::kNoBlockAck:
      return "NoBlockAck";
    case Fault::kWrongEcho:
      return "WrongEcho";
    case Fault::kNoEndAck:
      return "NoEndAck";
    case Fault::kHangUpMidBlock:
      return "HangUpMidBlock";
  }
  return "Unknown";
}

TEST_P(FailedRunTest, PortIsClosedAndTheCursorRestored) {
  sim::DeviceFaults faults;
  faults.rejectLength = GetParam() == Fault::kLengthRejected;
  faults.noBlockAck = GetParam() == Fault::kNoBlockAck;
  faults.wrongEchoOffset = GetParam() == Fault::kWrongEcho ? 10 : -1;
  faults.noEndAck = GetParam() == Fault::kNoEndAck;
  faults.hangUpAfterHostBytes = GetParam() == Fault::kHangUpMidBlock ? 50 : -1;
  auto& device = AttachDevice(0, faults);
  LoadPattern(300);
  core.OnProgram();
  EXPECT_FALSE(core.m_download.succeeded());
  EXPECT_FALSE(device.model().complete());
  EXPECT_NE(LogEntries().back(), "Descarga correcta\n");
  EXPECT_EQ(driver.open_port_count(), 0);
  EXPECT_FALSE(core.m_link.IsOpen());
  EXPECT_EQ(displays.cursor, CursorShape::kArrow);
  EXPECT_EQ(driver.calls_on_closed_handles(), 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, FailedRunTest,
                         ::testing::Values(Fault::kLengthRejected, Fault::kNoBlockAck,
                                           Fault::kWrongEcho, Fault::kNoEndAck,
                                           Fault::kHangUpMidBlock),
                         [](const ::testing::TestParamInfo<Fault>& param) {
                           return std::string(FaultName(param.param));
                         });

TEST_F(ProgrammingRunTest, ReceivedBytesAreResetBeforeEachRun) {
  LoadPattern(300);
  AttachDevice(0);
  core.m_download.m_received[1000] = 0xAB;
  core.m_download.m_nReceived = 77;
  core.OnProgram();
  EXPECT_EQ(core.m_download.m_received[1000], 0);
  EXPECT_EQ(core.m_download.m_nReceived, 300u);
}

}  // namespace
