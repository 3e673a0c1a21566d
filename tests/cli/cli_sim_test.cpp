#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "serial/posix_port_driver.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Temp(const std::string& name) {
  return support::ProcessTempDir().File(name);
}

std::string WriteImage(const std::string& name, std::size_t length) {
  std::vector<std::uint8_t> bytes(length);
  for (std::size_t i = 0; i < length; ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
  return support::WriteImage(Temp(name), bytes);
}

// Every line of the file is a JSON object (Python's parser decides).
bool AllJsonObjects(const std::string& path) {
  const std::string command =
      "python3 -c 'import json,sys\nfor l in open(sys.argv[1]): "
      "assert isinstance(json.loads(l), dict)' " +
      path;
  return std::system(command.c_str()) == 0;
}

// The command line (its test variant, with COM1 to COM4 from `ports`) as a child process;
// standard output and error go to files. `language`, when given, is its LANG, with the build's
// catalogs and no other of gettext's variables.
class Cli {
 public:
  Cli(const std::string& name, const std::string& ports, std::vector<std::string> args,
      const std::string& language = "")
      : out(Temp(name + ".out")), err(Temp(name + ".err")) {
    args.insert(args.begin(), CLI_TEST_PROGRAM);
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string env = "UPDATER_CLI_TEST_PORTS=" + ports;
    pid_ = fork();
    if (pid_ == 0) {
      if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr))
        _exit(127);
      putenv(const_cast<char*>(env.c_str()));
      if (!language.empty()) {
        for (const char* variable : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
          unsetenv(variable);
        setenv("LANG", language.c_str(), 1);
        setenv("ACTUALIZADOR_LOCALEDIR", UPDATER_LOCALE_FOLDER, 1);
      }
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~Cli() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // The exit status, or -1 when the program did not end within `timeoutMs`.
  int Wait(int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
  }
  void Signal(int signal) { kill(pid_, signal); }

  const std::string out;
  const std::string err;

 private:
  pid_t pid_ = -1;
};

class CliSimTest : public ::testing::Test {
 protected:
  void StartSim(support::SimProcess& sim, std::vector<std::string> args) {
    ASSERT_TRUE(sim.Start(SIM47913_PATH, args));
  }
};

TEST_F(CliSimTest, WholeRunByDiscoveryRecordsParsableLinesAndPrintsNoCarriageReturn) {
  support::SimProcess sim;
  const std::string saved = Temp("saved.bin");
  StartSim(sim, {"--no-pace", "--timeout", "120", "--save", saved});
  const std::string image = WriteImage("whole.QMZ", 1000);
  const std::string log = Temp("whole.jsonl");
  Cli cli("whole", "-," + sim.path() + ",-,-", {"--json", "--log", log, image});
  ASSERT_EQ(cli.Wait(60000), 0) << ReadFile(cli.err);
  EXPECT_EQ(sim.Wait(10000), 0);
  EXPECT_EQ(ReadFile(saved), ReadFile(image));

  const std::string err = ReadFile(cli.err);
  EXPECT_EQ(err.find('\r'), std::string::npos);
  EXPECT_NE(err.find("No abierto COM1\nProbando COM2 ...\nCOM2 abierto\n"), std::string::npos);
  EXPECT_NE(err.find("Enviado 1000 de 1000 bytes (100 %)\nDescarga correcta\n"), std::string::npos);
  EXPECT_TRUE(AllJsonObjects(cli.out));
  EXPECT_TRUE(AllJsonObjects(log));
  const std::string record = ReadFile(log);
  EXPECT_EQ(record.find('\n'), record.size() - 1);
  EXPECT_NE(ReadFile(cli.out).find(record), std::string::npos);
  EXPECT_NE(record.find("\"ok\":true,\"exit_code\":0,\"port\":\"COM2\""), std::string::npos);
}

// The run's time in a record or a JSON line ("seconds", "started") as "T": the rest of two runs'
// lines is the same bytes.
std::string WithoutTimes(const std::string& lines) {
  static const std::regex times("\"(seconds|started)\":(\"[^\"]*\"|[0-9.]+)");
  return std::regex_replace(lines, times, "\"$1\":T");
}

// The same run in English and in Spanish (the C locale): the messages on standard error in the
// language; the exit status, the JSON lines and the record alike, their texts Spanish in both.
TEST_F(CliSimTest, InEnglishOnlyTheMessagesForAPersonChange) {
  const std::string image = WriteImage("language.QMZ", 1000);
  // The same name for the port in both runs: the simulator's link.
  const std::string port = Temp("language-port");
  struct Run {
    int status;
    std::string out;
    std::string err;
    std::string record;
  };
  const auto run = [&](const std::string& language) {
    support::SimProcess sim;
    StartSim(sim, {"--no-pace", "--timeout", "60", "--wrong-echo=300", "--link", port});
    const std::string log = Temp("language-" + language + ".jsonl");
    Cli cli("language-" + language, "-,-,-,-", {"--json", "--log", log, "--port", port, image},
            language);
    const int status = cli.Wait(60000);
    return Run{status, ReadFile(cli.out), ReadFile(cli.err), ReadFile(log)};
  };
  const Run spanish = run("C");
  const Run english = run("en_US.UTF-8");

  EXPECT_EQ(spanish.status, 7) << spanish.err;
  EXPECT_EQ(english.status, spanish.status) << english.err;
  EXPECT_NE(spanish.err.find("Conectado a equipo en " + port + "\nInicio descarga\n"),
            std::string::npos)
      << spanish.err;
  EXPECT_NE(
      english.err.find("Trying " + port + " ...\n" + port + " opened\nConnected to the device on " +
                       port + "\nDownload started\n"),
      std::string::npos)
      << english.err;
  EXPECT_NE(english.err.find("Sent 128 of 1000 bytes (12 %)\n"), std::string::npos);
  EXPECT_NE(english.err.find("Communication error\n"), std::string::npos);
  EXPECT_NE(english.err.find("actualizador-cli: the echo differs from the image (code 7)\n"),
            std::string::npos)
      << english.err;
  for (const char* spanishWord : {"Probando", "abierto", "Enviado", "comunicaci",
                                  "c\xC3\xB3"
                                  "digo"})
    EXPECT_EQ(english.err.find(spanishWord), std::string::npos) << spanishWord;

  EXPECT_NE(spanish.out.find("\"event\":\"error\",\"text\":\"Error de comunicaci\xC3\xB3n\""),
            std::string::npos)
      << spanish.out;
  EXPECT_NE(spanish.record.find("\"error\":\"el eco difiere de la imagen\""), std::string::npos);
  EXPECT_EQ(WithoutTimes(english.out), WithoutTimes(spanish.out));
  EXPECT_EQ(WithoutTimes(english.record), WithoutTimes(spanish.record));
  EXPECT_NE(WithoutTimes(spanish.record).find("\"seconds\":T"), std::string::npos);
}

TEST_F(CliSimTest, HelpInEnglish) {
  Cli help("help-en", "-,-,-,-", {"--help"}, "en_US.UTF-8");
  EXPECT_EQ(help.Wait(10000), 0);
  const std::string out = ReadFile(help.out);
  EXPECT_EQ(out.rfind("Usage: actualizador-cli [OPTION]... IMAGE\n", 0), 0u) << out;
  EXPECT_NE(out.find("\nExit codes:\n    0  the device confirmed the whole image\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\n  130  interrupted (Ctrl+C)\n"), std::string::npos);
}

TEST_F(CliSimTest, EveryFailureEndsWithItsExitStatus) {
  const std::string image = WriteImage("faults.QMZ", 600);
  struct Case {
    std::vector<std::string> sim;
    std::vector<std::string> args;
    int status;
  };
  const std::vector<Case> cases = {
      {{"--reject-length"}, {}, 6},
      {{"--wrong-echo=300"}, {}, 7},
      {{"--no-block-ack"}, {}, 8},
      {{"--hang-up-after=300"}, {}, 8},
      {{"--silent"}, {}, 4},
      {{}, {"--log", "/dev/full"}, 1},  // flashed, but the record could not be written
  };
  for (const Case& c : cases) {
    support::SimProcess sim;
    std::vector<std::string> args = c.sim;
    args.insert(args.end(), {"--no-pace", "--timeout", "60"});
    StartSim(sim, args);
    std::vector<std::string> cliArgs = c.args;
    cliArgs.insert(cliArgs.end(), {"--json", "--port", sim.path(), image});
    Cli cli("fault", "-,-,-,-", cliArgs);
    EXPECT_EQ(cli.Wait(60000), c.status) << c.sim.size() << ReadFile(cli.err);
    EXPECT_TRUE(AllJsonObjects(cli.out));
  }
  Cli absent("absent", "-,-,-,-", {"--port", Temp("no-such-tty"), image});
  EXPECT_EQ(absent.Wait(10000), 4);
  Cli usage("usage", "-,-,-,-", {"--bogus", image});
  EXPECT_EQ(usage.Wait(10000), 2);
  Cli unreadable("unreadable", "-,-,-,-", {Temp("no-such-image")});
  EXPECT_EQ(unreadable.Wait(10000), 3);
}

TEST_F(CliSimTest, APortHeldByAnotherProgramIsExitFive) {
  support::SimProcess sim;
  StartSim(sim, {"--no-pace", "--timeout", "60"});
  updater::PosixPortDriver holder(updater::PosixPortDriver::PathTable{sim.path().c_str()});
  const updater::PortHandle held = holder.Open("COM1");
  ASSERT_NE(held, updater::kInvalidPort);
  Cli cli("held", "-,-,-,-", {"--port", sim.path(), WriteImage("held.QMZ", 300)});
  EXPECT_EQ(cli.Wait(10000), 5);
  EXPECT_NE(ReadFile(cli.err).find("ocupado"), std::string::npos);
  holder.Close(held);
}

TEST_F(CliSimTest, CtrlCMidBlockEndsTheRunAndReleasesThePort) {
  support::SimProcess sim;
  StartSim(sim, {"--timeout", "120"});  // paced: a block takes about 270 ms
  Cli cli("ctrlc", "-,-,-,-", {"--json", "--port", sim.path(), WriteImage("ctrlc.QMZ", 3000)});
  const auto end = Clock::now() + std::chrono::seconds(30);
  while (ReadFile(cli.out).find("\"progress\"") == std::string::npos && Clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // into the next block
  const auto signalled = Clock::now();
  cli.Signal(SIGINT);
  // A second is the promise; the bound leaves room for a loaded machine.
  EXPECT_EQ(cli.Wait(5000), 130);
  EXPECT_LT(Clock::now() - signalled, std::chrono::milliseconds(2500));
  const std::string out = ReadFile(cli.out);
  EXPECT_NE(out.find("\"ok\":false,\"exit_code\":130"), std::string::npos);
  EXPECT_EQ(out.find("Descarga correcta"), std::string::npos);

  updater::PosixPortDriver next(updater::PosixPortDriver::PathTable{sim.path().c_str()});
  const updater::PortHandle reopened = next.Open("COM1");
  EXPECT_NE(reopened, updater::kInvalidPort);
  next.Close(reopened);
}

TEST_F(CliSimTest, TwoProgramsStartedTogetherFindTwoDevices) {
  support::SimProcess first;
  support::SimProcess second;
  const std::string savedFirst = Temp("first.bin");
  const std::string savedSecond = Temp("second.bin");
  StartSim(first, {"--no-pace", "--timeout", "120", "--save", savedFirst});
  StartSim(second, {"--no-pace", "--timeout", "120", "--save", savedSecond});
  const std::string image = WriteImage("two.QMZ", 2000);
  const std::string ports = first.path() + "," + second.path() + ",-,-";
  const std::string log = Temp("two.jsonl");
  Cli a("two-a", ports, {"--log", log, image});
  Cli b("two-b", ports, {"--log", log, image});
  EXPECT_EQ(a.Wait(60000), 0) << ReadFile(a.err);
  EXPECT_EQ(b.Wait(60000), 0) << ReadFile(b.err);
  EXPECT_EQ(ReadFile(savedFirst), ReadFile(image));
  EXPECT_EQ(ReadFile(savedSecond), ReadFile(image));
  const std::string records = ReadFile(log);
  EXPECT_TRUE(AllJsonObjects(log));
  EXPECT_NE(records.find("\"port\":\"COM1\""), std::string::npos);
  EXPECT_NE(records.find("\"port\":\"COM2\""), std::string::npos);
}

}  // namespace
