// Measures actualizador-cli, the program as shipped, over whole downloads against the simulator
// paced at 9600 baud on a pseudo-terminal named with --port: the wall time of the process against
// the line-rate bound of everything it exchanges and the pauses the protocol prescribes, its CPU
// share and peak resident size (wait4's rusage), and then N programs at once on N simulators,
// each against the line-rate bound and the time of one alone, with each program's CPU time and
// its simulator's. --runs 0 runs only the programs at once.
// Usage: cli_bench [--size BYTES] [--runs N] [--parallel N] [--cli PATH] [--sim PATH]
// Exit status: 0 every target met (by the medians of the single runs, by every run at once), 2 a
// target missed, 1 a run failed.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "serial/protocol.h"
#include "support/sim_process.h"

namespace {

constexpr double kRatioTarget = 1.01;
constexpr double kCpuTarget = 1.0;  // percent
constexpr long kResidentTargetKb = 10 * 1024;
constexpr double kParallelTarget = 1.05;

double Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The process's run starts with the search on the port it is given (--port): the pause before
// that one open, the pause before the probe, the probe and its answer.
constexpr double kSearchOnNamedPort = updater::protocol::SearchBoundSeconds(1);

// The line-rate bound of a run: the download's and the search's before it.
double Bound(std::uint32_t size) {
  return updater::protocol::LineBoundSeconds(size) + kSearchOnNamedPort;
}

struct Run {
  pid_t pid = -1;
  double start = 0;
  double wall = 0;
  double cpu = 0;
  long residentKb = 0;
  int status = -1;
  double simCpu = 0;  // its simulator's
};

double CpuSeconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Start(Run& run, const std::string& cli, const std::string& port, const std::string& image) {
  std::vector<std::string> args = {cli, "--port", port, image};
  std::vector<char*> argv;
  for (auto& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  run.start = Now();
  run.pid = fork();
  if (run.pid == 0) {
    // As a script runs it: output to a file, so plain progress lines, no terminal.
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
}

void Reap(Run& run, int flags) {
  int status = 0;
  rusage usage{};
  if (wait4(run.pid, &status, flags, &usage) != run.pid)
    return;
  run.wall = Now() - run.start;
  run.cpu = CpuSeconds(usage);
  run.residentKb = usage.ru_maxrss;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.pid = -1;
}

// Reaps every program as it ends, so that each wall time ends with its own program and not with
// the reaping of one started before it (the simulators are children too, so no wait for any).
void FinishAll(std::vector<Run>& runs) {
  std::vector<pollfd> ends;
  std::vector<Run*> owners;
  for (Run& run : runs) {
    // Through syscall: Debian 12's glibc declares pidfd_open without C linkage for C++.
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, run.pid, 0));
    if (fd < 0) {
      Reap(run, 0);  // no pidfd: in turn, the old way
      continue;
    }
    ends.push_back(pollfd{fd, POLLIN, 0});
    owners.push_back(&run);
  }
  std::size_t left = ends.size();
  while (left > 0) {
    if (poll(ends.data(), ends.size(), -1) < 0) {
      if (errno == EINTR)
        continue;
      break;
    }
    for (std::size_t i = 0; i < ends.size(); ++i) {
      if (ends[i].fd < 0 || (ends[i].revents & POLLIN) == 0)
        continue;
      Reap(*owners[i], WNOHANG);
      close(ends[i].fd);
      ends[i].fd = -1;  // poll skips it from now on
      --left;
    }
  }
}

// N programs at once, each on its own simulator; false when any failed.
bool RunTogether(int n, const std::string& cli, const std::string& sim, const std::string& image,
                 std::vector<Run>& runs) {
  std::vector<std::unique_ptr<support::SimProcess>> devices;
  for (int i = 0; i < n; ++i) {
    devices.push_back(std::make_unique<support::SimProcess>());
    if (!devices.back()->Start(sim, {"--timeout", "600"})) {
      std::fprintf(stderr, "cannot start %s\n", sim.c_str());
      return false;
    }
  }
  runs.assign(static_cast<std::size_t>(n), Run{});
  for (int i = 0; i < n; ++i)
    Start(runs[static_cast<std::size_t>(i)], cli, devices[static_cast<std::size_t>(i)]->path(),
          image);
  FinishAll(runs);
  bool ok = true;
  for (int i = 0; i < n; ++i) {
    Run& run = runs[static_cast<std::size_t>(i)];
    rusage usage{};
    ok = devices[static_cast<std::size_t>(i)]->Wait(10000, &usage) == 0 && ok && run.status == 0;
    run.simCpu = CpuSeconds(usage);
  }
  return ok;
}

void Print(const char* label, const Run& r, double bound) {
  std::printf("%-10s %9.3f %9.3f %8.4f %8.3f %7.3f %9ld %10.3f\n", label, r.wall, bound,
              r.wall / bound, r.cpu, 100.0 * r.cpu / r.wall, r.residentKb, r.simCpu);
  std::fflush(stdout);
}

// The median, lowest and highest of `values` (sorted here).
struct Spread {
  double median = 0, low = 0, high = 0;
};
Spread SpreadOf(std::vector<double> values) {
  if (values.empty())
    return {};
  std::sort(values.begin(), values.end());
  return {values[values.size() / 2], values.front(), values.back()};
}

}  // namespace

