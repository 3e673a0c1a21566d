#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "download/updater_core.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_displays.h"
#include "fakes/fake_port_driver.h"
#include "fakes/log_entries.h"

namespace fakes {

// The core wired to a fake clock, fake displays and four fake ports.
class CoreFixture : public ::testing::Test {
 protected:
  CoreFixture() : driver(clock), core(displays, driver, clock) { core.InitState(); }

  std::vector<std::string> LogEntries() const { return fakes::LogEntries(core.m_report); }

  // A device on the given port (0 to 3) that answers as the faults say.
  DevicePeer& AttachDevice(int index, const sim::DeviceFaults& faults = {}) {
    devices.push_back(std::make_unique<DevicePeer>(faults));
    devices.back()->Attach(driver.port(index));
    return *devices.back();
  }

  // Puts an image into memory as a load would.
  void SetImage(const std::vector<std::uint8_t>& bytes) {
    std::fill(std::begin(core.m_download.m_image), std::end(core.m_download.m_image), 0);
    std::copy(bytes.begin(), bytes.end(), core.m_download.m_image);
    core.m_download.m_nFileLength = static_cast<std::uint32_t>(bytes.size());
  }

  static std::vector<std::uint8_t> Pattern(std::size_t length, unsigned seed = 7) {
    std::vector<std::uint8_t> bytes(length);
    unsigned x = seed;
    for (auto& b : bytes) {
      x = x * 1103515245u + 12345u;
      b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
  }

  FakeClock clock;
  FakeDisplays displays;
  FakePortDriver driver;
  updater::UpdaterCore core;
  std::vector<std::unique_ptr<DevicePeer>> devices;
};

}  // namespace fakes
