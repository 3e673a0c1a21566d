#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/protocol.h"

namespace sim {

namespace protocol = updater::protocol;

// The faults a simulated device can be told to show. The defaults are a well-behaved device.
struct DeviceFaults {
  bool silent = false;                   // answers nothing at all
  int probeReply = protocol::kProbe;     // byte answered to the probe; -1 answers nothing
  bool rejectLength = false;             // answers '9' to every length
  std::uint32_t maxLength = kLongestOk;  // longer lengths are answered with '9'
  int garbledLengthReplies = 0;          // this many announcements are answered with a garbage byte
  long wrongEchoOffset = -1;             // image offset whose echo byte is altered (inverted)
  int extraMoreReplies = 0;              // '3' after the last block this many extra times
  bool noBlockAck = false;               // never answers '2' after a block (and then stays silent)
  bool noEndAck = false;                 // never answers the end byte
  long hangUpAfterHostBytes = -1;        // the line drops after this many bytes from the host
  std::uint32_t replyDelayMs = 0;        // transports wait this long before each reply

  // The longest image a well-behaved device takes.
  static constexpr std::uint32_t kLongestOk = protocol::kLengthLimit - 1;
};

// Where the device's replies go. One call is one reply (a handshake byte, or a whole echo), so a
// transport can delay each reply and pace its bytes.
class ReplySink {
 public:
  virtual ~ReplySink() = default;
  virtual void Reply(const std::uint8_t* bytes, std::size_t count) = 0;
};

// The device's side of the download protocol, driven one host byte at a time. No I/O and no
// allocation: the in-process fake port and the pseudo-terminal server both drive it.
class DeviceModel {
 public:
  static constexpr std::size_t kImageCapacity = 65536;

  enum class Phase { kWaitProbe, kLengthHigh, kLengthLow, kData, kWaitEnd, kDone, kHungUp };

  DeviceModel(const DeviceFaults& faults, ReplySink& sink);

  void OnHostByte(std::uint8_t value);
  // The host closed the line: forget any exchange in progress and wait for a probe again. The
  // saved image of a complete download is kept.
  void LineClosed();

  Phase phase() const { return phase_; }
  bool hung_up() const { return phase_ == Phase::kHungUp; }
  // A download ran to the acknowledged end byte and every echo went out as received.
  bool complete() const { return complete_; }
  const std::uint8_t* image() const { return image_; }
  std::uint32_t image_length() const { return imageLength_; }

  // Counters for tests.
  int probes() const { return probes_; }
  int announcements() const { return announcements_; }
  int blocks() const { return blocks_; }
  int empty_blocks() const { return emptyBlocks_; }
  long host_bytes() const { return hostBytes_; }
  // The length of the latest announcement, accepted or not (for transports' event logs).
  std::uint32_t last_announced() const { return lastAnnounced_; }

 private:
  void Send(std::uint8_t value);
  void OnLengthLow(std::uint8_t value);
  void StartDownload(std::uint32_t length);
  void OnDataByte(std::uint8_t value);
  void FinishBlock();
  void AfterBlockEchoed();

  DeviceFaults faults_;
  ReplySink& sink_;
  Phase phase_ = Phase::kWaitProbe;
  bool complete_ = false;
  std::uint8_t image_[kImageCapacity] = {};
  std::uint32_t imageLength_ = 0;  // announced length of the current download
  std::uint32_t received_ = 0;     // image bytes received so far
  std::uint32_t blockFill_ = 0;    // bytes of the current block received
  std::uint32_t blockSize_ = 0;    // bytes the current block holds when full
  std::uint32_t lastAnnounced_ = 0;
  std::uint8_t lengthHigh_ = 0;
  bool mute_ = false;  // a withheld block acknowledgement silences the device for good
  std::uint8_t block_[protocol::kBlockSize] = {};
  int garbledLeft_ = 0;
  int extraLeft_ = 0;
  bool echoAltered_ = false;
  int probes_ = 0;
  int announcements_ = 0;
  int blocks_ = 0;
  int emptyBlocks_ = 0;
  long hostBytes_ = 0;
};

}  // namespace sim
