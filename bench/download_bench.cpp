// Measures a whole download over a pseudo-terminal against the simulator paced at 9600 baud:
// wall time against the line-rate bound of the exchange, and the updater's CPU share.
// Usage: download_bench [--size BYTES] [--runs N] [--sim PATH]
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "download/updater_core.h"
#include "null_displays.h"
#include "serial/posix_port_driver.h"
#include "serial/protocol.h"
#include "support/sim_process.h"

namespace {

double Now(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Result {
  double wall = 0;
  double bound = 0;
  double cpu = 0;
  bool ok = false;
};

Result RunOnce(const std::string& sim, std::uint32_t size) {
  Result result;
  support::SimProcess device;
  if (!device.Start(sim, {"--timeout", "600"})) {
    std::fprintf(stderr, "cannot start %s\n", sim.c_str());
    return result;
  }
  updater::PosixPortDriver driver({device.path().c_str(), nullptr, nullptr, nullptr});
  updater::SystemClock clock;
  bench::NullDisplays displays;
  auto core = std::make_unique<updater::UpdaterCore>(displays, driver, clock);
  for (std::uint32_t i = 0; i < size; ++i) {
    core->m_download.m_image[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
  }
  core->m_download.m_nFileLength = size;
  if (!core->m_link.FindDevice()) {
    std::fprintf(stderr, "no device on %s\n", device.path().c_str());
    return result;
  }
  core->m_download.ResetReceived();

  const double wall0 = Now(CLOCK_MONOTONIC);
  const double cpu0 = Now(CLOCK_PROCESS_CPUTIME_ID);
  core->m_download.Download();
  result.cpu = Now(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
  result.wall = Now(CLOCK_MONOTONIC) - wall0;
  core->m_link.ClosePort();

  // Timed from the download's start: the search before it is left out.
  const auto announcements = static_cast<std::uint32_t>(core->m_download.announcements());
  result.bound = updater::protocol::LineBoundSeconds(size, announcements);
  result.ok = core->m_download.succeeded() && device.Wait(10000) == 0;
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint32_t size = 31743;
  int runs = 1;
  std::string sim = SIM47913_PATH;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--size") == 0)
      size = static_cast<std::uint32_t>(std::atol(argv[i + 1]));
    if (std::strcmp(argv[i], "--runs") == 0)
      runs = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--sim") == 0)
      sim = argv[i + 1];
  }
  std::vector<double> ratios, shares;
  std::printf("%-4s %10s %10s %8s %10s %8s\n", "run", "wall s", "bound s", "ratio", "cpu s",
              "cpu %");
  for (int run = 1; run <= runs; ++run) {
    const Result r = RunOnce(sim, size);
    if (!r.ok) {
      std::fprintf(stderr, "run %d failed\n", run);
      return 1;
    }
    ratios.push_back(r.wall / r.bound);
    shares.push_back(100.0 * r.cpu / r.wall);
    std::printf("%-4d %10.3f %10.3f %8.4f %10.3f %8.3f\n", run, r.wall, r.bound, ratios.back(),
                r.cpu, shares.back());
    std::fflush(stdout);
  }
  std::sort(ratios.begin(), ratios.end());
  std::sort(shares.begin(), shares.end());
  const std::size_t mid = ratios.size() / 2;
  std::printf("median ratio %.4f (range %.4f..%.4f), median cpu %.3f %% (range %.3f..%.3f)\n",
              ratios[mid], ratios.front(), ratios.back(), shares[mid], shares.front(),
              shares.back());
  return 0;
}
