// Faults of the line with the fake clock: the exact time-out boundaries, a dropped line in each
// phase, a line that takes no bytes, and many runs that leave no port open.

#include <random>

#include "faults/descriptors.h"
#include "faults/fake_line.h"

namespace faults {
namespace {

const std::vector<std::string> kProbeLost = {
    "Probando COM1 ...\n", "COM1 abierto\n",        "Cerrar COM1\n",     "Probando COM2 ...\n",
    "No abierto COM2\n",   "Probando COM3 ...\n",   "No abierto COM3\n", "Probando COM4 ...\n",
    "No abierto COM4\n",   "No se puede conectar\n"};

std::vector<std::string> Connected(const std::vector<std::string>& tail) {
  std::vector<std::string> log = {"Probando COM1 ...\n", "COM1 abierto\n",
                                  "Conectado a equipo en COM1", "Inicio descarga\n"};
  log.insert(log.end(), tail.begin(), tail.end());
  return log;
}

// Replies of a 300-byte download: 0 probe, 1 length, then '2', echo, '3' for blocks one and two
// (2 to 7), '2', echo, '4' for the third (8 to 10), and 11 the end acknowledgement.
constexpr long kLengthReply = 1;
constexpr long kEndReply = 11;

using SlowDevice = FakeLineTest;

TEST_F(SlowDevice, EveryReplyAtExactlyFiveSecondsStillSucceeds) {
  AttachDevice(0).defaultDelayMs = 5000;
  SetImage(300);
  Run();
  EXPECT_EQ(LogEntries(), Connected({"Descarga correcta\n"}));
  ExpectEverythingClosed();
}

TEST_F(SlowDevice, EveryReplyOneMillisecondLateFindsNoDevice) {
  AttachDevice(0).defaultDelayMs = 5001;
  SetImage(300);
  Run();
  EXPECT_EQ(LogEntries(), kProbeLost);
  ExpectEverythingClosed();
}

// The 10 ms pause after the length is announced counts against the device, not the time-out.
TEST_F(SlowDevice, LengthReplyMayTakeTheTimeOutAndThePause) {
  AttachDevice(0).delays[kLengthReply] = 5010;
  SetImage(300);
  Run();
  EXPECT_EQ(LogEntries().back(), "Descarga correcta\n");
  EXPECT_EQ(core.m_download.announcements(), 1);
}

TEST_F(SlowDevice, LengthReplyPastThatIsTakenForTheSecondAnnouncement) {
  AttachDevice(0).delays[kLengthReply] = 5011;
  SetImage(300);
  Run();
  EXPECT_EQ(core.m_download.announcements(), 2);
  EXPECT_FALSE(core.m_download.succeeded());
  ExpectEverythingClosed();
}

TEST_F(SlowDevice, EndAcknowledgementAtTheLimitSucceedsAndPastItFails) {
  for (const auto& [delay, last] :
       {std::pair<std::uint32_t, const char*>{5000, "Descarga correcta\n"},
        {5001, "PROGRAM_STATE_ERROR !\n"}}) {
    SCOPED_TRACE(delay);
    AttachDevice(0).delays[kEndReply] = delay;
    SetImage(300);
    Run();
    EXPECT_EQ(LogEntries().back(), last);
    ExpectEverythingClosed();
  }
}

struct DropCase {
  const char* name;
  long hangUpAfter;
  std::vector<std::string> expected;
  std::uint32_t maxMs;  // the longest the run may take
};

// The parameter base first: the sanitizers' type check rejects the large fixture before it.
class DroppedLine : public ::testing::WithParamInterface<DropCase>, public FakeLineTest {};

// The device drops the line in each phase. Reads and writes on a dropped line are given up at
// once (the line cannot come back on this handle); the next run, with the device back, succeeds.
TEST_P(DroppedLine, RunEndsInTimeAndTheNextSucceeds) {
  const DropCase& c = GetParam();
  sim::DeviceFaults faults;
  faults.hangUpAfterHostBytes = c.hangUpAfter;
  AttachDevice(0, faults);
  SetImage(300);
  EXPECT_LE(Run(), c.maxMs);
  EXPECT_EQ(LogEntries(), c.expected);
  ExpectEverythingClosed();

  AttachDevice(0);
  const std::size_t before = LogEntries().size();
  Run();
  ASSERT_GT(LogEntries().size(), before);
  EXPECT_EQ(LogEntries().back(), "Descarga correcta\n");
  ExpectEverythingClosed();
}

// Fixed pauses: 1000 before the open, 100 before the probe, 1000 after "Inicio descarga", 10
// after the announcement; the lost line adds nothing.
const char* const kLost = "Se perdi\xF3 la conexi\xF3n con COM1\n";
INSTANTIATE_TEST_SUITE_P(
    Phases, DroppedLine,
    ::testing::Values(DropCase{"Probe", 1, kProbeLost, 1100 + 1000 + 3 * 1000},
                      DropCase{"Length", 2, Connected({kLost}), 1100 + 1000 + 10},
                      DropCase{"MidBlock", 64, Connected({kLost}), 1100 + 1000 + 10},
                      DropCase{"EndByte", 304, Connected({kLost}), 1100 + 1000 + 10}),
    [](const ::testing::TestParamInfo<DropCase>& param) { return param.param.name; });

// A line that stops taking bytes mid-block (not dropped: it may start again) costs 5000 ms for
// each byte of the block still to go, then the missing acknowledgement ends the run.
TEST_F(FakeLineTest, LineThatStopsTakingBytesMidBlockEndsTheBlockAtTheFirstDroppedByte) {
  // Host byte 64 is image byte 60; byte 61 is dropped after 5000 ms. Waiting as long again for
  // each of the other 66 bytes of the block would keep the operator for over five minutes.
  AttachDevice(0).stallAfterHostBytes = 64;
  SetImage(300);
  EXPECT_EQ(Run(), 1100u + 1000u + 10u + 5000u + 5000u);  // the dropped byte, then no '2'
  EXPECT_EQ(LogEntries(), Connected({"PROGRAM_STATE_ERROR !\n"}));
  EXPECT_EQ(core.m_download.m_nPosition, 61u);  // image bytes 0 to 60 went out
  EXPECT_EQ(driver.port(0).host_byte_count(), 64u);
  ExpectEverythingClosed();
}

TEST_F(FakeLineTest, LineThatTakesNoAnnouncementEndsTheDownloadAtOnce) {
  AttachDevice(0).stallAfterHostBytes = 1;  // the probe goes through, the length does not
  SetImage(300);
  EXPECT_EQ(Run(), 1100u + 1000u + 2u * 5000u);
  EXPECT_EQ(LogEntries(), Connected({"PROGRAM_STATE_ERROR !\n"}));
  EXPECT_EQ(core.m_download.announcements(), 1);
  ExpectEverythingClosed();
}

// A hundred runs of assorted faults: every port opened is closed, no call reaches a closed
// handle, the counters stay within their bounds, and no descriptor is used up.
TEST_F(FakeLineTest, HundredFaultyRunsLeaveNothingOpen) {
  std::mt19937 random(47913);
  const int descriptors = OpenDescriptorCount();
  SetImage(300);
  for (int run = 0; run < 100; ++run) {
    SCOPED_TRACE(run);
    for (int i = 0; i < 4; ++i) {
      driver.port(i).present = false;
      driver.port(i).busy = false;
      driver.port(i).peer = nullptr;
    }
    const int port = static_cast<int>(random() % 4);
    sim::DeviceFaults faults;
    switch (run % 5) {
      case 0:
        faults.hangUpAfterHostBytes = static_cast<long>(random() % 310);
        break;
      case 1:
        faults.silent = true;
        break;
      case 2:
        faults.wrongEchoOffset = static_cast<long>(random() % 300);
        break;
      case 3:
        faults.extraMoreReplies = static_cast<int>(random() % 12);
        break;
      default:
        break;
    }
    fakes::DevicePeer& device = AttachDevice(port, faults);
    if (run % 7 == 0)
      device.stallAfterHostBytes = static_cast<long>(random() % 10);
    if (port > 0 && run % 3 == 0) {
      driver.port(port - 1).present = true;
      driver.port(port - 1).busy = true;
    }
    Run();
    ExpectEverythingClosed();
    EXPECT_LE(core.m_download.announcements(), updater::Downloader::kMaxAnnouncements);
    EXPECT_LE(core.m_download.empty_blocks(), updater::Downloader::kMaxEmptyBlocks);
    EXPECT_FALSE(driver.port(port).overflowed());
  }
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

}  // namespace
}  // namespace faults
