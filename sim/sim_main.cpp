// sim47913: a simulated model 47.913 device served on a pseudo-terminal.

#include <signal.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "serial/protocol.h"
#include "sim/pty_server.h"

namespace {

namespace protocol = updater::protocol;

constexpr const char kHelp[] =
    "Usage: sim47913 [OPTION]...\n"
    "Simulates a model 47.913 device on a pseudo-terminal, for trying the updater without\n"
    "hardware. The first line on stdout is the path of the terminal to open (nothing else is\n"
    "printed there, except the path of a replacement terminal, see below). With no option it\n"
    "serves one well-behaved device at 9600 baud and exits after one complete, verified\n"
    "download.\n"
    "\n"
    "Options (a value may follow '=' or come as the next argument):\n"
    "  --help               show this text and exit\n"
    "  --link PATH          also make PATH (e.g. /dev/COM3) a symbolic link to the terminal;\n"
    "                       removed at exit. An existing PATH is an error unless it is a\n"
    "                       dangling link\n"
    "  --save FILE          write the received image to FILE after a complete download\n"
    "  --no-pace            move bytes as fast as they come instead of at 9600 baud 8N1\n"
    "                       (about 1.04 ms a byte each way)\n"
    "  --keep-serving       do not exit after a complete download; serve further runs until\n"
    "                       stopped by a signal or the time-out\n"
    "  --timeout SEC        give up after SEC seconds (default 600)\n"
    "  --verbose            one line per protocol event on stderr\n"
    "  --trace-writes FILE  write to FILE the time of every byte written to the terminal,\n"
    "                       one line each: CLOCK_MONOTONIC_RAW in nanoseconds (benchmarks)\n"
    "  --line-bound BYTES   print the line-rate bound of an updater's run with an image of\n"
    "                       BYTES on the port it is given, in seconds to the millisecond, and\n"
    "                       exit: every byte both ways at 9600 baud 8N1 plus the protocol's\n"
    "                       pauses, from the pause before the port's open to the end's echo\n"
    "                       (benchmarks)\n"
    "Faults:\n"
    "  --silent             answer nothing at all\n"
    "  --probe-reply=BYTE   answer the probe with BYTE instead of '0': one character is taken\n"
    "                       as itself ('1' is 0x31), longer values as a number (49, 0x31);\n"
    "                       -1 answers nothing. Only '0' goes on to the length\n"
    "  --reject-length      answer '9' to every length\n"
    "  --max-length=N       answer '9' to lengths above N (default 31743)\n"
    "  --garble-length=N    answer the first N length announcements with a garbage byte\n"
    "  --wrong-echo=OFFSET  invert the echo of the image byte at OFFSET (0-based)\n"
    "  --extra-more=N       after the last block, answer '3' N more times (0 to 1000)\n"
    "  --no-block-ack       never answer '2' after a block, and then stay silent\n"
    "  --no-end-ack         never answer the end byte\n"
    "  --hang-up-after=N    drop the line when the host's Nth byte arrives (unanswered)\n"
    "  --reply-delay=MS     wait MS milliseconds on the line before each reply\n"
    "\n"
    "A host's close of the terminal resets the device to waiting for a probe (a complete image\n"
    "is kept). If the host left the terminal exclusive (TIOCEXCL) and the simulator lacks the\n"
    "privilege to clear that, it moves to a fresh terminal, prints its path as a new line and\n"
    "moves the link.\n"
    "\n"
    "Exit status:\n"
    "  0  a complete, verified download (saved, with --save); with --keep-serving, at least\n"
    "     one download completed before the signal or time-out\n"
    "  1  usage error, or the terminal or the link could not be set up\n"
    "  2  the line was hung up, the image could not be saved, or a signal ended the run\n"
    "     without a complete download\n"
    "  3  time-out without a complete download\n";

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int) {
  g_stop = 1;
}

bool ParseNumber(const char* text, std::uint64_t max, std::uint64_t& value) {
  if (text == nullptr || *text == '\0' || *text == '-' || *text == '+' || *text == ' ') {
    return false;
  }
  errno = 0;
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || parsed > max) {
    return false;
  }
  value = parsed;
  return true;
}

bool ParseByte(const char* text, int& value) {
  if (text == nullptr || *text == '\0') {
    return false;
  }
  if (text[1] == '\0') {
    value = static_cast<unsigned char>(text[0]);
    return true;
  }
  if (std::strcmp(text, "-1") == 0) {
    value = -1;
    return true;
  }
  std::uint64_t number = 0;
  if (!ParseNumber(text, 255, number)) {
    return false;
  }
  value = static_cast<int>(number);
  return true;
}

int Usage(const char* problem, const char* what) {
  std::fprintf(stderr, "sim47913: %s: %s\nTry 'sim47913 --help'.\n", problem, what);
  return sim::kExitUsage;
}

// Splits "--name=value" or "--name value". Returns false when the argument is not `name`.
bool Matches(const char* name, int argc, char** argv, int& i, const char*& value) {
  const std::size_t length = std::strlen(name);
  const char* argument = argv[i];
  if (std::strncmp(argument, name, length) != 0) {
    return false;
  }
  if (argument[length] == '=') {
    value = argument + length + 1;
    return true;
  }
  if (argument[length] != '\0') {
    return false;
  }
  value = i + 1 < argc ? argv[++i] : nullptr;
  return true;
}

