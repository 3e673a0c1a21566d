// Properties of whole programming runs against a device that answers at random: protocol bytes,
// garbage, echoes, silence and late replies. Seeded and reproducible: a failing case prints the
// seed that replays it alone (UPDATER_PROPERTY_SEED=<seed> UPDATER_PROPERTY_CASES=1).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "download/updater_core.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_displays.h"
#include "fakes/fake_port_driver.h"
#include "fakes/forwarding_port_driver.h"
#include "sim/device_model.h"

namespace faults {
namespace {

using Random = std::mt19937_64;

struct Event {
  bool write;
  std::uint8_t value;
};

// The fake driver, recording every byte that crossed each port, in order and by direction.
class RecordingDriver final : public fakes::ForwardingPortDriver {
 public:
  explicit RecordingDriver(fakes::FakePortDriver& inner) : ForwardingPortDriver(inner) {}
  bool ReadByte(updater::PortHandle p, std::uint8_t& v, std::uint32_t& n) override {
    const bool ok = ForwardingPortDriver::ReadByte(p, v, n);
    if (n == 1 && p >= 0 && p < 4)
      events[p].push_back({false, v});
    return ok;
  }
  bool WriteByte(updater::PortHandle p, std::uint8_t v, std::uint32_t& n) override {
    const bool ok = ForwardingPortDriver::WriteByte(p, v, n);
    if (n == 1 && p >= 0 && p < 4)
      events[p].push_back({true, v});
    return ok;
  }

  std::vector<Event> events[4];
};

// Bytes a random device says: the protocol's replies, the host's own byte, garbage, and the
// time-out value.
std::uint8_t RandomReplyByte(Random& random, std::uint8_t hostByte) {
  static constexpr std::uint8_t kProtocol[] = {'0', '1', '2', '3', '4', '6', '9'};
  switch (random() % 4) {
    case 0:
    case 1:
      return kProtocol[random() % sizeof kProtocol];
    case 2:
      return hostByte;
    default:
      return random() % 8 == 0 ? 0xFF : static_cast<std::uint8_t>(random());
  }
}

std::uint32_t RandomDelay(Random& random) {
  switch (random() % 6) {
    case 0:
      return static_cast<std::uint32_t>(random() % 7000);  // around and past the time-out
    case 1:
      return 4990 + static_cast<std::uint32_t>(random() % 30);  // at the edge
    default:
      return static_cast<std::uint32_t>(random() % 50);
  }
}

// A device that runs the protocol's model with random faults, and damages its replies at random
// (dropped, replaced, extra bytes, late); or, in its wild form, ignores the protocol and answers
// each host byte with random bytes.
class RandomDevice final : public fakes::Peer, public sim::ReplySink {
 public:
  RandomDevice(Random& random, const sim::DeviceFaults& faults, bool wild, unsigned damagePercent)
      : random_(random),
        faults_(faults),
        model_(faults_, *this),
        wild_(wild),
        damage_(damagePercent) {}

  void OnHostByte(std::uint8_t value, fakes::FakePort& port) override {
    port_ = &port;
    hostByte_ = value;
    if (wild_) {
      if (random_() % 3 != 0) {
        std::uint8_t bytes[3];
        const std::size_t count = 1 + random_() % 3;
        for (std::size_t i = 0; i < count; ++i)
          bytes[i] = RandomReplyByte(random_, value);
        port.Deliver(bytes, count, RandomDelay(random_));
      }
      return;
    }
    model_.OnHostByte(value);
    if (model_.hung_up())
      port.hungUp = true;
  }
  void OnLineClosed() override { model_.LineClosed(); }

  void Reply(const std::uint8_t* bytes, std::size_t count) override {
    const std::uint32_t delay = random_() % 100 < damage_ ? RandomDelay(random_) : 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (random_() % 100 >= damage_) {
        port_->Deliver(bytes[i], delay);
        continue;
      }
      switch (random_() % 3) {
        case 0:  // dropped
          break;
        case 1:  // replaced
          port_->Deliver(RandomReplyByte(random_, hostByte_), delay);
          break;
        default:  // an extra byte before it
          port_->Deliver(RandomReplyByte(random_, hostByte_), delay);
          port_->Deliver(bytes[i], delay);
          break;
      }
    }
  }

