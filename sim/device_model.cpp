#include "sim/device_model.h"

#include <algorithm>

namespace sim {

using protocol::kBlockReceived;
using protocol::kBlockSize;
using protocol::kEnd;
using protocol::kImageComplete;
using protocol::kLengthAccepted;
using protocol::kLengthRejected;
using protocol::kMoreBlocks;
using protocol::kProbe;

namespace {

// Any byte the host cannot take for an accept or a reject.
constexpr std::uint8_t kGarbage = '?';

}  // namespace

DeviceModel::DeviceModel(const DeviceFaults& faults, ReplySink& sink)
    : faults_(faults), sink_(sink), garbledLeft_(std::max(faults.garbledLengthReplies, 0)) {
  if (faults_.hangUpAfterHostBytes == 0) {
    phase_ = Phase::kHungUp;
  }
}

void DeviceModel::OnHostByte(std::uint8_t value) {
  if (phase_ == Phase::kHungUp) {
    return;
  }
  ++hostBytes_;
  if (faults_.hangUpAfterHostBytes >= 0 && hostBytes_ >= faults_.hangUpAfterHostBytes) {
    // The line drops as this byte arrives: it is never answered.
    phase_ = Phase::kHungUp;
    return;
  }
  switch (phase_) {
    case Phase::kWaitProbe:
    case Phase::kDone:
      if (value != kProbe) {
        break;
      }
      ++probes_;
      if (!faults_.silent && faults_.probeReply >= 0) {
        Send(static_cast<std::uint8_t>(faults_.probeReply));
        if (faults_.probeReply == kProbe && !mute_) {
          phase_ = Phase::kLengthHigh;
        }
      }
      break;
    case Phase::kLengthHigh:
      lengthHigh_ = value;
      phase_ = Phase::kLengthLow;
      break;
    case Phase::kLengthLow:
      OnLengthLow(value);
      break;
    case Phase::kData:
      OnDataByte(value);
      break;
    case Phase::kWaitEnd:
      if (value != kEnd) {
        break;
      }
      if (!faults_.noEndAck) {
        Send(kEnd);
      }
      complete_ = !echoAltered_ && !faults_.noEndAck && !mute_;
      phase_ = Phase::kDone;
      break;
    case Phase::kHungUp:
      break;
  }
}

void DeviceModel::LineClosed() {
  if (phase_ == Phase::kHungUp) {
    return;
  }
  phase_ = Phase::kWaitProbe;
  blockFill_ = 0;
  blockSize_ = 0;
}

void DeviceModel::Send(std::uint8_t value) {
  if (!mute_) {
    sink_.Reply(&value, 1);
  }
}

void DeviceModel::OnLengthLow(std::uint8_t value) {
  ++announcements_;
  const std::uint32_t length = (static_cast<std::uint32_t>(lengthHigh_) << 8) | value;
  lastAnnounced_ = length;
  if (garbledLeft_ > 0) {
    --garbledLeft_;
    Send(kGarbage);
    phase_ = Phase::kLengthHigh;  // the host announces again
  } else if (faults_.rejectLength || length > faults_.maxLength) {
    Send(kLengthRejected);
    phase_ = Phase::kWaitProbe;
  } else {
    Send(kLengthAccepted);
    StartDownload(length);
  }
}

void DeviceModel::StartDownload(std::uint32_t length) {
  // A 16-bit length always fits; the clamp keeps the buffer safe should that ever change.
  imageLength_ = std::min<std::uint32_t>(length, static_cast<std::uint32_t>(kImageCapacity));
  received_ = 0;
  blockFill_ = 0;
  blockSize_ = std::min(kBlockSize, imageLength_);
  echoAltered_ = false;
  complete_ = false;
  extraLeft_ = std::max(faults_.extraMoreReplies, 0);
  phase_ = Phase::kData;
  if (imageLength_ == 0) {
    FinishBlock();  // the only block is empty: nothing to wait for
  }
}

void DeviceModel::OnDataByte(std::uint8_t value) {
  if (received_ >= imageLength_ || blockFill_ >= blockSize_) {
    return;  // only after a withheld acknowledgement: the device has stopped listening
  }
  image_[received_] = value;
  block_[blockFill_] = value;
  ++received_;
  ++blockFill_;
  if (blockFill_ == blockSize_) {
    FinishBlock();
  }
}

void DeviceModel::FinishBlock() {
  const std::uint32_t count = blockFill_;
  if (count > 0) {
    ++blocks_;
  } else {
    ++emptyBlocks_;
  }
  if (faults_.noBlockAck) {
    mute_ = true;
    return;
  }
  Send(kBlockReceived);
  if (count > 0) {
    const long start = static_cast<long>(received_ - count);
    if (faults_.wrongEchoOffset >= start &&
        faults_.wrongEchoOffset < start + static_cast<long>(count)) {
      const auto index = static_cast<std::size_t>(faults_.wrongEchoOffset - start);
      block_[index] = static_cast<std::uint8_t>(~block_[index]);
      echoAltered_ = true;
    }
    sink_.Reply(block_, count);
  }
  blockFill_ = 0;
  blockSize_ = std::min(kBlockSize, imageLength_ - received_);
  AfterBlockEchoed();
}

void DeviceModel::AfterBlockEchoed() {
  if (received_ < imageLength_) {
    Send(kMoreBlocks);
    return;
  }
  // Each extra '3' makes the host send an empty block, which is complete at once: its '2' and
  // (empty) echo follow straight away.
  while (extraLeft_ > 0) {
    --extraLeft_;
    Send(kMoreBlocks);
    ++emptyBlocks_;
    Send(kBlockReceived);
  }
  Send(kImageComplete);
  phase_ = Phase::kWaitEnd;
}

}  // namespace sim
