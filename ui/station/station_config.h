#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ui/cli/translated.h"

namespace updater::station {

// Where the station's pieces are; the unit, the rule, the manual page and the documents name the
// same (a test holds them equal).
inline constexpr char kConfigPath[] = "/etc/actualizador/station.conf";
// The service's state folder (StateDirectory=): the only one it may write to.
inline constexpr char kStateFolder[] = "/var/lib/actualizador";
inline constexpr char kDefaultLog[] = "/var/lib/actualizador/station.jsonl";
// One service an adapter: "actualizador-station@ttyUSB0.service".
inline constexpr char kUnitPrefix[] = "actualizador-station@";
inline constexpr char kUnitSuffix[] = ".service";

// The station's configuration, kConfigPath: "key = value" lines, one key a line, '#' starts a
// comment line. Absent, empty or only comments: the station is off.
struct StationConfig {
  struct UsbId {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
  };
  std::string image;      // image: the image every adapter's device is programmed with
  std::string sha256;     // sha256: its SHA-256, lowercase hex; may be left out with public_key
  std::string publicKey;  // public_key: the minisign key the image must be signed with
  std::vector<UsbId> adapters;       // adapter: the USB ids "vvvv:pppp" acted on (one or more)
  std::vector<std::string> serials;  // serial: only adapters with one of these serial numbers
  std::vector<std::string> byPaths;  // by_path: only adapters in these USB sockets (patterns)
  std::string log = kDefaultLog;     // log: the record file, one JSON line a run, in kStateFolder
  std::uint32_t waitSeconds = 10;    // wait: how long a device has to answer once plugged in
};

enum class StationState { kOff, kOn, kError };

// Reads the configuration's text. On kError `error` (Windows-1252) names the line and what is
// wrong with it (a value that holds a second key, a key given twice that takes one value), or the
// key that is missing.
StationState ParseStationConfig(std::string_view text, StationConfig& config, std::string& error);
// The same, with `error` in Spanish (for JSON) and in the chosen language (for a person).
StationState ParseStationConfig(std::string_view text, StationConfig& config,
                                cli::Translated& error);

// What the system says of a serial adapter.
struct AdapterFacts {
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  std::string serial;                // USB serial number; empty when it has none
  std::vector<std::string> byPaths;  // its /dev/serial/by-path links, full paths
};

// Whether the station acts on the adapter: one of its USB ids, and, when the configuration names
// them, one of its serial numbers and a by-path name that matches one of its patterns ('*' and
// '?'; a pattern without '/' is matched against the link's name alone).
bool StationMatches(const StationConfig& config, const AdapterFacts& adapter);

// "vvvv:pppp" in hex; false when it is not one.
bool ParseUsbId(std::string_view text, StationConfig::UsbId& id);

}  // namespace updater::station
