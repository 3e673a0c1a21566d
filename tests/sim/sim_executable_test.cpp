// The simulator executable, run as its own process and spoken to over its pseudo-terminal.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int kWaitMs = 10000;  // wide: the machine may be loaded

int MsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

class SimProcess {
 public:
  SimProcess() = default;
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {out_, err_, pidfd_}) {
      if (fd >= 0) {
        close(fd);
      }
    }
  }

  // Starts sim47913 with `args`; with `readPath`, waits for the terminal's path line.
  bool Spawn(const std::vector<std::string>& args, bool readPath = true) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
      return false;
    }
    std::vector<char*> argv;
    std::string program = SIM47913_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
    pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (pid_ < 0 || pidfd_ < 0) {
      return false;
    }
    if (!readPath) {
      return true;
    }
    const std::string line = ReadUntil(out_, "\n", stdout_);
    if (line.empty()) {
      return false;
    }
    path = line.substr(0, line.size() - 1);
    return true;
  }

  // Exit code, or -1 when the process is still running after `timeoutMs`.
  int WaitExit(int timeoutMs = kWaitMs) {
    pollfd exited{pidfd_, POLLIN, 0};
    if (poll(&exited, 1, timeoutMs) != 1) {
      return -1;
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  void Signal(int number) { kill(pid_, number); }

  // All of stdout up to its end (for --help).
  std::string ReadAllStdout() {
    ReadUntil(out_, std::string(1, '\0'), stdout_);
    return stdout_;
  }

  bool WaitForStderr(const std::string& needle) {
    return !ReadUntil(err_, needle, stderr_).empty();
  }

  std::string path;

 private:
  // Reads `fd` into `text` until `needle` shows; returns `text` up to and including it.
  static std::string ReadUntil(int fd, const std::string& needle, std::string& text) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
    for (;;) {
      const std::size_t at = text.find(needle);
      if (at != std::string::npos) {
        return text.substr(0, at + needle.size());
      }
      pollfd readable{fd, POLLIN, 0};
      if (poll(&readable, 1, MsLeft(deadline)) != 1) {
        return {};
      }
      char chunk[512];
      const ssize_t got = read(fd, chunk, sizeof chunk);
      if (got <= 0) {
        return {};
      }
      text.append(chunk, static_cast<std::size_t>(got));
    }
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  int pidfd_ = -1;
  std::string stdout_;
  std::string stderr_;
};

// The host's end, opened as the updater opens a port.
class Line {
 public:
  explicit Line(const std::string& path, bool exclusive = false) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) {
      return;
    }
    termios settings{};
    tcgetattr(fd_, &settings);
    cfmakeraw(&settings);
    tcsetattr(fd_, TCSANOW, &settings);
    if (exclusive) {
      ioctl(fd_, TIOCEXCL);
    }
  }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;
  ~Line() { Close(); }

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void Close() {
    if (fd_ >= 0) {
      close(fd_);
      fd_ = -1;
    }
  }

  void Write(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t put = write(fd_, bytes.data() + done, bytes.size() - done);
      if (put > 0) {
        done += static_cast<std::size_t>(put);
        continue;
      }
      pollfd writable{fd_, POLLOUT, 0};
      ASSERT_EQ(poll(&writable, 1, kWaitMs), 1) << "the line takes no more bytes";
    }
  }
  void Write(char c) { Write(Bytes{static_cast<std::uint8_t>(c)}); }

  // Up to `count` bytes: fewer when the time-out passes or the line drops.
  Bytes Read(std::size_t count, int timeoutMs = kWaitMs) {
    Bytes got;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count) {
      std::uint8_t chunk[256];
      const std::size_t want = std::min(sizeof chunk, count - got.size());
      const ssize_t n = read(fd_, chunk, want);
      if (n > 0) {
        got.insert(got.end(), chunk, chunk + n);
        continue;
      }
      if (n == 0 || errno != EAGAIN) {
        break;
      }
      pollfd readable{fd_, POLLIN, 0};
      if (poll(&readable, 1, MsLeft(deadline)) != 1 || (readable.revents & POLLIN) == 0) {
        break;
      }
    }
    return got;
  }
  int ReadByte() {
    const Bytes got = Read(1);
    return got.empty() ? -1 : got[0];
  }

 private:
  int fd_ = -1;
};

