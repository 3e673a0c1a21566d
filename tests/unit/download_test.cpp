#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/core_fixture.h"
#include "model/resource.h"

namespace {

using fakes::CoreFixture;
using fakes::FakePort;
using updater::Downloader;
using updater::g_programState;

class DownloadTest : public CoreFixture {
 protected:
  // Loads `image`, connects to the device on COM1 and runs the download over it.
  void Run(const std::vector<std::uint8_t>& image) {
    SetImage(image);
    displays.SetProgressRange(static_cast<std::uint16_t>(image.size()));
    displays.SetProgressStep(1);
    displays.SetProgressPos(0);
    if (driver.port(0).peer == nullptr)
      AttachDevice(0, faults);
    ASSERT_EQ(core.m_link.FindDevice(), 1);
    core.m_download.ResetReceived();
    logBefore = LogEntries().size();
    core.m_download.Download();
  }
  // The log entries the download added.
  std::vector<std::string> DownloadLog() const {
    const auto all = LogEntries();
    return std::vector<std::string>(all.begin() + static_cast<long>(logBefore), all.end());
  }
  std::vector<std::uint8_t> HostBytes() const {
    std::vector<std::uint8_t> bytes;
    FakePort& p = const_cast<DownloadTest*>(this)->driver.port(0);
    for (std::size_t i = 0; i < p.host_byte_count(); ++i)
      bytes.push_back(p.host_byte(i));
    return bytes;
  }
  Downloader& d() { return core.m_download; }
  sim::DeviceModel& device() { return devices.front()->model(); }

  sim::DeviceFaults faults;
  std::size_t logBefore = 0;
};

// A peer that plays a fixed script: after the host has sent `after` bytes, it delivers `reply`.
class ScriptPeer final : public fakes::Peer {
 public:
  struct Step {
    std::size_t after;
    std::vector<std::uint8_t> reply;
    std::uint32_t delayMs;
  };
  explicit ScriptPeer(std::vector<Step> steps) : steps_(std::move(steps)) {}
  void OnHostByte(std::uint8_t, FakePort& port) override {
    ++received_;
    for (const Step& s : steps_) {
      if (s.after == received_)
        port.Deliver(s.reply.data(), s.reply.size(), s.delayMs);
    }
  }

 private:
  std::vector<Step> steps_;
  std::size_t received_ = 0;
};

TEST_F(DownloadTest, ThreeHundredBytesGoInBlocksOf128_128And44) {
  const auto image = Pattern(300);
  Run(image);

  const auto host = HostBytes();
  ASSERT_EQ(host.size(), 1u + 2u + 300u + 1u);
  EXPECT_EQ(host[1], 0x01);
  EXPECT_EQ(host[2], 0x2C);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), host.begin() + 3));
  EXPECT_EQ(host.back(), '6');

  ASSERT_EQ(displays.sent_history_size(), 3u);
  EXPECT_EQ(displays.SentAt(0), "128");
  EXPECT_EQ(displays.SentAt(1), "256");
  EXPECT_EQ(displays.SentAt(2), "300");
  EXPECT_EQ(displays.progress.position(), 300);
  EXPECT_EQ(device().blocks(), 3);

  EXPECT_EQ(DownloadLog(), (std::vector<std::string>{"Inicio descarga\n", "Descarga correcta\n"}));
  EXPECT_EQ(displays.Text(IDC_INFO), "Descarga correcta\n");
  EXPECT_TRUE(d().succeeded());
  EXPECT_TRUE(device().complete());
  EXPECT_EQ(g_programState, updater::PROGRAM_STATE_END);
  EXPECT_EQ(d().m_nReceived, 300u);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), d().m_received));

  // Each block's answer ('2', the echo, the reply) was said to be coming before it was read, to
  // the byte; the length's and the end's replies come alone.
  const FakePort& line = driver.port(0);
  EXPECT_EQ(line.bytesReadAsExpected, 3 * 2 + 300);
  EXPECT_EQ(line.bytesReadUnannounced, 1 + 1 + 1) << "the probe's, the length's, the end's";
  EXPECT_EQ(line.writesWithBytesStillExpected, 0);
}

TEST_F(DownloadTest, WaitMessageIsShownButNotLoggedAfterTheStartPause) {
  Run(Pattern(10));
  bool shown = false;
  for (std::size_t i = 0; i < displays.info_history_size(); ++i) {
    shown = shown || displays.InfoAt(i) == "Espere alrededor 1 minuto";
  }
  EXPECT_TRUE(shown);
  for (const auto& entry : LogEntries())
    EXPECT_NE(entry, "Espere alrededor 1 minuto");
}

