#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "serial/posix_line_settings.h"
#include "serial/posix_monotonic.h"
#include "serial/protocol.h"

namespace sim {

namespace {

using updater::posix::kNsPerMs;
using updater::posix::kNsPerSecond;
using updater::posix::MonotonicNowNs;
using updater::posix::ToTimespec;

constexpr std::int64_t kBitsPerByte = protocol::kBitsPerByte;
constexpr std::int64_t kBaud = protocol::kBaud;
// While nobody has the slave open the master reports POLLHUP at once, so absence is checked
// at this interval instead of in a tight loop.
constexpr std::int64_t kAbsentCheckNs = 10 * kNsPerMs;
// After the last reply of a complete download, how long to wait for the host to read it or
// close the line before exiting anyway (closing the master discards what the host has not read).
constexpr std::int64_t kLingerNs = 3 * kNsPerSecond;

}  // namespace

std::int64_t PtyServer::Pacer::FreeAt() const {
  if (!pace_) {
    return anchorNs_;
  }
  // Computed from the anchor each time, so a long burst keeps the exact rate.
  return anchorNs_ + count_ * kBitsPerByte * kNsPerSecond / kBaud;
}

std::int64_t PtyServer::Pacer::Schedule(std::int64_t earliest) {
  if (!pace_) {
    anchorNs_ = std::max(anchorNs_, earliest);
    return anchorNs_;
  }
  if (earliest > FreeAt()) {
    anchorNs_ = earliest;  // the line was idle: a new burst starts
    count_ = 0;
  }
  ++count_;
  return FreeAt();
}

PtyServer::PtyServer(const ServerConfig& config)
    : config_(config),
      model_(config.faults, *this),
      inPacer_(config.pace),
      outPacer_(config.pace) {}

PtyServer::~PtyServer() {
  RemoveLink();
  if (master_ >= 0) {
    close(master_);
  }
  if (traceWrites_ != nullptr) {
    std::fclose(traceWrites_);
  }
}

bool PtyServer::Start() {
  if (!OpenPseudoTerminal()) {
    return false;
  }
  if (config_.linkPath != nullptr && !CreateLink()) {
    return false;
  }
  if (config_.traceWritesPath != nullptr) {
    traceWrites_ = std::fopen(config_.traceWritesPath, "w");
    if (traceWrites_ == nullptr) {
      std::fprintf(stderr, "sim47913: cannot write %s: %s\n", config_.traceWritesPath,
                   std::strerror(errno));
      return false;
    }
  }
  std::printf("%s\n", slavePath_);
  std::fflush(stdout);
  return true;
}

bool PtyServer::OpenPseudoTerminal() {
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    std::fprintf(stderr, "sim47913: cannot create a pseudo-terminal: %s\n", std::strerror(errno));
    return false;
  }
  char path[kPathCapacity] = {};
  if (ptsname_r(master, path, sizeof path) != 0) {
    std::fprintf(stderr, "sim47913: cannot name the pseudo-terminal: %s\n", std::strerror(errno));
    close(slave);
    close(master);
    return false;
  }
  // Raw from the start, so that a host that keeps the settings it finds gets a binary line.
  termios settings{};
  if (tcgetattr(slave, &settings) == 0) {
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&settings, updater::BaudToSpeed(protocol::kBaud));
    cfsetospeed(&settings, updater::BaudToSpeed(protocol::kBaud));
    tcsetattr(slave, TCSANOW, &settings);
  }
  // Only with no slave descriptor of ours open does the host's close show on the master.
  close(slave);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  if (master_ >= 0) {
    close(master_);
  }
  master_ = master;
  std::memcpy(slavePath_, path, sizeof path);
  hostPresent_ = false;
  return true;
}

bool PtyServer::CreateLink() {
  const char* link = config_.linkPath;
  int result = symlink(slavePath_, link);
  if (result != 0 && errno == EEXIST) {
    // A dangling link left by a simulator that was killed may be replaced; anything else is
    // somebody else's and stays.
    struct stat info {};
    const bool dangling = lstat(link, &info) == 0 && S_ISLNK(info.st_mode) &&
                          stat(link, &info) != 0 && errno == ENOENT;
    if (dangling && unlink(link) == 0) {
      result = symlink(slavePath_, link);
    } else {
      errno = EEXIST;
    }
  }
  if (result == 0) {
    linkCreated_ = true;
    return true;
  }
  std::fprintf(stderr, "sim47913: cannot create the link %s -> %s: %s\n", link, slavePath_,
               std::strerror(errno));
  return false;
}

