#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace updater::station {

// The last result the journal holds for a device, from the command line's records.
struct LastResult {
  std::string result;  // "ok" or "failed"
  int exitCode = 0;
  std::string error;  // UTF-8
  std::string seconds;
  std::string bytes;
  std::string image;
  std::string when;  // local time, "2026-12-08 10:11:12"
};

struct JournalView {
  bool readable = false;  // false: the user may not read the system's journal
  // By the record's BY_PATH when it has one, and by its DEVICE.
  std::map<std::string, LastResult> last;
};

// The newest result of each device among the journal's latest records.
JournalView ReadLastResults();

// The state of the adapter's service ("active", "inactive", "failed", ...); empty when systemd
// cannot be asked.
std::string UnitState(const std::string& kernelName);

}  // namespace updater::station