Bytes TestImage(std::size_t length) {
  // The bytes a cooked terminal would mangle come first.
  Bytes image = {0x00, 0x0D, 0x11, 0x13, 0xFF, 0x0A, 0x7F, 0x03};
  for (std::size_t i = image.size(); i < length; ++i) {
    image.push_back(static_cast<std::uint8_t>(i * 13 + 1));
  }
  image.resize(length);
  return image;
}

// The host's side of a whole download, checked reply by reply.
void RunDownload(Line& line, const Bytes& image) {
  line.Write('0');
  ASSERT_EQ(line.ReadByte(), '0');
  line.Write(Bytes{static_cast<std::uint8_t>(image.size() >> 8),
                   static_cast<std::uint8_t>(image.size() & 0xFF)});
  ASSERT_EQ(line.ReadByte(), '1');
  for (std::size_t at = 0; at < image.size(); at += 128) {
    const std::size_t count = std::min<std::size_t>(128, image.size() - at);
    const Bytes block(image.begin() + static_cast<long>(at),
                      image.begin() + static_cast<long>(at + count));
    line.Write(block);
    ASSERT_EQ(line.ReadByte(), '2');
    ASSERT_EQ(line.Read(count), block);
    ASSERT_EQ(line.ReadByte(), at + count < image.size() ? '3' : '4');
  }
  line.Write('6');
  ASSERT_EQ(line.ReadByte(), '6');
}

std::string TempPath(const std::string& name) {
  return support::ProcessTempDir().File(name);
}

Bytes ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(SimExecutable, HelpDocumentsEveryOptionAndExitCode) {
  SimProcess sim;
  ASSERT_TRUE(sim.Spawn({"--help"}, false));
  const std::string help = sim.ReadAllStdout();
  EXPECT_EQ(sim.WaitExit(), 0);
  for (const char* option : {"--link",
                             "--save",
                             "--no-pace",
                             "--keep-serving",
                             "--timeout",
                             "--verbose",
                             "--silent",
                             "--probe-reply",
                             "--reject-length",
                             "--max-length",
                             "--garble-length",
                             "--wrong-echo",
                             "--extra-more",
                             "--no-block-ack",
                             "--no-end-ack",
                             "--hang-up-after",
                             "--reply-delay",
                             "--line-bound",
                             "Exit status",
                             "  0 ",
                             "  1 ",
                             "  2 ",
                             "  3 "}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
}

TEST(SimExecutable, BadArgumentsAreUsageErrors) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--bogus"},
                                             {"--timeout", "0"},
                                             {"--max-length=x"},
                                             {"--probe-reply=256"},
                                             {"--save"},
                                             {"--line-bound", "-3"},
                                             {"stray"}}) {
    SimProcess sim;
    ASSERT_TRUE(sim.Spawn(args, false));
    EXPECT_EQ(sim.WaitExit(), 1) << args[0];
  }
}

TEST(SimExecutable, LineBoundIsPrintedForTheScripts) {
  // 300 bytes on a named port: 613 bytes on the line (1.04 ms each) and 2.110 s of pauses.
  SimProcess sim;
  ASSERT_TRUE(sim.Spawn({"--line-bound", "300"}, false));
  EXPECT_EQ(sim.ReadAllStdout(), "2.749\n");
  EXPECT_EQ(sim.WaitExit(), 0);
}

TEST(SimExecutable, CompleteDownloadIsSavedAndEndsTheRun) {
  const std::string save = TempPath("image.bin");
  unlink(save.c_str());
  SimProcess sim;
  ASSERT_TRUE(sim.Spawn({"--no-pace", "--save", save}));
  Line line(sim.path);
  ASSERT_TRUE(line.ok());
  const Bytes image = TestImage(300);
  RunDownload(line, image);
  line.Close();
  EXPECT_EQ(sim.WaitExit(), 0);
  EXPECT_EQ(ReadFile(save), image);
  unlink(save.c_str());
}

TEST(SimExecutable, RejectedLengthThenSignalRemovesTheLink) {
  const std::string link = TempPath("COM3");
  unlink(link.c_str());
  SimProcess sim;
  ASSERT_TRUE(sim.Spawn({"--no-pace", "--reject-length", "--link", link}));
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(sim.path, target);

  Line line(link);
  ASSERT_TRUE(line.ok());
  line.Write('0');
  EXPECT_EQ(line.ReadByte(), '0');
  line.Write(Bytes{0x00, 0x10});
  EXPECT_EQ(line.ReadByte(), '9');

  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.WaitExit(), 2);
  struct stat info {};
  EXPECT_NE(lstat(link.c_str(), &info), 0) << "the link outlived the simulator";
}