 private:
  Random& random_;
  sim::DeviceFaults faults_;
  sim::DeviceModel model_;
  bool wild_;
  unsigned damage_;
  fakes::FakePort* port_ = nullptr;
  std::uint8_t hostByte_ = 0;
};

// What the bytes on the connected port say about the download, read as the device's replies to a
// host that follows the protocol. Every time-out is visible as a missing reply, because the
// images hold no 0xFF and no reply is 0xFF.
struct WireVerdict {
  int announcements = 0;
  int emptyBlocks = 0;
  bool success = false;      // length accepted, every block acknowledged and echoed, end acked
  bool consumedAll = false;  // the host did nothing the protocol does not call for
  std::string trouble;
};

WireVerdict ReadWire(const std::vector<Event>& ev, const std::uint8_t* image,
                     std::uint32_t length) {
  WireVerdict v;
  std::size_t at = 2;  // past the probe and its '0'
  auto next = [&](bool write, std::uint8_t& value) {
    if (at >= ev.size() || ev[at].write != write)
      return false;
    value = ev[at++].value;
    return true;
  };
  auto expectWrite = [&](std::uint8_t want) {
    std::uint8_t got = 0;
    if (at < ev.size() && ev[at].write && ev[at].value != want) {
      v.trouble = "host wrote " + std::to_string(ev[at].value) + " for " + std::to_string(want) +
                  " at event " + std::to_string(at);
    }
    return next(true, got) && got == want;
  };
  auto finish = [&]() {
    v.consumedAll = at == ev.size() && v.trouble.empty();
    return v;
  };

  if (length >= updater::Downloader::kLengthLimit)
    return finish();
  std::uint8_t r = 0;
  for (;;) {  // the length
    if (!expectWrite(static_cast<std::uint8_t>(length >> 8)) ||
        !expectWrite(static_cast<std::uint8_t>(length & 0xFF))) {
      return finish();
    }
    ++v.announcements;
    if (!next(false, r))
      continue;  // no reply in time: announced again, or the end of the run
    if (r == '1')
      break;
    if (r == '9')
      return finish();
  }
  for (std::uint32_t position = 0;;) {  // the blocks
    const std::uint32_t n = std::min<std::uint32_t>(128, length - position);
    for (std::uint32_t i = 0; i < n; ++i) {
      if (!expectWrite(image[position + i]))
        return finish();
    }
    if (!next(false, r) || r != '2')
      return finish();
    v.emptyBlocks += n == 0 ? 1 : 0;
    for (std::uint32_t i = 0; i < n; ++i) {
      if (!next(false, r) || r != image[position + i])
        return finish();
    }
    position += n;
    if (!next(false, r) || (r != '3' && r != '4'))
      return finish();
    if (r == '4')
      break;
  }
  if (!expectWrite('6') || !next(false, r) || r != '6')
    return finish();
  v.success = true;
  return finish();
}

// One run's world: fake clock, displays and ports, the recording driver, and the core.
struct Rig {
  Rig() : fake(clock), driver(fake), core(displays, driver, clock) { core.InitState(); }
  fakes::FakeClock clock;
  fakes::FakeDisplays displays;
  fakes::FakePortDriver fake;
  RecordingDriver driver;
  updater::UpdaterCore core;
  std::vector<std::unique_ptr<RandomDevice>> devices;
};

bool g_programState_is_error_without_blocks(const updater::Downloader& d) {
  return updater::g_programState == updater::PROGRAM_STATE_ERROR && d.m_nPosition == 0 &&
         d.empty_blocks() == 0;
}

std::uint64_t Setting(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 0) : fallback;
}

std::uint32_t RandomLength(Random& random) {
  switch (random() % 10) {
    case 0:
      return static_cast<std::uint32_t>(random() % 3);
    case 1:
      return 127 + static_cast<std::uint32_t>(random() % 3);
    case 2:
      return 255 + static_cast<std::uint32_t>(random() % 3);
    case 3:
      return static_cast<std::uint32_t>(random() % 1500);
    case 4:
      return random() % 20 == 0 ? 0x7C00 + static_cast<std::uint32_t>(random() % 0x8400) : 40;
    default:
      return 1 + static_cast<std::uint32_t>(random() % 400);
  }
}

sim::DeviceFaults RandomFaults(Random& random) {
  sim::DeviceFaults f;
  auto chance = [&](unsigned percent) { return random() % 100 < percent; };
  if (chance(5))
    f.silent = true;
  if (chance(10))
    f.probeReply = chance(50) ? -1 : static_cast<int>(random() % 256);
  if (chance(5))
    f.rejectLength = true;
  if (chance(15))
    f.garbledLengthReplies = static_cast<int>(random() % 12);
  if (chance(10))
    f.wrongEchoOffset = static_cast<long>(random() % 1500);
  if (chance(20))
    f.extraMoreReplies = static_cast<int>(random() % 12);
  if (chance(5))
    f.noBlockAck = true;
  if (chance(5))
    f.noEndAck = true;
  if (chance(10))
    f.hangUpAfterHostBytes = static_cast<long>(random() % 1600);
  return f;
}

// How the cases ended, to show the suite reaches every part of the protocol.
struct Tally {
  int cases = 0, notFound = 0, refusedLength = 0, reachedBlocks = 0, succeeded = 0;
};

