#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fakes/fake_displays.h"
#include "model/progress_model.h"
#include "model/reporter.h"
#include "model/resource.h"

namespace {

using updater::ProgressModel;
using updater::Reporter;

class ReportingTest : public ::testing::Test {
 protected:
  std::string Log() const { return std::string(reporter.m_log, reporter.log_length()); }

  fakes::FakeDisplays displays;
  Reporter reporter{displays};
};

TEST_F(ReportingTest, ReportShowsTheMessageAndLogsItWithCrLf) {
  reporter.Report("Cerrar COM%d\n", 2);
  EXPECT_EQ(displays.Text(IDC_INFO), "Cerrar COM2\n");
  EXPECT_EQ(Log(), "Cerrar COM2\n\r\n");
  EXPECT_EQ(displays.Text(IDC_LOG), "Cerrar COM2\n\r\n");
  EXPECT_EQ(reporter.m_log[reporter.log_length()], '\0');
}

TEST_F(ReportingTest, ShowOnlyLeavesTheLogAlone) {
  reporter.Report("Inicio descarga\n");
  const long logUpdates = displays.textUpdates;
  reporter.ShowOnly("Espere alrededor 1 minuto");
  EXPECT_EQ(displays.Text(IDC_INFO), "Espere alrededor 1 minuto");
  EXPECT_EQ(Log(), "Inicio descarga\n\r\n");
  EXPECT_EQ(displays.textUpdates, logUpdates + 1);  // the status line only
}

TEST_F(ReportingTest, ReportClearsWhatALongerShowOnlyLeftBehind) {
  reporter.ShowOnly("Espere alrededor 1 minuto");
  reporter.Report("COM%d abierto\n", 1);
  EXPECT_EQ(std::string(reporter.m_message), "COM1 abierto\n");
  for (std::size_t i = std::strlen(reporter.m_message); i < Reporter::kMessageSize; ++i) {
    ASSERT_EQ(reporter.m_message[i], '\0') << i;
  }
}

TEST_F(ReportingTest, EntriesOfLaterRunsFollowWithoutSeparator) {
  reporter.Report("Descarga correcta\n");
  reporter.Report("Probando COM%d ...\n", 1);
  EXPECT_EQ(Log(), "Descarga correcta\n\r\nProbando COM1 ...\n\r\n");
}

TEST_F(ReportingTest, Windows1252TextsPassUnchanged) {
  reporter.Report("tama\xF1o incorrecto\n");
  EXPECT_EQ(displays.Text(IDC_INFO), "tama\xF1o incorrecto\n");
}

TEST_F(ReportingTest, OverlongMessageIsCutToTheBuffer) {
  const std::string longText(1000, 'x');
  reporter.Report("%s", longText.c_str());
  EXPECT_EQ(displays.Text(IDC_INFO), std::string(255, 'x'));
  EXPECT_EQ(Log(), std::string(255, 'x') + "\r\n");
}

TEST_F(ReportingTest, FullLogDropsOldestWholeEntriesAndKeepsTheNewest) {
  // Numbered entries until the log has wrapped several times.
  for (int i = 0; i < 10000; ++i) {
    reporter.Report("entrada %05d\n", i);
    ASSERT_LT(reporter.log_length(), Reporter::kLogSize);
    ASSERT_EQ(reporter.m_log[reporter.log_length()], '\0');
  }
  const std::string log = Log();
  // Every entry kept is whole, the newest is last, and nothing older was kept out of order.
  ASSERT_EQ(log.rfind("entrada 09999\n\r\n"), log.size() - 16);
  EXPECT_EQ(log.compare(0, 8, "entrada "), 0);
  EXPECT_EQ(log.size() % 16, 0u);
  EXPECT_GT(log.size(), Reporter::kLogSize - 2 * 16 - 1);
  int previous = -1;
  for (std::size_t pos = 0; pos < log.size(); pos += 16) {
    const int n = std::stoi(log.substr(pos + 8, 5));
    ASSERT_EQ(n, previous < 0 ? n : previous + 1);
    previous = n;
  }
}

TEST_F(ReportingTest, ReceivedViewStopsAtTheFirstZeroByte) {
  std::uint8_t received[8] = {'1', 'A', 'B', 0, 'C', 'D', 0, 0};
  reporter.ShowReceived(received, sizeof received);
  EXPECT_EQ(displays.Text(IDC_RX_VIEW), "1AB");
}

TEST_F(ReportingTest, ReceivedViewWithoutZeroByteStopsAtTheBufferEnd) {
  std::uint8_t buffer[16];
  std::memset(buffer, 'z', sizeof buffer);
  reporter.ShowReceived(buffer, 8);  // the rest of `buffer` lies past the view's capacity
  EXPECT_EQ(displays.Text(IDC_RX_VIEW), std::string(8, 'z'));
}

TEST_F(ReportingTest, CountsAreTransferredAsSignedDecimal) {
  reporter.m_nSize = 65536;
  reporter.m_nSent = 0;
  reporter.TransferCounts();
  EXPECT_EQ(displays.Text(IDC_SIZE), "65536");
  EXPECT_EQ(displays.Text(IDC_SENT), "0");
}

TEST(ProgressModelTest, SteppingPastTheUpperBoundStartsAgainFromZero) {
  ProgressModel progress;
  progress.SetRange(3);
  progress.SetStep(1);
  progress.SetPos(0);
  progress.StepIt();
  progress.StepIt();
  progress.StepIt();
  EXPECT_EQ(progress.position(), 3);
  progress.StepIt();
  EXPECT_EQ(progress.position(), 0);
}

TEST(ProgressModelTest, EmptyRangeStaysAtZero) {
  ProgressModel progress;
  progress.SetRange(0);  // a 65,536-byte image: the low 16 bits of its length
  progress.SetStep(1);
  progress.SetPos(0);
  for (int i = 0; i < 5; ++i)
    progress.StepIt();
  EXPECT_EQ(progress.upper(), 0);
  EXPECT_EQ(progress.position(), 0);
}

TEST(ProgressModelTest, PositionIsKeptWithinTheRange) {
  ProgressModel progress;
  progress.SetRange(300);
  progress.SetPos(500);
  EXPECT_EQ(progress.position(), 300);
  progress.SetRange(100);
  EXPECT_EQ(progress.position(), 100);
}

}  // namespace
