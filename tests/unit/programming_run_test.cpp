#include <gtest/gtest.h>

#include "fakes/core_fixture.h"
#include "model/resource.h"
#include "serial/open_advice.h"

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

// A port that is there but would not open is named, with what to do, after the usual messages;
// the first such port in probing order, in the status line and the log.
TEST_F(ProgrammingRunTest, APortThatWouldNotOpenIsNamedAfterNoSePuedeConectar) {
  LoadPattern(300);
  driver.port(1).present = true;
  driver.port(1).forbidden = true;
  driver.port(1).path = "/dev/ttyUSB0";
  driver.port(3).present = true;
  driver.port(3).busy = true;
  core.OnProgram();
  const std::string forbidden =
      "Sin permiso para abrir el puerto /dev/ttyUSB0: a\xF1"
      "ada su usuario al grupo dialout y vuelva a iniciar la sesi\xF3n\n";
  auto log = LogEntries();
  ASSERT_EQ(log.size(), 10u);
  EXPECT_EQ(log[3], "No abierto COM2\n");
  EXPECT_EQ(log[8], "No se puede conectar\n");
  EXPECT_EQ(log[9], forbidden);
  EXPECT_EQ(displays.Text(IDC_INFO), forbidden);

  driver.port(1).forbidden = false;
  driver.port(1).present = false;
  core.OnProgram();
  log = LogEntries();
  EXPECT_EQ(log[log.size() - 2], "No se puede conectar\n");
  EXPECT_EQ(log.back(),
            "El puerto /dev/fake4 est\xE1 en uso por otro programa: ci\xE9rrelo y vuelva a "
            "intentarlo\n");
}

TEST(OpenAdvice, ALongPathIsCutAtItsStart) {
  updater::OpenError error;
  error.failure = updater::OpenFailure::kPermissionDenied;
  const std::string path = "/dev/" + std::string(240, 'x') + "/ttyUSB0";
  std::snprintf(error.path, sizeof error.path, "%s", path.c_str());
  char out[updater::Reporter::kMessageSize];
  const std::size_t length = updater::FormatOpenAdvice(error, out, sizeof out);
  const std::string text(out);
  EXPECT_EQ(length, text.size());
  EXPECT_EQ(text.size(), sizeof out - 1);
  EXPECT_EQ(text.rfind("Sin permiso para abrir el puerto ...xxx", 0), 0u);
  EXPECT_NE(text.find("xxx/ttyUSB0: a\xF1"
                      "ada su usuario"),
            std::string::npos);
  EXPECT_EQ(text.back(), '\n');
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
