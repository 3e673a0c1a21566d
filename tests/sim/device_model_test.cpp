#include "sim/device_model.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

class RecordingSink : public ReplySink {
 public:
  void Reply(const std::uint8_t* bytes, std::size_t count) override {
    replies.emplace_back(bytes, bytes + count);
  }
  std::vector<Bytes> replies;
};

Bytes Image(std::size_t length) {
  Bytes image(length);
  for (std::size_t i = 0; i < length; ++i) {
    image[i] = static_cast<std::uint8_t>(i * 7 + 3);
  }
  return image;
}

Bytes One(char c) {
  return Bytes{static_cast<std::uint8_t>(c)};
}

Bytes Slice(const Bytes& image, std::size_t from, std::size_t count) {
  return Bytes(image.begin() + static_cast<long>(from),
               image.begin() + static_cast<long>(from + count));
}

class DeviceModelTest : public ::testing::Test {
 protected:
  // The model holds a 64 KiB buffer: on the heap, as tests are free to be.
  void Make(const DeviceFaults& faults = {}) {
    model = std::make_unique<DeviceModel>(faults, sink);
  }
  void Host(std::uint8_t value) { model->OnHostByte(value); }
  void Host(const Bytes& bytes) {
    for (std::uint8_t b : bytes) {
      Host(b);
    }
  }
  void Announce(std::uint32_t length) {
    Host(static_cast<std::uint8_t>(length >> 8));
    Host(static_cast<std::uint8_t>(length & 0xFF));
  }
  // Replies since the last call.
  std::vector<Bytes> Take() {
    std::vector<Bytes> taken;
    taken.swap(sink.replies);
    return taken;
  }

  RecordingSink sink;
  std::unique_ptr<DeviceModel> model;
};

TEST_F(DeviceModelTest, ThreeHundredByteImageRunsToAVerifiedEnd) {
  Make();
  const Bytes image = Image(300);
  Host('0');
  EXPECT_EQ(Take(), std::vector<Bytes>{One('0')});
  Announce(300);
  EXPECT_EQ(Take(), std::vector<Bytes>{One('1')});
  EXPECT_EQ(model->phase(), DeviceModel::Phase::kData);

  Host(Slice(image, 0, 127));
  EXPECT_TRUE(Take().empty()) << "a block is answered only when full";
  Host(image[127]);
  EXPECT_EQ(Take(), (std::vector<Bytes>{One('2'), Slice(image, 0, 128), One('3')}));
  Host(Slice(image, 128, 128));
  EXPECT_EQ(Take(), (std::vector<Bytes>{One('2'), Slice(image, 128, 128), One('3')}));
  Host(Slice(image, 256, 44));
  EXPECT_EQ(Take(), (std::vector<Bytes>{One('2'), Slice(image, 256, 44), One('4')}));
  EXPECT_EQ(model->phase(), DeviceModel::Phase::kWaitEnd);
  EXPECT_FALSE(model->complete());

  Host('x');  // anything but the end byte is ignored
  EXPECT_TRUE(Take().empty());
  Host('6');
  EXPECT_EQ(Take(), std::vector<Bytes>{One('6')});
  EXPECT_TRUE(model->complete());
  EXPECT_EQ(model->phase(), DeviceModel::Phase::kDone);
  ASSERT_EQ(model->image_length(), 300u);
  EXPECT_EQ(Bytes(model->image(), model->image() + 300), image);
  EXPECT_EQ(model->probes(), 1);
  EXPECT_EQ(model->announcements(), 1);
  EXPECT_EQ(model->blocks(), 3);
  EXPECT_EQ(model->empty_blocks(), 0);
  EXPECT_EQ(model->host_bytes(), 1 + 2 + 300 + 1 + 1);
}

TEST_F(DeviceModelTest, OnlyTheProbeByteIsAnsweredWhileWaiting) {
  Make();
  Host(Bytes{'1', 0x00, 0xFF, '6'});
  EXPECT_TRUE(Take().empty());
  EXPECT_EQ(model->probes(), 0);
  EXPECT_EQ(model->phase(), DeviceModel::Phase::kWaitProbe);
}

TEST_F(DeviceModelTest, ZeroLengthIsAcceptedAndEndsAtOnce) {
  Make();
  Host('0');
  Announce(0);
  EXPECT_EQ(Take(), (std::vector<Bytes>{One('0'), One('1'), One('2'), One('4')}));
  EXPECT_EQ(model->empty_blocks(), 1);
  Host('6');
  EXPECT_TRUE(model->complete());
  EXPECT_EQ(model->image_length(), 0u);
}

