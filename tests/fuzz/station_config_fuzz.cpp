// station.conf's text as anyone with the file could write it: parsed, then matched against an
// adapter, without a crash, a hang or a read past the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ui/station/station_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace updater::station;
  StationConfig config;
  std::string error;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (ParseStationConfig(text, config, error) == StationState::kOn) {
    const AdapterFacts adapter{
        0x0403, 0x6001, "A50285BI", {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0"}};
    StationMatches(config, adapter);
  }
  return 0;
}