TEST_F(DownloadTest, LongestSendableImageIsAnnouncedAs7BFF) {
  const auto image = Pattern(31743);
  Run(image);
  const auto host = HostBytes();
  EXPECT_EQ(host[1], 0x7B);
  EXPECT_EQ(host[2], 0xFF);
  EXPECT_TRUE(d().succeeded());
  EXPECT_EQ(device().image_length(), 31743u);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), device().image()));
}

TEST_F(DownloadTest, ImageTooLongToAnnounceIsNotSentAndNotReportedAsSuccess) {
  for (std::size_t length : {std::size_t{31744}, std::size_t{65536}}) {
    SCOPED_TRACE(length);
    driver.port(0).peer = nullptr;
    devices.clear();
    AttachDevice(0);
    Run(Pattern(length));
    core.m_link.ClosePort();
    EXPECT_EQ(device().announcements(), 0);
    EXPECT_EQ(DownloadLog(),
              (std::vector<std::string>{"Inicio descarga\n", "tama\xF1o incorrecto\n",
                                        "PROGRAM_STATE_ERROR !\n"}));
    EXPECT_FALSE(d().succeeded());
  }
}

TEST_F(DownloadTest, RejectedLengthLogsTwoEntriesInOrder) {
  faults.rejectLength = true;
  Run(Pattern(300));
  EXPECT_EQ(DownloadLog(), (std::vector<std::string>{"Inicio descarga\n", "tama\xF1o incorrecto\n",
                                                     "PROGRAM_STATE_ERROR !\n"}));
  EXPECT_EQ(HostBytes().size(), 3u);  // probe and the two length bytes only
  EXPECT_EQ(d().m_received[0], '9');
  EXPECT_EQ(d().m_nReceived, 1u);
}

TEST_F(DownloadTest, EchoMismatchStopsTheRunWithAMessageBoxOnly) {
  const auto image = Pattern(300);
  faults.wrongEchoOffset = 128 + 4;  // the 5th byte of the second block
  Run(image);

  EXPECT_EQ(displays.messageBoxes, 1);
  EXPECT_STREQ(displays.lastMessageBox, "Error de comunicaci\xF3n");
  EXPECT_EQ(d().m_nReceived, 132u);
  EXPECT_EQ(d().m_received[132], static_cast<std::uint8_t>(~image[132]));
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 132, d().m_received));
  EXPECT_EQ(d().m_received[133], 0);
  EXPECT_EQ(driver.port(0).queued(), 123u + 1u);  // the rest of the echo and the '3', unread
  EXPECT_EQ(DownloadLog(), (std::vector<std::string>{"Inicio descarga\n"}));
  EXPECT_EQ(displays.Text(IDC_INFO), "Espere alrededor 1 minuto");  // the status keeps its text
  EXPECT_EQ(g_programState, updater::PROGRAM_STATE_DATA);
  EXPECT_EQ(displays.SentAt(displays.sent_history_size() - 1), "256");
}

TEST_F(DownloadTest, ExtraMoreReplyGetsAnEmptyBlock) {
  faults.extraMoreReplies = 1;
  Run(Pattern(300));
  EXPECT_EQ(HostBytes().size(), 1u + 2u + 300u + 1u);  // the empty block adds no byte
  ASSERT_EQ(displays.sent_history_size(), 4u);
  EXPECT_EQ(displays.SentAt(3), "300");
  EXPECT_EQ(d().empty_blocks(), 1);
  EXPECT_TRUE(d().succeeded());
  EXPECT_EQ(driver.port(0).bytesReadAsExpected, 4 * 2 + 300) << "an empty block's answer";
  EXPECT_EQ(driver.port(0).writesWithBytesStillExpected, 0);
}

TEST_F(DownloadTest, DeviceAskingForANinthEmptyBlockIsGivenUpOn) {
  faults.extraMoreReplies = 9;
  Run(Pattern(200));
  EXPECT_EQ(d().empty_blocks(), Downloader::kMaxEmptyBlocks);
  EXPECT_EQ(DownloadLog().back(), "PROGRAM_STATE_ERROR !\n");
  EXPECT_FALSE(d().succeeded());
}

TEST_F(DownloadTest, EightEmptyBlocksAreStillServed) {
  faults.extraMoreReplies = 8;
  Run(Pattern(200));
  EXPECT_EQ(d().empty_blocks(), 8);
  EXPECT_TRUE(d().succeeded());
}

TEST_F(DownloadTest, SilenceAfterABlockEndsTheRunAfterTheTimeOut) {
  faults.noBlockAck = true;
  Run(Pattern(300));
  EXPECT_EQ(DownloadLog(),
            (std::vector<std::string>{"Inicio descarga\n", "PROGRAM_STATE_ERROR !\n"}));
  EXPECT_EQ(displays.SentAt(0), "128");
  EXPECT_EQ(displays.progress.position(), 128);  // the counts keep what they reached
}

