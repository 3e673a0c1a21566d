#pragma once

#include <cstdint>
#include <string>

#include "ui/station/station_config.h"
#include "ui/station/station_system.h"

namespace updater::station {

// The configuration as read from its file.
struct LoadedConfig {
  StationState state = StationState::kOff;
  StationConfig config;
  cli::Translated error;  // kError: why, Windows-1252 (Spanish for JSON, and for a person)
  bool present = false;
  std::uint64_t changedUsec = 0;
};

LoadedConfig LoadConfig(const char* path, StationSystem& system);

// What `status` exits with: a script can tell whether the station works.
enum StatusExit : int {
  kStatusActive = 0,
  kStatusOff = 1,           // no configuration
  kStatusConfigError = 2,   // the configuration is wrong
  kStatusImageRefused = 3,  // every run would refuse the image
};

// `status`: the configuration, whether a run would take the image, the adapters connected and
// what each does now or did last; as text or as JSON lines.
int ShowStatus(const LoadedConfig& loaded, const char* path, bool json, StationSystem& system);

}  // namespace updater::station
