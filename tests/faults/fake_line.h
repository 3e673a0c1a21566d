#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "fakes/core_fixture.h"

namespace faults {

// The core over fake ports and a fake clock, for runs against a device with faults in its line.
class FakeLineTest : public fakes::CoreFixture {
 protected:
  using CoreFixture::SetImage;
  // An image without 0xFF, so that a timed-out echo byte never passes the comparison.
  void SetImage(std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i)
      bytes[i] = static_cast<std::uint8_t>((i * 37 + 11) % 255);
    SetImage(bytes);
  }
  // One run; its fake duration in ms.
  std::uint32_t Run() {
    const std::uint32_t start = clock.now();
    core.OnProgram();
    return clock.now() - start;
  }
  void ExpectEverythingClosed() {
    EXPECT_EQ(driver.open_port_count(), 0);
    EXPECT_EQ(driver.calls_on_closed_handles(), 0);
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(driver.port(i).opens, driver.port(i).closes) << "COM" << i + 1;
    EXPECT_FALSE(core.m_link.IsOpen());
    EXPECT_EQ(displays.cursor, updater::CursorShape::kArrow);
  }
};

}  // namespace faults
