#pragma once

#include <climits>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "serial/port_list.h"
#include "ui/cli/platform.h"
#include "ui/cli/translated.h"
#include "ui/station/report.h"

namespace updater::station {

// A run's result as the journal keeps it, from the command line's records.
struct LastResult {
  std::string result;  // "ok" or "failed"
  int exitCode = 0;
  std::string error;  // UTF-8
  std::string seconds;
  std::string bytes;
  std::string usbSerial;   // the adapter's, when it had one
  std::uint64_t usec = 0;  // when, microseconds since the epoch
};

struct JournalView {
  bool readable = false;  // false: the user may not read the system's journal
  // The newest result by the record's BY_PATH when it has one, and by its DEVICE.
  std::map<std::string, LastResult> last;
};

// A serial port of the machine, as the station's status shows it.
struct ConnectedPort {
  PortInfo port;                  // the port list's entry: USB ids and serial number
  std::string device;             // "/dev/ttyUSB0"
  std::string byPath;             // its /dev/serial/by-path link; empty when it has none
  std::string kernelName;         // "ttyUSB0"
  std::uint64_t pluggedUsec = 0;  // when the system took it in; 0 when unknown
};

// Where the report reads its records: this machine's journal (with the stations' journals that
// systemd-journal-remote collected here), or journal files collected elsewhere; entries from
// `since` to `until`, microseconds since the epoch.
struct ReportSource {
  std::vector<std::string> directories;  // --directory: every journal file in each
  std::vector<std::string> files;        // --file: the files a pattern names
  std::uint64_t since = 0;
  std::uint64_t until = UINT64_MAX;
};

// The configuration file as read.
struct ConfigFile {
  std::string text;
  std::uint64_t changedUsec = 0;
  // Why a user other than root could change it (its owner, its mode, its folder's), in words
  // (Windows-1252; Spanish and in the chosen language); empty when only root can. The station runs
  // as root from udev's rule.
  cli::Translated othersMayWrite;
};

// What systemd says of an adapter's service.
struct UnitStatus {
  enum class State { kUnknown, kInactive, kRunning, kFailed };
  State state = State::kUnknown;
  int exitStatus = 0;             // kFailed: the program's exit code
  std::uint64_t changedUsec = 0;  // when it entered that state; 0 when unknown
};

// What the station needs of the machine besides the command line's platform: its configuration
// file, the ports with their USB facts, the journal and systemd. app/station gives the system's
// own; the tests give a fake.
class StationSystem {
 public:
  virtual ~StationSystem() = default;

  virtual cli::Platform& platform() = 0;
  // The configuration file; false when it is absent or unreadable.
  virtual bool ReadConfig(const char* path, ConfigFile& file) = 0;
  // One of udev's properties of the device being matched (its environment); empty when unset.
  virtual std::string Property(const char* name) = 0;
  virtual std::vector<ConnectedPort> SerialPorts() = 0;
  virtual JournalView LastResults() = 0;
  virtual UnitStatus Unit(const std::string& name) = 0;
  // One line (Windows-1252) in the system's journal, for whoever wonders why the station did
  // nothing.
  virtual void Notice(const std::string& text) = 0;
  // `usec` as the local time "2026-12-08 10:11:12".
  virtual std::string LocalTime(std::uint64_t usec) = 0;
  // Microseconds since the epoch, now.
  virtual std::uint64_t NowUsec() = 0;
  // Gives every run's result that `source` holds to `sums`. False with `error` (Windows-1252)
  // when no journal could be read.
  virtual bool ReadRecords(const ReportSource& source, ReportSums& sums, std::string& error) = 0;
};

// The whole program: `argv` as main receives it; returns its exit status.
int RunStation(int argc, char** argv, StationSystem& system);

}  // namespace updater::station