void RunCase(std::uint64_t seed, std::optional<Rig>& storage, Tally& tally) {
  Random random(seed);
  // Built anew for every case, in the same memory: nothing carries over from the case before.
  Rig* rig = &storage.emplace();
  auto& d = rig->core.m_download;

  const std::uint32_t length = RandomLength(random);
  for (std::uint32_t i = 0; i < length; ++i)
    d.m_image[i] = static_cast<std::uint8_t>(random() % 255);  // no 0xFF: see ReadWire
  d.m_nFileLength = length;

  for (int i = 0; i < 4; ++i) {
    fakes::FakePort& port = rig->fake.port(i);
    const auto kind = random() % 10;
    if (kind < 3)
      continue;  // absent
    port.present = true;
    if (kind == 3) {
      port.busy = true;
      continue;
    }
    static constexpr unsigned kDamage[] = {0, 0, 1, 3, 10, 30};
    const bool wild = random() % 4 == 0;
    rig->devices.push_back(
        std::make_unique<RandomDevice>(random, RandomFaults(random), wild, kDamage[random() % 6]));
    port.peer = rig->devices.back().get();
  }

  const std::uint32_t start = rig->clock.now();
  rig->core.OnProgram();
  const std::uint32_t took = rig->clock.now() - start;

  // The run ended (it returned) within what its waits can add up to.
  EXPECT_LT(took, 3u * 3600u * 1000u);
  // Every port closed, nothing called on a closed handle.
  EXPECT_EQ(rig->fake.open_port_count(), 0);
  EXPECT_EQ(rig->fake.calls_on_closed_handles(), 0);
  EXPECT_FALSE(rig->core.m_link.IsOpen());
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(rig->fake.port(i).opens, rig->fake.port(i).closes);
    EXPECT_FALSE(rig->fake.port(i).overflowed());
  }
  EXPECT_LE(d.announcements(), updater::Downloader::kMaxAnnouncements);
  EXPECT_LE(d.empty_blocks(), updater::Downloader::kMaxEmptyBlocks);
  EXPECT_LE(d.m_nReceived, updater::Downloader::kReceivedSize);
  EXPECT_LE(rig->core.m_report.log_length(), updater::Reporter::kLogSize - 1);

  const std::string log(rig->core.m_report.m_log, rig->core.m_report.log_length());
  const bool reported = log.find("Descarga correcta\n") != std::string::npos;
  const auto connectedAt = log.find("Conectado a equipo en COM");
  int connected = -1;
  if (connectedAt != std::string::npos)
    connected = log[connectedAt + std::strlen("Conectado a equipo en COM")] - '1';
  EXPECT_EQ(reported, d.succeeded());

  for (int i = 0; i < 4; ++i) {
    const auto& ev = rig->driver.events[i];
    if (i == connected)
      continue;
    // A port that did not answer saw the probe and at most one reply, and was then left.
    EXPECT_LE(ev.size(), 2u) << "COM" << i + 1;
  }
  ++tally.cases;
  tally.succeeded += reported ? 1 : 0;
  if (connected < 0) {
    ++tally.notFound;
    EXPECT_FALSE(reported);
    EXPECT_EQ(log.find("Inicio descarga\n"), std::string::npos);
    return;
  }
  const auto& ev = rig->driver.events[connected];
  ASSERT_GE(ev.size(), 2u);
  EXPECT_TRUE(ev[0].write && ev[0].value == '0');
  EXPECT_TRUE(!ev[1].write && ev[1].value == '0');
  const WireVerdict wire = ReadWire(ev, d.m_image, length);
  tally.refusedLength += g_programState_is_error_without_blocks(d) ? 1 : 0;
  tally.reachedBlocks += d.m_nPosition > 0 || d.empty_blocks() > 0 ? 1 : 0;
  EXPECT_TRUE(wire.consumedAll) << wire.trouble << " (" << ev.size() << " events)";
  EXPECT_LE(wire.announcements, updater::Downloader::kMaxAnnouncements);
  EXPECT_LE(wire.emptyBlocks, updater::Downloader::kMaxEmptyBlocks);
  // Success is reported exactly when the wire shows a complete, verified download.
  EXPECT_EQ(reported, wire.success);
  if (reported) {
    EXPECT_EQ(d.m_nReceived, length);
  }
}

TEST(ProtocolProperty, RandomDevicesNeverBreakTheRunsInvariants) {
  const std::uint64_t seed = Setting("UPDATER_PROPERTY_SEED", 47913);
  const std::uint64_t cases = Setting("UPDATER_PROPERTY_CASES", 10000);
  Tally tally;
  auto storage = std::make_unique<std::optional<Rig>>();
  for (std::uint64_t i = 0; i < cases; ++i) {
    SCOPED_TRACE("replay with UPDATER_PROPERTY_SEED=" + std::to_string(seed + i) +
                 " UPDATER_PROPERTY_CASES=1");
    RunCase(seed + i, *storage, tally);
    if (::testing::Test::HasFailure())
      break;  // the first failing case says enough
  }
  std::printf(
      "%d cases: %d found no device, %d ended at the length, %d reached the blocks, "
      "%d succeeded\n",
      tally.cases, tally.notFound, tally.refusedLength, tally.reachedBlocks, tally.succeeded);
  if (cases >= 1000) {
    // Enough of each outcome for the properties to mean something.
    EXPECT_GT(tally.succeeded, tally.cases / 20);
    EXPECT_GT(tally.reachedBlocks - tally.succeeded, tally.cases / 20);
    EXPECT_GT(tally.notFound, tally.cases / 20);
  }
}

}  // namespace
}  // namespace faults