TEST_F(DeviceModelTest, AProbeAfterACompleteDownloadStartsAnother) {
  Make();
  const Bytes first = Image(10);
  Host('0');
  Announce(10);
  Host(first);
  Host('6');
  ASSERT_TRUE(model->complete());
  Take();

  const Bytes second = Bytes(130, 0x5A);
  Host('0');
  EXPECT_EQ(Take(), std::vector<Bytes>{One('0')});
  Announce(130);
  EXPECT_FALSE(model->complete()) << "the image is being overwritten";
  Host(second);
  EXPECT_EQ(Take(), (std::vector<Bytes>{One('1'), One('2'), Slice(second, 0, 128), One('3'),
                                        One('2'), Slice(second, 128, 2), One('4')}));
  Host('6');
  EXPECT_TRUE(model->complete());
  EXPECT_EQ(Bytes(model->image(), model->image() + model->image_length()), second);
  EXPECT_EQ(model->probes(), 2);
}

TEST_F(DeviceModelTest, LineClosedMidBlockStartsOverCleanly) {
  Make();
  Host('0');
  Announce(200);
  Host(Bytes(50, 0x11));
  model->LineClosed();
  EXPECT_EQ(model->phase(), DeviceModel::Phase::kWaitProbe);
  Take();

  const Bytes image = Image(200);
  Host('0');
  Announce(200);
  Host(Slice(image, 0, 128));
  // The 50 bytes of the dropped block are not counted into this one.
  EXPECT_EQ(Take(),
            (std::vector<Bytes>{One('0'), One('1'), One('2'), Slice(image, 0, 128), One('3')}));
}

TEST_F(DeviceModelTest, LineClosedKeepsACompleteImage) {
  Make();
  Host('0');
  Announce(3);
  Host(Bytes{1, 2, 3, '6'});
  model->LineClosed();
  EXPECT_TRUE(model->complete());
  EXPECT_EQ(Bytes(model->image(), model->image() + model->image_length()), (Bytes{1, 2, 3}));
  // A rejected announcement changes nothing either.
  Host('0');
  Announce(0xFFFF);
  EXPECT_TRUE(model->complete());
  EXPECT_EQ(model->image_length(), 3u);
  EXPECT_EQ(model->last_announced(), 0xFFFFu);
}

TEST_F(DeviceModelTest, AHostSendingMoreThan64KiBOverrunsNothing) {
  DeviceFaults faults;
  faults.maxLength = 0xFFFFFFFF;
  Make(faults);
  Host('0');
  Announce(0xFFFF);
  for (int i = 0; i < 70000; ++i) {
    Host(static_cast<std::uint8_t>(0xA5));
  }
  EXPECT_EQ(model->phase(), DeviceModel::Phase::kWaitEnd);
  EXPECT_EQ(model->blocks(), 512);  // 511 full blocks and one of 127
  EXPECT_EQ(model->image_length(), 0xFFFFu);
  EXPECT_EQ(model->image()[0xFFFE], 0xA5);
  EXPECT_EQ(model->image()[0xFFFF], 0x00) << "the byte past the announced length is untouched";
  Host('6');
  EXPECT_TRUE(model->complete());
}

// Faults, one by one.

TEST_F(DeviceModelTest, SilentDeviceAnswersNothing) {
  DeviceFaults faults;
  faults.silent = true;
  Make(faults);
  Host(Bytes{'0', 0x00, 0x05, '0'});
  EXPECT_TRUE(Take().empty());
  EXPECT_EQ(model->probes(), 2);
  EXPECT_EQ(model->phase(), DeviceModel::Phase::kWaitProbe);
}

TEST_F(DeviceModelTest, WrongProbeReplyDoesNotLeadToTheLength) {
  DeviceFaults faults;
  faults.probeReply = '1';
  Make(faults);
  Host('0');
  Announce(5);  // the 0x00, 0x05 are no probe: ignored
  EXPECT_EQ(Take(), std::vector<Bytes>{One('1')});
  EXPECT_EQ(model->phase(), DeviceModel::Phase::kWaitProbe);
  EXPECT_EQ(model->announcements(), 0);

  faults.probeReply = -1;
  Make(faults);
  Host('0');
  EXPECT_TRUE(Take().empty());
  EXPECT_EQ(model->probes(), 1);
}

TEST_F(DeviceModelTest, RejectedLengthGoesBackToTheProbe) {
  DeviceFaults faults;
  faults.rejectLength = true;
  Make(faults);
  Host('0');
  Announce(10);
  EXPECT_EQ(Take(), (std::vector<Bytes>{One('0'), One('9')}));
  EXPECT_EQ(model->phase(), DeviceModel::Phase::kWaitProbe);
  Host('0');
  EXPECT_EQ(Take(), std::vector<Bytes>{One('0')});
}

