#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "download/updater_core.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_displays.h"
#include "fakes/fake_port_driver.h"
#include "fakes/log_entries.h"
#include "sim/device_model.h"

namespace faults {

// The device model on a fake port, with a delay of its own for each reply (by reply number, 0
// being the probe reply) and switches that stop the line after a number of host bytes.
class TimedDevicePeer final : public fakes::Peer, public sim::ReplySink {
 public:
  explicit TimedDevicePeer(const sim::DeviceFaults& faults = {})
      : faults_(faults), model_(faults_, *this) {}
  void Attach(fakes::FakePort& port) {
    port_ = &port;
    port.present = true;
    port.peer = this;
  }
  void OnHostByte(std::uint8_t value, fakes::FakePort& port) override {
    ++hostBytes_;
    if (stallAfterHostBytes >= 0 && hostBytes_ >= stallAfterHostBytes)
      port.writeStalled = true;
    model_.OnHostByte(value);
    if (model_.hung_up())
      port.hungUp = true;
  }
  void OnLineClosed() override { model_.LineClosed(); }
  void Reply(const std::uint8_t* bytes, std::size_t count) override {
    const auto it = delays.find(replies_);
    ++replies_;
    port_->Deliver(bytes, count, it != delays.end() ? it->second : defaultDelayMs);
  }
  sim::DeviceModel& model() { return model_; }

  std::uint32_t defaultDelayMs = 0;
  std::map<long, std::uint32_t> delays;
  long stallAfterHostBytes = -1;  // the line takes no more bytes after this one

 private:
  sim::DeviceFaults faults_;
  sim::DeviceModel model_;
  fakes::FakePort* port_ = nullptr;
  long replies_ = 0;
  long hostBytes_ = 0;
};

// The core over fake ports and a fake clock.
class FakeLineTest : public ::testing::Test {
 protected:
  FakeLineTest() : fake(clock), core(displays, fake, clock) { core.InitState(); }

  TimedDevicePeer& Attach(int index, const sim::DeviceFaults& faults = {}) {
    peers.push_back(std::make_unique<TimedDevicePeer>(faults));
    fakes::FakePort& port = fake.port(index);
    port.hungUp = false;
    port.writeStalled = false;
    peers.back()->Attach(port);
    return *peers.back();
  }
  // An image without 0xFF, so that a timed-out echo byte never passes the comparison.
  void SetImage(std::size_t length) {
    auto& d = core.m_download;
    std::fill(std::begin(d.m_image), std::end(d.m_image), 0);
    for (std::size_t i = 0; i < length; ++i)
      d.m_image[i] = static_cast<std::uint8_t>((i * 37 + 11) % 255);
    d.m_nFileLength = static_cast<std::uint32_t>(length);
  }
  std::vector<std::string> Log() const { return fakes::LogEntries(core.m_report); }
  // One run; its fake duration in ms.
  std::uint32_t Run() {
    const std::uint32_t start = clock.now();
    core.OnProgram();
    return clock.now() - start;
  }
  void ExpectEverythingClosed() {
    EXPECT_EQ(fake.open_port_count(), 0);
    EXPECT_EQ(fake.calls_on_closed_handles(), 0);
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(fake.port(i).opens, fake.port(i).closes) << "COM" << i + 1;
    EXPECT_FALSE(core.m_link.IsOpen());
    EXPECT_EQ(displays.cursor, updater::CursorShape::kArrow);
  }

  fakes::FakeClock clock;
  fakes::FakeDisplays displays;
  fakes::FakePortDriver fake;
  updater::UpdaterCore core;
  std::vector<std::unique_ptr<TimedDevicePeer>> peers;
};

}  // namespace faults