int main(int argc, char** argv) {
  std::uint32_t size = 31743;
  int runs = 1;
  int parallel = 4;
  std::string cli = CLI_PATH;
  std::string sim = SIM47913_PATH;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--size") == 0)
      size = static_cast<std::uint32_t>(std::atol(argv[i + 1]));
    else if (std::strcmp(argv[i], "--runs") == 0)
      runs = std::atoi(argv[i + 1]);
    else if (std::strcmp(argv[i], "--parallel") == 0)
      parallel = std::atoi(argv[i + 1]);
    else if (std::strcmp(argv[i], "--cli") == 0)
      cli = argv[i + 1];
    else if (std::strcmp(argv[i], "--sim") == 0)
      sim = argv[i + 1];
  }
  char pattern[] = "/tmp/cli_bench.XXXXXX";
  const int fd = mkstemp(pattern);
  if (fd < 0)
    return 1;
  close(fd);
  const std::string image = pattern;
  {
    std::ofstream out(image, std::ios::binary);
    for (std::uint32_t i = 0; i < size; ++i)
      out.put(static_cast<char>(i * 7 + (i >> 8)));
  }
  const double bound = Bound(size);
  std::printf("== actualizador-cli, %u bytes paced, bound %.3f s\n", size, bound);
  std::printf("%-10s %9s %9s %8s %8s %7s %9s %10s\n", "run", "wall s", "bound s", "ratio", "cpu s",
              "cpu %", "peak kB", "sim cpu s");
  int status = 0;
  std::vector<double> singles, ratios, shares;
  long peakKb = 0;
  for (int run = 1; run <= runs; ++run) {
    std::vector<Run> one;
    if (!RunTogether(1, cli, sim, image, one)) {
      std::fprintf(stderr, "run %d failed (status %d)\n", run, one.empty() ? -1 : one[0].status);
      std::remove(image.c_str());
      return 1;
    }
    Print(("single " + std::to_string(run)).c_str(), one[0], bound);
    singles.push_back(one[0].wall);
    ratios.push_back(one[0].wall / bound);
    shares.push_back(100.0 * one[0].cpu / one[0].wall);
    peakKb = std::max(peakKb, one[0].residentKb);
  }
  double single = 0;
  if (!singles.empty()) {
    // The medians are held to the targets: one run disturbed by the machine's other work says
    // little about the program.
    const Spread ratio = SpreadOf(ratios);
    const Spread share = SpreadOf(shares);
    single = SpreadOf(singles).median;
    std::printf(
        "median of %zu: ratio %.4f (range %.4f..%.4f), cpu %.3f %% (range %.3f..%.3f), "
        "peak resident %ld kB\n",
        singles.size(), ratio.median, ratio.low, ratio.high, share.median, share.low, share.high,
        peakKb);
    if (ratio.median > kRatioTarget || share.median >= kCpuTarget || peakKb >= kResidentTargetKb)
      status = 2;
  }
  if (parallel > 1) {
    std::vector<Run> together;
    if (!RunTogether(parallel, cli, sim, image, together)) {
      std::fprintf(stderr, "a parallel run failed\n");
      std::remove(image.c_str());
      return 1;
    }
    std::vector<double> each, cpu, simCpu;
    for (std::size_t i = 0; i < together.size(); ++i) {
      Print(("par " + std::to_string(i + 1)).c_str(), together[i], bound);
      each.push_back(together[i].wall / bound);
      cpu.push_back(together[i].cpu);
      simCpu.push_back(together[i].simCpu);
    }
    // Every program at once is held to the bound: the line is each one's own, so the others may
    // cost it only CPU.
    const Spread ratio = SpreadOf(each);
    const Spread program = SpreadOf(cpu);
    const Spread device = SpreadOf(simCpu);
    std::printf(
        "at once: %d programs, ratio %.4f (range %.4f..%.4f, target each <= %.2f), cpu a program "
        "%.3f s (range %.3f..%.3f), its simulator's %.3f s (range %.3f..%.3f)\n",
        parallel, ratio.median, ratio.low, ratio.high, kRatioTarget, program.median, program.low,
        program.high, device.median, device.low, device.high);
    if (ratio.high > kRatioTarget)
      status = 2;
    if (single > 0) {
      const double worst = ratio.high * bound / single;
      std::printf("parallel: %d programs, slowest %.4f of a single run (target %.2f)\n", parallel,
                  worst, kParallelTarget);
      if (worst > kParallelTarget)
        status = 2;
    }
  }
  if (!singles.empty())
    std::printf(
        "targets (medians): ratio <= %.2f, cpu < %.1f %%, peak resident < %ld kB, "
        "parallel <= %.2f (and each at once ratio <= %.2f): %s\n",
        kRatioTarget, kCpuTarget, kResidentTargetKb, kParallelTarget, kRatioTarget,
        status == 0 ? "met" : "MISSED");
  else
    std::printf("target: each at once ratio <= %.2f: %s\n", kRatioTarget,
                status == 0 ? "met" : "MISSED");
  std::remove(image.c_str());
  return status;
}