TEST_F(DeviceModelTest, MaxLengthIsTheLongestAccepted) {
  DeviceFaults faults;
  faults.maxLength = 0x7BFF;
  Make(faults);
  Host('0');
  Announce(0x7C00);
  Host('0');
  Announce(0x7BFF);
  EXPECT_EQ(Take(), (std::vector<Bytes>{One('0'), One('9'), One('0'), One('1')}));
}

TEST_F(DeviceModelTest, GarbledLengthRepliesAskForTheLengthAgain) {
  DeviceFaults faults;
  faults.garbledLengthReplies = 2;
  Make(faults);
  Host('0');
  Announce(4);
  Announce(4);
  Announce(4);
  const std::vector<Bytes> replies = Take();
  ASSERT_EQ(replies.size(), 4u);
  for (int i = 1; i <= 2; ++i) {
    ASSERT_EQ(replies[i].size(), 1u);
    EXPECT_NE(replies[i][0], '1');
    EXPECT_NE(replies[i][0], '9');
  }
  EXPECT_EQ(replies[3], One('1'));
  EXPECT_EQ(model->announcements(), 3);
}

TEST_F(DeviceModelTest, WrongEchoInvertsOneByteAndSpoilsCompletion) {
  DeviceFaults faults;
  faults.wrongEchoOffset = 132;  // the 5th byte of the second block
  Make(faults);
  const Bytes image = Image(300);
  Host('0');
  Announce(300);
  Host(image);
  const std::vector<Bytes> replies = Take();
  ASSERT_EQ(replies.size(), 2u + 9u);
  EXPECT_EQ(replies[3], Slice(image, 0, 128));
  Bytes expected = Slice(image, 128, 128);
  expected[4] = static_cast<std::uint8_t>(~expected[4]);
  EXPECT_EQ(replies[6], expected);
  EXPECT_EQ(replies[9], Slice(image, 256, 44));
  Host('6');
  EXPECT_EQ(Take(), std::vector<Bytes>{One('6')});
  EXPECT_FALSE(model->complete());
  EXPECT_EQ(model->image()[132], image[132]) << "the stored image is what the host sent";
}

TEST_F(DeviceModelTest, ExtraMoreRepliesAnswerTheEmptyBlocksAtOnce) {
  DeviceFaults faults;
  faults.extraMoreReplies = 2;
  Make(faults);
  const Bytes image = Image(130);
  Host('0');
  Announce(130);
  Host(image);
  EXPECT_EQ(Take(), (std::vector<Bytes>{One('0'), One('1'), One('2'), Slice(image, 0, 128),
                                        One('3'), One('2'), Slice(image, 128, 2), One('3'),
                                        One('2'), One('3'), One('2'), One('4')}));
  EXPECT_EQ(model->empty_blocks(), 2);
  Host('6');
  EXPECT_TRUE(model->complete());

  // Each download gets its own extra replies; a zero length too.
  Host('0');
  Announce(0);
  EXPECT_EQ(Take(), (std::vector<Bytes>{One('6'), One('0'), One('1'), One('2'), One('3'), One('2'),
                                        One('3'), One('2'), One('4')}));
}

TEST_F(DeviceModelTest, NoBlockAckSilencesTheDeviceForGood) {
  DeviceFaults faults;
  faults.noBlockAck = true;
  Make(faults);
  Host('0');
  Announce(200);
  Take();
  Host(Bytes(200, 0x01));
  Host('6');
  model->LineClosed();
  Host('0');
  EXPECT_TRUE(Take().empty());
  EXPECT_FALSE(model->complete());
}

TEST_F(DeviceModelTest, NoEndAckLeavesTheDownloadIncomplete) {
  DeviceFaults faults;
  faults.noEndAck = true;
  Make(faults);
  Host('0');
  Announce(1);
  Host(0x42);
  Take();
  Host('6');
  EXPECT_TRUE(Take().empty());
  EXPECT_FALSE(model->complete());
  EXPECT_EQ(model->phase(), DeviceModel::Phase::kDone);
}

TEST_F(DeviceModelTest, HangUpLeavesTheNthByteUnanswered) {
  DeviceFaults faults;
  faults.hangUpAfterHostBytes = 3;  // probe, then the length's high and low byte
  Make(faults);
  Host('0');
  Host(0x00);
  EXPECT_FALSE(model->hung_up());
  Host(0x01);
  EXPECT_TRUE(model->hung_up());
  EXPECT_EQ(Take(), std::vector<Bytes>{One('0')});
  model->LineClosed();
  Host('0');
  EXPECT_TRUE(model->hung_up());
  EXPECT_TRUE(Take().empty());
  EXPECT_EQ(model->host_bytes(), 3);

  faults.hangUpAfterHostBytes = 0;
  Make(faults);
  EXPECT_TRUE(model->hung_up());
}

}  // namespace
}  // namespace sim
