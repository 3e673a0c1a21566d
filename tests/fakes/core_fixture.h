#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "download/updater_core.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_displays.h"
#include "fakes/fake_lines.h"
#include "fakes/log_entries.h"

namespace fakes {

// The core wired to a fake clock, fake displays and four fake ports.
class CoreFixture : public ::testing::Test, public FakeLines {
 protected:
  CoreFixture() : core(displays, driver, clock) { core.InitState(); }

  std::vector<std::string> LogEntries() const { return fakes::LogEntries(core.m_report); }

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

  FakeDisplays displays;
  updater::UpdaterCore core;
};

}  // namespace fakes