// Parses the command line into `config`. Returns -1 to go on, or an exit code.
int ParseArguments(int argc, char** argv, sim::ServerConfig& config) {
  sim::DeviceFaults& faults = config.faults;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    const char* value = nullptr;
    std::uint64_t number = 0;
    if (std::strcmp(argument, "--help") == 0) {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (std::strcmp(argument, "--no-pace") == 0) {
      config.pace = false;
    } else if (std::strcmp(argument, "--keep-serving") == 0) {
      config.keepServing = true;
    } else if (std::strcmp(argument, "--verbose") == 0) {
      config.verbose = true;
    } else if (std::strcmp(argument, "--silent") == 0) {
      faults.silent = true;
    } else if (std::strcmp(argument, "--reject-length") == 0) {
      faults.rejectLength = true;
    } else if (std::strcmp(argument, "--no-block-ack") == 0) {
      faults.noBlockAck = true;
    } else if (std::strcmp(argument, "--no-end-ack") == 0) {
      faults.noEndAck = true;
    } else if (Matches("--line-bound", argc, argv, i, value)) {
      if (!ParseNumber(value, UINT32_MAX, number)) {
        return Usage("--line-bound needs a number of bytes", argument);
      }
      // The updater given the port (--port): one open, then the probe.
      const auto size = static_cast<std::uint32_t>(number);
      std::printf("%.3f\n", protocol::LineBoundSeconds(size) + protocol::SearchBoundSeconds(1));
      return 0;
    } else if (Matches("--link", argc, argv, i, value)) {
      if (value == nullptr || *value == '\0') {
        return Usage("--link needs a path", argument);
      }
      config.linkPath = value;
    } else if (Matches("--save", argc, argv, i, value)) {
      if (value == nullptr || *value == '\0') {
        return Usage("--save needs a file name", argument);
      }
      config.savePath = value;
    } else if (Matches("--trace-writes", argc, argv, i, value)) {
      if (value == nullptr || *value == '\0') {
        return Usage("--trace-writes needs a file name", argument);
      }
      config.traceWritesPath = value;
    } else if (Matches("--timeout", argc, argv, i, value)) {
      if (!ParseNumber(value, 100'000'000, number) || number == 0) {
        return Usage("--timeout needs a number of seconds above 0", argument);
      }
      config.timeoutSec = static_cast<std::uint32_t>(number);
    } else if (Matches("--probe-reply", argc, argv, i, value)) {
      if (!ParseByte(value, faults.probeReply)) {
        return Usage("--probe-reply needs a character, a number 0 to 255 or -1", argument);
      }
    } else if (Matches("--max-length", argc, argv, i, value)) {
      if (!ParseNumber(value, UINT32_MAX, number)) {
        return Usage("--max-length needs a number", argument);
      }
      faults.maxLength = static_cast<std::uint32_t>(number);
    } else if (Matches("--garble-length", argc, argv, i, value)) {
      if (!ParseNumber(value, 1'000'000, number)) {
        return Usage("--garble-length needs a number", argument);
      }
      faults.garbledLengthReplies = static_cast<int>(number);
    } else if (Matches("--wrong-echo", argc, argv, i, value)) {
      if (!ParseNumber(value, 65535, number)) {
        return Usage("--wrong-echo needs an offset 0 to 65535", argument);
      }
      faults.wrongEchoOffset = static_cast<long>(number);
    } else if (Matches("--extra-more", argc, argv, i, value)) {
      if (!ParseNumber(value, 1000, number)) {
        return Usage("--extra-more needs a number 0 to 1000", argument);
      }
      faults.extraMoreReplies = static_cast<int>(number);
    } else if (Matches("--hang-up-after", argc, argv, i, value)) {
      if (!ParseNumber(value, 1'000'000'000, number)) {
        return Usage("--hang-up-after needs a number of bytes", argument);
      }
      faults.hangUpAfterHostBytes = static_cast<long>(number);
    } else if (Matches("--reply-delay", argc, argv, i, value)) {
      if (!ParseNumber(value, 3'600'000, number)) {
        return Usage("--reply-delay needs a number of milliseconds", argument);
      }
      faults.replyDelayMs = static_cast<std::uint32_t>(number);
    } else {
      return Usage("unknown argument", argument);
    }
  }
  return -1;
}

sim::ServerConfig g_config;

}  // namespace

int main(int argc, char** argv) {
  const int parsed = ParseArguments(argc, argv, g_config);
  if (parsed >= 0) {
    return parsed;
  }

  // The stop signals are blocked except while the server waits, so one arriving between its
  // check of the flag and its wait still ends the wait.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  sigset_t waitMask;
  sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  sigdelset(&waitMask, SIGHUP);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  g_config.stopRequested = &g_stop;
  g_config.waitMask = &waitMask;

  // Static: it holds the device's whole image buffer. Its destructor removes the link.
  static sim::PtyServer server(g_config);
  if (!server.Start()) {
    return sim::kExitUsage;
  }
  return server.Run();
}