bool PtyServer::PointLinkAtSlave() {
  // Replace the link in one step, so a host never finds it missing.
  char temporary[kPathCapacity + 32] = {};
  const int length = std::snprintf(temporary, sizeof temporary, "%s.sim%ld", config_.linkPath,
                                   static_cast<long>(getpid()));
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof temporary) {
    return false;
  }
  unlink(temporary);
  if (symlink(slavePath_, temporary) != 0) {
    return false;
  }
  if (rename(temporary, config_.linkPath) != 0) {
    unlink(temporary);
    return false;
  }
  return true;
}

void PtyServer::RemoveLink() {
  if (!linkCreated_) {
    return;
  }
  linkCreated_ = false;
  // Only our own link: another simulator may have taken the name since.
  char target[kPathCapacity] = {};
  const ssize_t length = readlink(config_.linkPath, target, sizeof target - 1);
  if (length > 0 && std::strcmp(target, slavePath_) == 0) {
    unlink(config_.linkPath);
  }
}

int PtyServer::OpenPeer() const {
  int peer = ioctl(master_, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (peer < 0 && (errno == EINVAL || errno == ENOTTY)) {
    peer = open(slavePath_, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  }
  return peer;
}

void PtyServer::Reply(const std::uint8_t* bytes, std::size_t count) {
  if (config_.verbose) {
    char item[24] = {};
    if (count != 1) {
      std::snprintf(item, sizeof item, " <%zu bytes>", count);
    } else if (bytes[0] >= 0x20 && bytes[0] < 0x7F) {
      std::snprintf(item, sizeof item, " '%c'", bytes[0]);
    } else {
      std::snprintf(item, sizeof item, " 0x%02X", bytes[0]);
    }
    const std::size_t itemLength = std::strlen(item);
    if (replyTextLength_ + itemLength < sizeof replyText_) {
      std::memcpy(replyText_ + replyTextLength_, item, itemLength + 1);
      replyTextLength_ += itemLength;
    }
  }
  if (count == 0) {
    return;
  }
  if (outCount_ + count > kOutCapacity || replyCount_ == kReplyCapacity) {
    // Only a host that never reads gets here; a real device would lose the bytes too.
    droppedReplyBytes_ += count;
    return;
  }
  for (std::size_t i = 0; i < count; ++i) {
    out_[(outHead_ + outCount_) % kOutCapacity] = bytes[i];
    ++outCount_;
  }
  replies_[(replyHead_ + replyCount_) % kReplyCapacity] =
      PendingReply{deliverAtNs_, static_cast<std::uint32_t>(count)};
  ++replyCount_;
}

void PtyServer::DropOutput() {
  outHead_ = 0;
  outCount_ = 0;
  replyHead_ = 0;
  replyCount_ = 0;
  headReplyLeft_ = 0;
  headScheduled_ = false;
}

bool PtyServer::ReadOneByte(std::uint8_t& value) {
  return read(master_, &value, 1) == 1;
}

bool PtyServer::WriteDueByte(std::int64_t now) {
  if (!headScheduled_) {
    std::int64_t earliest = outPacer_.FreeAt();
    if (headReplyLeft_ == 0) {
      const PendingReply reply = replies_[replyHead_];
      replyHead_ = (replyHead_ + 1) % kReplyCapacity;
      --replyCount_;
      headReplyLeft_ = reply.count;
      // The delay is a gap on the line before each reply.
      earliest = std::max(earliest, reply.madeAtNs) +
                 static_cast<std::int64_t>(config_.faults.replyDelayMs) * kNsPerMs;
    }
    headDueNs_ = outPacer_.Schedule(earliest);
    headScheduled_ = true;
  }
  if (now < headDueNs_) {
    return false;
  }
  if (write(master_, &out_[outHead_], 1) != 1) {
    return false;
  }
  if (traceWrites_ != nullptr) {
    // The raw monotonic clock is what Wine's performance counter reads, so a Windows program
    // under Wine can set its own times against these.
    timespec raw{};
    clock_gettime(CLOCK_MONOTONIC_RAW, &raw);
    std::fprintf(traceWrites_, "%lld\n",
                 static_cast<long long>(raw.tv_sec) * kNsPerSecond + raw.tv_nsec);
    std::fflush(traceWrites_);
  }
  outHead_ = (outHead_ + 1) % kOutCapacity;
  --outCount_;
  --headReplyLeft_;
  headScheduled_ = false;
  return true;
}

void PtyServer::OnLineClosed() {
  hostPresent_ = false;
  model_.LineClosed();
  inHeld_ = false;
  DropOutput();
  ResetSlaveAfterClose();
  Event("host closed the line");
}

void PtyServer::ResetSlaveAfterClose() {
  // What the host wrote before closing is no longer anybody's.
  std::uint8_t discard[256];
  for (int i = 0; i < 256 && read(master_, discard, sizeof discard) > 0; ++i) {
  }
  // The slave keeps, past the host's close, both the replies the host did not read (the next
  // host would read them first) and the host's TIOCEXCL (the next open would fail with EBUSY).
  const int peer = OpenPeer();
  if (peer >= 0) {
    tcflush(peer, TCIOFLUSH);
    ioctl(peer, TIOCNXCL);
    close(peer);
    return;
  }
  if (errno != EBUSY) {
    Event("cannot reset the slave: %s", std::strerror(errno));
    return;
  }
  // Exclusive, and we lack the privilege to clear it: only a fresh pseudo-terminal can be
  // opened again. Its path goes on stdout like the first one, and the link follows it.
  char oldPath[kPathCapacity] = {};
  std::memcpy(oldPath, slavePath_, sizeof oldPath);
  if (!OpenPseudoTerminal()) {
    return;
  }
  if (linkCreated_ && !PointLinkAtSlave()) {
    std::fprintf(stderr, "sim47913: cannot move the link %s to %s: %s\n", config_.linkPath,
                 slavePath_, std::strerror(errno));
  }
  std::printf("%s\n", slavePath_);
  std::fflush(stdout);
  Event("%s stays exclusive after the host's close; now serving %s", oldPath, slavePath_);
}

bool PtyServer::HostHasReadEverything() const {
  const int peer = OpenPeer();
  if (peer < 0) {
    return false;
  }
  // Not FIONREAD: written bytes reach the slave's queue through deferred work, which poll (but
  // not FIONREAD) waits for.
  pollfd slave{peer, POLLIN, 0};
  const int ready = poll(&slave, 1, 0);
  close(peer);
  return ready == 0;
}

bool PtyServer::SaveImage() {
  if (config_.savePath == nullptr) {
    return true;
  }
  const int fd = open(config_.savePath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0;
  std::size_t done = 0;
  const std::size_t length = model_.image_length();
  while (ok && done < length) {
    const ssize_t written = write(fd, model_.image() + done, length - done);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    ok = written > 0;
    if (ok) {
      done += static_cast<std::size_t>(written);
    }
  }
  const int savedErrno = errno;
  if (fd >= 0 && close(fd) != 0) {
    ok = false;
  }
  if (!ok) {
    std::fprintf(stderr, "sim47913: cannot save the image to %s: %s\n", config_.savePath,
                 std::strerror(savedErrno));
  }
  return ok;
}

void PtyServer::DeliverHostByte(std::uint8_t value, std::int64_t atNs) {
  deliverAtNs_ = atNs;
  const int probes = model_.probes();
  const int announcements = model_.announcements();
  const int blocks = model_.blocks();
  const int emptyBlocks = model_.empty_blocks();
  const DeviceModel::Phase phase = model_.phase();
  replyTextLength_ = 0;
  replyText_[0] = '\0';

  model_.OnHostByte(value);

  if (!config_.verbose) {
    return;
  }
  const char* replies = replyTextLength_ > 0 ? replyText_ : " none";
  if (model_.hung_up()) {
    Event("line dropped at host byte %ld", model_.host_bytes());
  } else if (model_.probes() != probes) {
    Event("probe: replied%s", replies);
  } else if (model_.announcements() != announcements) {
    Event("length %u announced: replied%s", model_.last_announced(), replies);
  } else if (model_.blocks() != blocks || model_.empty_blocks() != emptyBlocks) {
    const int empty = model_.empty_blocks() - emptyBlocks;
    Event("block %d%s: replied%s", model_.blocks(), empty > 0 ? " and empty blocks" : "", replies);
  } else if (phase != model_.phase() && model_.phase() == DeviceModel::Phase::kDone) {
    Event("end byte: replied%s; download %s", replies,
          model_.complete() ? "complete" : "NOT complete");
  } else if (replyTextLength_ > 0) {
    Event("byte 0x%02X: replied%s", value, replies);
  }
}

int PtyServer::FinalCode(int fallback) const {
  return completed_ > 0 ? kExitComplete : fallback;
}

void PtyServer::Sleep10ms() {
  const timespec interval = ToTimespec(kAbsentCheckNs);
  ppoll(nullptr, 0, &interval, config_.waitMask);
}

void PtyServer::Event(const char* format, ...) {
  if (!config_.verbose) {
    return;
  }
  char text[320];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  const double seconds =
      static_cast<double>(MonotonicNowNs() - startNs_) / static_cast<double>(kNsPerSecond);
  std::fprintf(stderr, "sim47913 %9.3f: %s\n", seconds, text);
}

int PtyServer::HangUp() {
  Event("hanging up");
  close(master_);
  master_ = -1;
  return FinalCode(kExitIncomplete);
}

int PtyServer::Run() {
  startNs_ = MonotonicNowNs();
  deadlineNs_ = startNs_ + static_cast<std::int64_t>(config_.timeoutSec) * kNsPerSecond;
  finishing_ = false;
  drainedAtNs_ = 0;
  if (model_.hung_up()) {
    return HangUp();
  }
  for (;;) {
    if (const std::optional<int> code = ServeOnce()) {
      return *code;
    }
  }
}

std::optional<int> PtyServer::ServeOnce() {
  if (config_.stopRequested != nullptr && *config_.stopRequested != 0) {
    Event("stopped by a signal");
    return FinalCode(kExitIncomplete);
  }
  const std::int64_t now = MonotonicNowNs();
  if (now >= deadlineNs_) {
    Event("timed out");
    std::fprintf(stderr, "sim47913: timed out after %u s\n", config_.timeoutSec);
    return FinalCode(kExitTimedOut);
  }
  if (inHeld_ && now >= deliverAtNs_) {
    return DeliverHeldByte();
  }
  bool waitWritable = false;
  if (outCount_ > 0) {
    if (WriteDueByte(now)) {
      return std::nullopt;
    }
    // Due but not taken: the line is full, so wait until it takes bytes again.
    waitWritable = headScheduled_ && now >= headDueNs_;
  }
  if (std::optional<int> code = FinishIfDrained(now)) {
    return code;
  }
  return WaitForLine(now, waitWritable);
}

std::optional<int> PtyServer::DeliverHeldByte() {
  // The host byte on the wire has fully arrived: hand it over, and take the next one if it is
  // already waiting (it starts right behind this one).
  inHeld_ = false;
  const bool wasComplete = model_.complete();
  DeliverHostByte(inByte_, deliverAtNs_);
  if (model_.hung_up()) {
    return HangUp();
  }
  if (!wasComplete && model_.complete()) {
    if (!SaveImage()) {
      return kExitIncomplete;
    }
    ++completed_;
    if (!config_.keepServing) {
      finishing_ = true;
      drainedAtNs_ = 0;
    }
  }
  if (ReadOneByte(inByte_)) {
    inHeld_ = true;
    deliverAtNs_ = inPacer_.Schedule(inPacer_.FreeAt());
  }
  return std::nullopt;
}

std::optional<int> PtyServer::FinishIfDrained(std::int64_t now) {
  if (!finishing_ || outCount_ != 0) {
    return std::nullopt;
  }
  if (drainedAtNs_ == 0) {
    drainedAtNs_ = now;
  }
  const std::int64_t drained = now - drainedAtNs_;
  if (drained >= kLingerNs || (drained >= kAbsentCheckNs && HostHasReadEverything())) {
    Event("download complete; exiting");
    return kExitComplete;
  }
  return std::nullopt;
}

std::int64_t PtyServer::WaitLimitNs(std::int64_t now, bool waitWritable) const {
  std::int64_t waitNs = deadlineNs_ - now;
  if (inHeld_) {
    waitNs = std::min(waitNs, deliverAtNs_ - now);
  }
  if (outCount_ > 0 && !waitWritable) {
    waitNs = std::min(waitNs, headDueNs_ - now);
  }
  if (finishing_ && outCount_ == 0) {
    waitNs = std::min(waitNs, kAbsentCheckNs);
  }
  return waitNs;
}

std::optional<int> PtyServer::WaitForLine(std::int64_t now, bool waitWritable) {
  pollfd line{master_, 0, 0};
  if (!inHeld_) {
    line.events |= POLLIN;
  }
  if (waitWritable) {
    line.events |= POLLOUT;
  }
  const timespec wait = ToTimespec(WaitLimitNs(now, waitWritable));
  const int ready = ppoll(&line, 1, &wait, config_.waitMask);
  if (ready < 0) {
    if (errno == EINTR) {
      return std::nullopt;
    }
    std::fprintf(stderr, "sim47913: poll failed: %s\n", std::strerror(errno));
    return FinalCode(kExitIncomplete);
  }
  if ((line.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
    return OnNoHost(line.revents);
  }
  if (!hostPresent_) {
    hostPresent_ = true;
    Event("host opened the line");
  }
  if ((line.revents & POLLIN) != 0 && !inHeld_ && ReadOneByte(inByte_)) {
    inHeld_ = true;
    deliverAtNs_ = inPacer_.Schedule(MonotonicNowNs());
  }
  return std::nullopt;
}

std::optional<int> PtyServer::OnNoHost(short revents) {
  // Input with nobody present is left from a host that came and went between two checks.
  if (hostPresent_ || (revents & POLLIN) != 0) {
    OnLineClosed();
  }
  if (finishing_) {
    Event("download complete; exiting");
    return kExitComplete;
  }
  Sleep10ms();
  return std::nullopt;
}

}  // namespace sim
