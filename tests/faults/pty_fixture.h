#pragma once

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "download/updater_core.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_displays.h"
#include "fakes/log_entries.h"
#include "faults/line_device.h"
#include "serial/clock.h"
#include "serial/posix_port_driver.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace faults {

// The real POSIX driver over pseudo-terminals, with the port paths given by each test.
class PtyFaultTest : public ::testing::Test {
 protected:
  using Steady = std::chrono::steady_clock;

  // Starts the simulator with `options`, fast and bounded in time.
  void StartSim(support::SimProcess& sim, std::vector<std::string> options) {
    options.insert(options.end(), {"--no-pace", "--timeout", "300"});
    ASSERT_TRUE(sim.Start(SIM47913_PATH, options));
  }
  void MakeCore(const updater::PosixPortDriver::PathTable& paths, bool pauses = true) {
    driver = std::make_unique<updater::PosixPortDriver>(paths);
    updater::Clock& c = pauses ? static_cast<updater::Clock&>(clock) : fastClock;
    core = std::make_unique<updater::UpdaterCore>(displays, *driver, c);
    core->InitState();
  }
  // Writes an image of `length` bytes without 0xFF (a timed-out echo must never pass) and loads
  // it.
  std::vector<std::uint8_t> LoadImage(std::size_t length) {
    std::vector<std::uint8_t> image(length);
    for (std::size_t i = 0; i < length; ++i)
      image[i] = static_cast<std::uint8_t>((i * 37 + 11) % 255);
    core->LoadImage(support::WriteImage(temp.File("fw.QMZ"), image).c_str());
    return image;
  }
  std::vector<std::string> Log() const { return fakes::LogEntries(core->m_report); }
  // The entries the last run added, counted from `from`.
  std::vector<std::string> LogFrom(std::size_t from) const {
    const auto all = Log();
    return std::vector<std::string>(all.begin() + static_cast<long>(from), all.end());
  }
  int Successes() const {
    int n = 0;
    for (const auto& entry : Log())
      n += entry == "Descarga correcta\n" ? 1 : 0;
    return n;
  }
  // Makes `link` point at `target`, replacing what it pointed at in one step.
  static void PointLink(const std::string& link, const std::string& target) {
    const std::string temporary = link + ".new";
    unlink(temporary.c_str());
    ASSERT_EQ(symlink(target.c_str(), temporary.c_str()), 0);
    ASSERT_EQ(rename(temporary.c_str(), link.c_str()), 0);
  }
  // The port is free again: another opener gets it exclusively.
  static bool PortIsFree(const char* path) {
    updater::PosixPortDriver other({path, nullptr, nullptr, nullptr});
    const updater::PortHandle h = other.Open("COM1");
    if (h == updater::kInvalidPort)
      return false;
    other.Close(h);
    return true;
  }
  static long long MsSince(Steady::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - t0).count();
  }

  support::TempDir temp;
  const std::string dir = temp.path();
  updater::SystemClock clock;
  // Real time without the fixed pauses of discovery and the download, for loops of many runs
  // whose subject is what they leave behind, not their pace.
  fakes::SkippingClock fastClock;
  fakes::FakeDisplays displays;
  std::unique_ptr<updater::PosixPortDriver> driver;
  std::unique_ptr<updater::UpdaterCore> core;
};

}  // namespace faults
