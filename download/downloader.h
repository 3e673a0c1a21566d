#pragma once

#include <cstddef>
#include <cstdint>

#include "model/reporter.h"
#include "serial/clock.h"
#include "serial/protocol.h"
#include "serial/serial_link.h"

namespace updater {

enum : std::uint8_t {
  PROGRAM_STATE_SIZE = 1,
  PROGRAM_STATE_DATA = 2,
  PROGRAM_STATE_END = 3,
  PROGRAM_STATE_ERROR = 15,
};

// The state of the last download, kept after it ends.
extern std::uint8_t g_programState;

// How the last programming run ended, for a front end that acts on it (the command line's exit
// status); the window shows the messages only.
enum class RunOutcome : std::uint8_t {
  kNotRun,
  kSucceeded,        // the device acknowledged the end of the whole image
  kNoDevice,         // no port answered the probe
  kImageTooLong,     // the length cannot be announced; nothing was sent
  kLengthRejected,   // the device answered the length with '9'
  kEchoMismatch,     // an echoed byte differed from the image
  kProtocolFailure,  // a missing or unexpected reply, a time-out, a line that took nothing
  kInterrupted,      // the clock said to stop
  kLineLost,         // the port reported a hang-up, an error or that its device is gone
};

// The image in memory and the download protocol that sends it over an open port.
class Downloader {
 public:
  static constexpr std::size_t kImageSize = 65536;
  static constexpr std::size_t kReceivedSize = 65536;
  // Images of this length or more cannot be announced in the device's length format.
  static constexpr std::uint32_t kLengthLimit = protocol::kLengthLimit;
  // Announcements sent before a device that answers neither '1' nor '9' is given up on.
  static constexpr int kMaxAnnouncements = 10;
  // Empty blocks exchanged after the image is exhausted before the device is given up on.
  static constexpr int kMaxEmptyBlocks = 8;

  Downloader(SerialLink& link, Clock& clock, Reporter& reporter)
      : link_(link), clock_(clock), reporter_(reporter) {}
  Downloader(const Downloader&) = delete;
  Downloader& operator=(const Downloader&) = delete;

  // Runs the whole protocol over the open port: length, blocks with echo check, end handshake.
  // Does not close the port.
  void Download();
  // Reads back the echo of the current block; 1 when it matched, 0 at the first mismatch.
  int VerifyBlock();
  // Zero-fills the received bytes and resets the counters before a download.
  void ResetReceived();

  // The received bytes as the receive view shows them.
  void ShowReceived() { reporter_.ShowReceived(m_received, kReceivedSize); }

  std::uint8_t m_image[kImageSize] = {};
  std::uint32_t m_nFileLength = 0;
  std::uint32_t m_nToSend = 0;
  std::uint32_t m_nPosition = 0;
  std::uint8_t m_nBlockCount = 0;
  std::uint8_t m_received[kReceivedSize] = {};
  std::uint32_t m_nReceived = 0;

  // Bookkeeping of the last download, for the operator's log and the tests.
  int announcements() const { return announcements_; }
  int empty_blocks() const { return emptyBlocks_; }
  bool succeeded() const { return succeeded_; }
  RunOutcome outcome() const { return outcome_; }

 private:
  void StoreReceived(std::uint8_t value);
  bool StepSize();
  bool StepData();
  bool StepEnd();

  SerialLink& link_;
  Clock& clock_;
  Reporter& reporter_;
  int announcements_ = 0;
  int emptyBlocks_ = 0;
  bool succeeded_ = false;
  RunOutcome outcome_ = RunOutcome::kNotRun;
};

}  // namespace updater
