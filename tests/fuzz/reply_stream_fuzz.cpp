// Fuzz target: the bytes a device sends, fed to a whole programming run (discovery, the download
// protocol, the closing of the port) through the fake port and clock. Built with libFuzzer and
// AddressSanitizer by scripts/fuzz; without libFuzzer, replay_main.cpp runs the seed corpus.
//
// Input: two bytes of image length (big-endian), one byte that seeds the image's contents, then
// the device's bytes in order. 0xFE k in the stream is a pause of k x 50 ms on the line before the
// next byte (0xFE 0x00 is a literal 0xFE), so that time-outs can fall anywhere.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "download/updater_core.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_displays.h"
#include "fakes/fake_port_driver.h"

namespace {

constexpr std::uint8_t kPause = 0xFE;
constexpr std::uint32_t kPauseUnitMs = 50;

struct Rig {
  Rig() : driver(clock), core(displays, driver, clock) { core.InitState(); }
  fakes::FakeClock clock;
  fakes::FakeDisplays displays;
  fakes::FakePortDriver driver;
  updater::UpdaterCore core;
};

// A broken invariant is a crash, so that the fuzzer keeps the input.
void Require(bool condition) {
  if (!condition)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3)
    return 0;
  // Built anew for every input, in the same memory, so that an input replays alone.
  static auto* storage = new std::optional<Rig>();
  Rig* rig = &storage->emplace();
  updater::Downloader& d = rig->core.m_download;

  const std::uint32_t length = (static_cast<std::uint32_t>(data[0]) << 8) | data[1];
  std::uint32_t x = data[2] * 2654435761u + 1u;
  for (std::uint32_t i = 0; i < length; ++i) {
    x = x * 1103515245u + 12345u;
    d.m_image[i] = static_cast<std::uint8_t>(x >> 16);
  }
  d.m_nFileLength = length;

  fakes::FakePort& port = rig->driver.port(0);
  port.present = true;
  std::uint32_t at = 0;
  std::size_t queued = 0;
  for (std::size_t i = 3; i < size && queued < fakes::FakePort::kQueueSize; ++i) {
    if (data[i] == kPause && i + 1 < size && data[i + 1] != 0) {
      at += data[++i] * kPauseUnitMs;
      continue;
    }
    if (data[i] == kPause && i + 1 < size)
      ++i;  // 0xFE 0x00: the byte itself
    port.Deliver(data[i], at);
    ++queued;
  }

  rig->core.OnProgram();

  Require(rig->driver.open_port_count() == 0);
  Require(rig->driver.calls_on_closed_handles() == 0);
  Require(!rig->core.m_link.IsOpen());
  Require(d.announcements() <= updater::Downloader::kMaxAnnouncements);
  Require(d.empty_blocks() <= updater::Downloader::kMaxEmptyBlocks);
  Require(d.m_nReceived <= updater::Downloader::kReceivedSize);
  Require(d.m_nPosition <= length);
  Require(rig->core.m_report.log_length() < updater::Reporter::kLogSize);

  const std::string_view log(rig->core.m_report.m_log, rig->core.m_report.log_length());
  const bool reported = log.find("Descarga correcta\n") != std::string_view::npos;
  Require(reported == d.succeeded());
  if (reported) {
    // Only a whole image, sent once and echoed back byte for byte, is a success.
    Require(length < updater::Downloader::kLengthLimit);
    Require(d.m_nPosition == length && d.m_nReceived == length);
    Require(std::memcmp(d.m_received, d.m_image, length) == 0);
    const std::size_t sent = 1 + 2 * static_cast<std::size_t>(d.announcements()) + length + 1;
    Require(port.host_byte_count() == sent);
    for (std::uint32_t i = 0; i < length; ++i)
      Require(port.host_byte(sent - 1 - length + i) == d.m_image[i]);
    Require(port.host_byte(sent - 1) == '6');
  }
  return 0;
}