TEST(SimExecutable, ExistingLinkPathIsRefused) {
  const std::string taken = TempPath("taken");
  std::ofstream(taken) << "not a terminal";
  SimProcess sim;
  ASSERT_TRUE(sim.Spawn({"--link", taken}, false));
  EXPECT_EQ(sim.WaitExit(), 1);
  EXPECT_EQ(ReadFile(taken).size(), 14u) << "somebody else's file was touched";
  unlink(taken.c_str());
}

TEST(SimExecutable, HangUpAfterDropsTheLine) {
  SimProcess sim;
  ASSERT_TRUE(sim.Spawn({"--no-pace", "--hang-up-after=3"}));
  Line line(sim.path);
  ASSERT_TRUE(line.ok());
  line.Write('0');
  EXPECT_EQ(line.ReadByte(), '0');
  line.Write(Bytes{0x00, 0x05});
  pollfd dropped{line.fd(), POLLIN, 0};
  ASSERT_EQ(poll(&dropped, 1, kWaitMs), 1);
  EXPECT_NE(dropped.revents & POLLHUP, 0);
  std::uint8_t byte = 0;
  EXPECT_LE(read(line.fd(), &byte, 1), 0) << "a reply came after the hang-up";
  EXPECT_EQ(sim.WaitExit(), 2);
}

TEST(SimExecutable, ReopenedLineStartsClean) {
  SimProcess sim;
  ASSERT_TRUE(sim.Spawn({"--no-pace", "--verbose"}));
  {
    // A host that probes, leaves the reply unread and closes an exclusive port.
    Line first(sim.path, true);
    ASSERT_TRUE(first.ok());
    first.Write('0');
    pollfd replied{first.fd(), POLLIN, 0};
    ASSERT_EQ(poll(&replied, 1, kWaitMs), 1);
  }
  ASSERT_TRUE(sim.WaitForStderr("host closed the line"));

  if (geteuid() == 0) {
    // Root ignores TIOCEXCL: try as an ordinary user whether the flag outlived the host.
    ASSERT_EQ(chmod(sim.path.c_str(), 0666), 0);
    const pid_t child = fork();
    if (child == 0) {
      if (setuid(65534) != 0) {
        _exit(2);
      }
      const int fd = open(sim.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      _exit(fd >= 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "a second host cannot open the line";
  }

  Line second(sim.path);
  ASSERT_TRUE(second.ok());
  EXPECT_TRUE(second.Read(1, 200).empty()) << "the first host's unread reply is still there";
  RunDownload(second, TestImage(20));
  second.Close();
  EXPECT_EQ(sim.WaitExit(), 0);
}

TEST(SimExecutable, ProbeReplyTakesACharacterOrANumber) {
  for (const auto& [option, reply] : std::vector<std::pair<std::string, int>>{
           {"--probe-reply=1", '1'}, {"--probe-reply=0x41", 'A'}}) {
    SimProcess sim;
    ASSERT_TRUE(sim.Spawn({"--no-pace", option}));
    Line line(sim.path);
    ASSERT_TRUE(line.ok());
    line.Write('0');
    EXPECT_EQ(line.ReadByte(), reply) << option;
  }
}

TEST(SimExecutable, TimeOutEndsAnUnfinishedRun) {
  SimProcess sim;
  const Clock::time_point start = Clock::now();
  ASSERT_TRUE(sim.Spawn({"--timeout", "1"}));
  EXPECT_EQ(sim.WaitExit(), 3);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(900));
}

TEST(SimExecutable, PacedLineTakesAtLeastTheByteTimes) {
  SimProcess sim;
  ASSERT_TRUE(sim.Spawn({}));
  Line line(sim.path);
  ASSERT_TRUE(line.ok());
  const Clock::time_point start = Clock::now();
  RunDownload(line, TestImage(300));
  const auto elapsed = Clock::now() - start;
  // 300 bytes each way plus 11 handshake bytes at 10 bits / 9600 baud come to about 636 ms.
  EXPECT_GE(elapsed, std::chrono::milliseconds(500));
  line.Close();
  EXPECT_EQ(sim.WaitExit(), 0);
}

}  // namespace
