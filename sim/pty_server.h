#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "sim/device_model.h"

namespace sim {

// Exit codes of the simulator executable.
inline constexpr int kExitComplete = 0;
inline constexpr int kExitUsage = 1;  // also: the pseudo-terminal or the link could not be set up
inline constexpr int kExitIncomplete = 2;
inline constexpr int kExitTimedOut = 3;

struct ServerConfig {
  DeviceFaults faults;
  bool pace = true;          // 9600 baud 8N1 in both directions
  bool keepServing = false;  // serve further downloads after a complete one
  bool verbose = false;      // one line per protocol event on stderr
  std::uint32_t timeoutSec = 600;
  const char* linkPath = nullptr;  // symbolic link to the slave, or none
  const char* savePath = nullptr;  // file for the image of a complete download, or none
  // File that gets the time of every byte written to the terminal, or none (benchmarks).
  const char* traceWritesPath = nullptr;
  // Set by the signal handler; the server returns when it becomes nonzero.
  const volatile std::sig_atomic_t* stopRequested = nullptr;
  // Signal mask to wait under (the caller blocks the stop signals everywhere else, so that a
  // signal can only arrive while the server waits and none is missed).
  const sigset_t* waitMask = nullptr;
};

// Serves one DeviceModel on a pseudo-terminal, paced like the real line.
class PtyServer final : public ReplySink {
 public:
  explicit PtyServer(const ServerConfig& config);
  ~PtyServer() override;
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // Creates the pseudo-terminal and the link and prints the slave's path on stdout. On failure
  // a message is on stderr and the result is false.
  bool Start();
  // Serves until the download completes (or, with keepServing, until stopped or timed out) and
  // returns the exit code.
  int Run();

  void Reply(const std::uint8_t* bytes, std::size_t count) override;

 private:
  // Byte times on one direction of the line, scheduled from an anchor so they never drift.
  class Pacer {
   public:
    explicit Pacer(bool pace) : pace_(pace) {}
    // Schedules one byte that may start at `earliest` at the soonest; returns when its last bit
    // has gone (the line is busy until then).
    std::int64_t Schedule(std::int64_t earliest);
    std::int64_t FreeAt() const;
    void Reset() {
      count_ = 0;
      anchorNs_ = 0;
    }

   private:
    bool pace_;
    std::int64_t anchorNs_ = 0;
    std::int64_t count_ = 0;
  };

  struct PendingReply {
    std::int64_t madeAtNs;
    std::uint32_t count;
  };

  static constexpr std::size_t kOutCapacity = 8192;
  static constexpr std::size_t kReplyCapacity = 1024;
  static constexpr std::size_t kPathCapacity = 256;

  bool OpenPseudoTerminal();
  bool CreateLink();
  bool PointLinkAtSlave();
  void RemoveLink();
  int OpenPeer() const;
  void OnLineClosed();
  void ResetSlaveAfterClose();
  void DeliverHostByte(std::uint8_t value, std::int64_t atNs);
  bool ReadOneByte(std::uint8_t& value);
  bool WriteDueByte(std::int64_t now);
  void DropOutput();
  bool SaveImage();
  bool HostHasReadEverything() const;
  int FinalCode(int fallback) const;
  int HangUp();

  // The steps of Run. Each returns the exit code once serving is over, and nothing to go on.
  // One pass: at most one byte handed to the model or written, else one wait on the line.
  std::optional<int> ServeOnce();
  std::optional<int> DeliverHeldByte();
  // Complete and not serving more: exits once the host has read every reply, or had time to.
  std::optional<int> FinishIfDrained(std::int64_t now);
  // Waits until the next byte falls due, the host writes or hangs up, or a full line drains.
  std::optional<int> WaitForLine(std::int64_t now, bool waitWritable);
  std::int64_t WaitLimitNs(std::int64_t now, bool waitWritable) const;
  // The master reports that no host has the line open (or has just closed it).
  std::optional<int> OnNoHost(short revents);
  void Sleep10ms();
  void Event(const char* format, ...) __attribute__((format(printf, 2, 3)));

  ServerConfig config_;
  DeviceModel model_;
  int master_ = -1;
  std::FILE* traceWrites_ = nullptr;
  char slavePath_[kPathCapacity] = {};
  bool linkCreated_ = false;
  bool hostPresent_ = false;
  std::int64_t startNs_ = 0;
  std::int64_t deadlineNs_ = 0;   // when Run gives up, timed out
  bool finishing_ = false;        // complete, and not serving more: exit once the host has it all
  std::int64_t drainedAtNs_ = 0;  // when the last reply of the complete download went out
  std::int64_t deliverAtNs_ = 0;  // time the host byte in hand is fully received

  // Host byte read from the master and still "on the wire".
  bool inHeld_ = false;
  std::uint8_t inByte_ = 0;
  Pacer inPacer_;

  // Replies not yet written, in a ring, with one record per reply for its delay.
  std::uint8_t out_[kOutCapacity] = {};
  std::size_t outHead_ = 0;
  std::size_t outCount_ = 0;
  PendingReply replies_[kReplyCapacity] = {};
  std::size_t replyHead_ = 0;
  std::size_t replyCount_ = 0;
  std::uint32_t headReplyLeft_ = 0;  // bytes of the head reply not yet written
  bool headScheduled_ = false;
  std::int64_t headDueNs_ = 0;
  Pacer outPacer_;
  std::uint64_t droppedReplyBytes_ = 0;

  int completed_ = 0;
  // Protocol event text gathered while one host byte is handled.
  char replyText_[160] = {};
  std::size_t replyTextLength_ = 0;
};

}  // namespace sim