TEST_F(DownloadTest, MissingEndAcknowledgementIsAFailure) {
  faults.noEndAck = true;
  Run(Pattern(300));
  EXPECT_EQ(DownloadLog().back(), "PROGRAM_STATE_ERROR !\n");
  EXPECT_FALSE(d().succeeded());
}

TEST_F(DownloadTest, GarbledLengthRepliesRepeatTheAnnouncement) {
  faults.garbledLengthReplies = 3;
  Run(Pattern(300));
  EXPECT_EQ(device().announcements(), 4);
  EXPECT_EQ(d().announcements(), 4);
  EXPECT_TRUE(d().succeeded());
}

TEST_F(DownloadTest, AnnouncementIsGivenUpAfterTenUnansweredTries) {
  faults.garbledLengthReplies = 1000;
  Run(Pattern(300));
  EXPECT_EQ(device().announcements(), Downloader::kMaxAnnouncements);
  EXPECT_EQ(DownloadLog(),
            (std::vector<std::string>{"Inicio descarga\n", "PROGRAM_STATE_ERROR !\n"}));
  EXPECT_EQ(d().m_nReceived, 10u);  // one stored reply per announcement
}

TEST_F(DownloadTest, SilentDeviceDuringTheLengthCostsTenTimeOuts) {
  driver.port(0).peer = nullptr;
  driver.port(0).present = true;
  // Answers only the probe.
  ScriptPeer peer({{1, {'0'}, 0}});
  driver.port(0).peer = &peer;
  const std::uint32_t before = clock.now();
  Run(Pattern(300));
  EXPECT_EQ(clock.now() - before, 1000u + 100u + 1000u + 10u * (10u + 5000u));
  EXPECT_EQ(DownloadLog().back(), "PROGRAM_STATE_ERROR !\n");
}

TEST_F(DownloadTest, TimedOutEchoPassesWhereTheImageHolds0xFF) {
  driver.port(0).present = true;
  // Probe, accept the length, acknowledge the block and echo nothing; the 0xFF of each time-out
  // then stands for the image's 0xFF bytes. '4' comes after the three echo time-outs.
  ScriptPeer peer(
      {{1, {'0'}, 0}, {3, {'1'}, 0}, {6, {'2'}, 0}, {6, {'4'}, 3 * 5000 + 100}, {7, {'6'}, 0}});
  driver.port(0).peer = &peer;
  Run({0xFF, 0xFF, 0xFF});
  EXPECT_TRUE(d().succeeded());
  EXPECT_EQ(displays.messageBoxes, 0);
}

TEST_F(DownloadTest, UnexpectedReplyAfterTheEchoIsAFailure) {
  driver.port(0).present = true;
  ScriptPeer peer({{1, {'0'}, 0}, {3, {'1'}, 0}, {5, {'2', 'a', 'b', '5'}, 0}});
  driver.port(0).peer = &peer;
  Run({'a', 'b'});
  EXPECT_EQ(DownloadLog().back(), "PROGRAM_STATE_ERROR !\n");
  EXPECT_EQ(d().m_nReceived, 2u);
}

TEST_F(DownloadTest, DeviceClaimingCompletionBeforeTheLastBlockIsAFailure) {
  const auto image = Pattern(300);
  driver.port(0).present = true;
  // The first block is acknowledged and echoed, then the device says the image is complete and
  // acknowledges the end byte as well: only 128 of the 300 bytes ever went out.
  std::vector<std::uint8_t> reply(1 + 128 + 1);
  reply.front() = '2';
  std::copy(image.begin(), image.begin() + 128, reply.begin() + 1);
  reply.back() = '4';
  ScriptPeer peer({{1, {'0'}, 0}, {3, {'1'}, 0}, {3 + 128, reply, 0}, {3 + 128 + 1, {'6'}, 0}});
  driver.port(0).peer = &peer;
  Run(image);
  EXPECT_FALSE(d().succeeded());
  EXPECT_EQ(DownloadLog().back(), "PROGRAM_STATE_ERROR !\n");
  EXPECT_EQ(d().m_nPosition, 128u);
  EXPECT_EQ(HostBytes().size(), 3u + 128u);  // no end byte was sent
}

TEST_F(DownloadTest, ReceiveViewShowsTheEchoAtTheEnd) {
  Run({'H', 'o', 'l', 'a', 0, 'x'});
  EXPECT_EQ(displays.Text(IDC_RX_VIEW), "Hola");
}

}  // namespace
