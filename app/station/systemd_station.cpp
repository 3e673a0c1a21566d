// What the station asks of the machine: the journal's records (sd-journal), the state of each
// adapter's service (sd-bus) and when udev took each port in (libudev).
#include "app/station/systemd_station.h"

#include <glob.h>
#include <libudev.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-bus.h>
#include <systemd/sd-journal.h>

#include "app/system/journal.h"
#include "model/localized.h"
#include "model/windows1252.h"
#include "ui/cli/translated.h"

namespace updater::station {

namespace {

// Where systemd-journal-remote keeps what it gathered from the stations.
constexpr char kRemoteJournals[] = "/var/log/journal/remote";

// How far back the status looks: enough for a day of a busy line.
constexpr int kMaxEntries = 20000;
constexpr char kSystemd[] = "org.freedesktop.systemd1";
// systemd's own socket, root's way to it where no D-Bus system bus runs.
constexpr char kSystemdPrivateBus[] = "unix:path=/run/systemd/private";

std::string Field(sd_journal* journal, const char* name) {
  const void* data = nullptr;
  std::size_t length = 0;
  if (sd_journal_get_data(journal, name, &data, &length) < 0)
    return {};
  const std::size_t prefix = std::strlen(name) + 1;  // "NAME="
  if (length < prefix)
    return {};
  return std::string(static_cast<const char*>(data) + prefix, length - prefix);
}

std::uint64_t RealtimeUsec(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

// When udev took the device in, as wall-clock time; 0 when it cannot tell.
std::uint64_t PluggedUsec(const char* device) {
  struct stat info {};
  if (stat(device, &info) != 0 || !S_ISCHR(info.st_mode))
    return 0;
  std::uint64_t plugged = 0;
  if (udev* context = udev_new()) {
    if (udev_device* d = udev_device_new_from_devnum(context, 'c', info.st_rdev)) {
      const unsigned long long since = udev_device_get_usec_since_initialized(d);
      if (since > 0)
        plugged = RealtimeUsec(CLOCK_REALTIME) - since;
      udev_device_unref(d);
    }
    udev_unref(context);
  }
  return plugged;
}

}  // namespace

struct SystemdStation::Bus {
  sd_bus* bus = nullptr;
  bool tried = false;
  ~Bus() { sd_bus_unref(bus); }

  sd_bus* Get() {
    if (tried)
      return bus;
    tried = true;
    if (sd_bus_open_system(&bus) >= 0)
      return bus;
    bus = nullptr;
    if (geteuid() != 0 || sd_bus_new(&bus) < 0)
      return nullptr;
    if (sd_bus_set_address(bus, kSystemdPrivateBus) < 0 || sd_bus_start(bus) < 0) {
      bus = sd_bus_unref(bus);
      return nullptr;
    }
    return bus;
  }
};

SystemdStation::SystemdStation(cli::SystemPlatform& platform)
    : platform_(platform), bus_(std::make_unique<Bus>()) {}

SystemdStation::~SystemdStation() = default;

namespace {

// Why someone other than root could change the file at `path` with status `info`: its owner, its
// mode, or its folder's (a folder others may write lets them replace the file, unless it is
// sticky and the file root's).
cli::Translated OthersMayWrite(const std::string& path, const struct stat& info) {
  struct stat folder {};
  const std::size_t slash = path.find_last_of('/');
  const std::string parent = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  if (info.st_uid != 0)
    return cli::Translate(Translatable("su propietario es el usuario %u"), info.st_uid);
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return cli::Translate(Translatable("sus permisos son %04o"),
                          static_cast<unsigned>(info.st_mode & 07777));
  }
  if (stat(parent.c_str(), &folder) != 0 ||
      (folder.st_uid != 0 ||
       ((folder.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (folder.st_mode & S_ISVTX) == 0))) {
    return cli::Translate(Translatable("otro usuario puede escribir en su carpeta %s"),
                          parent.c_str());
  }
  return {};
}

}  // namespace

bool SystemdStation::ReadConfig(const char* path, ConfigFile& file) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  file.text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  struct stat info {};
  if (stat(path, &info) != 0) {
    file.othersMayWrite = cli::Translate(Translatable("no se puede saber de qui\xE9n es"));
    return true;
  }
  file.changedUsec = static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 1000000u +
                     static_cast<std::uint64_t>(info.st_mtim.tv_nsec) / 1000u;
  file.othersMayWrite = OthersMayWrite(path, info);
  return true;
}

std::string SystemdStation::Property(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::vector<ConnectedPort> SystemdStation::SerialPorts() {
  static PortInfo ports[64];
  const int count = platform_.ListPorts(ports, 64);
  std::vector<ConnectedPort> out;
  for (int i = 0; i < count; ++i) {
    ConnectedPort p;
    p.port = ports[i];
    const cli::DeviceDescription d = cli::DescribeDevice(ports[i].path);
    p.device = d.device[0] != '\0' ? d.device : ports[i].path;
    p.byPath = d.byPath;
    const std::size_t slash = p.device.find_last_of('/');
    p.kernelName = slash == std::string::npos ? p.device : p.device.substr(slash + 1);
    p.pluggedUsec = PluggedUsec(p.device.c_str());
    out.push_back(p);
  }
  return out;
}

JournalView SystemdStation::LastResults() {
  JournalView view;
  sd_journal* journal = nullptr;
  if (sd_journal_open(&journal, SD_JOURNAL_LOCAL_ONLY | SD_JOURNAL_SYSTEM) < 0)
    return view;
  const std::string match = std::string("MESSAGE_ID=") + cli::kResultMessageId;
  sd_journal_add_match(journal, match.data(), match.size());
  // Without the right to read the system's journal no file of it opens.
  view.readable = geteuid() == 0 || sd_journal_has_persistent_files(journal) > 0 ||
                  sd_journal_has_runtime_files(journal) > 0;
  sd_journal_seek_tail(journal);
  for (int n = 0; n < kMaxEntries && sd_journal_previous(journal) > 0; ++n) {
    const std::string byPath = Field(journal, "BY_PATH");
    const std::string device = Field(journal, "DEVICE");
    const std::string key = !byPath.empty() ? byPath : device;
    if (key.empty() || view.last.count(key) != 0)
      continue;
    LastResult r;
    r.result = Field(journal, "RESULT");
    r.exitCode = std::atoi(Field(journal, "EXIT_CODE").c_str());
    r.error = Field(journal, "ERROR");
    r.seconds = Field(journal, "SECONDS");
    r.bytes = Field(journal, "BYTES");
    r.usbSerial = Field(journal, "USB_SERIAL");
    sd_journal_get_realtime_usec(journal, &r.usec);
    view.last.emplace(key, r);
    if (!device.empty() && device != key)
      view.last.emplace(device, r);
  }
  sd_journal_close(journal);
  return view;
}

UnitStatus SystemdStation::Unit(const std::string& name) {
  UnitStatus status;
  sd_bus* bus = bus_->Get();
  char* path = nullptr;
  if (bus == nullptr ||
      sd_bus_path_encode("/org/freedesktop/systemd1/unit", name.c_str(), &path) < 0)
    return status;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  char* state = nullptr;
  if (sd_bus_get_property_string(bus, kSystemd, path, "org.freedesktop.systemd1.Unit",
                                 "ActiveState", &error, &state) >= 0 &&
      state != nullptr) {
    const std::string s = state;
    if (s == "failed")
      status.state = UnitStatus::State::kFailed;
    else if (s == "inactive")
      status.state = UnitStatus::State::kInactive;
    else if (s == "active" || s == "activating" || s == "deactivating" || s == "reloading")
      status.state = UnitStatus::State::kRunning;
  }
  sd_bus_error_free(&error);
  std::uint64_t changed = 0;
  if (sd_bus_get_property_trivial(bus, kSystemd, path, "org.freedesktop.systemd1.Unit",
                                  "StateChangeTimestamp", &error, 't', &changed) >= 0) {
    status.changedUsec = changed;
  }
  sd_bus_error_free(&error);
  std::int32_t exitStatus = 0;
  if (status.state == UnitStatus::State::kFailed &&
      sd_bus_get_property_trivial(bus, kSystemd, path, "org.freedesktop.systemd1.Service",
                                  "ExecMainStatus", &error, 'i', &exitStatus) >= 0) {
    status.exitStatus = exitStatus;
  }
  sd_bus_error_free(&error);
  std::free(state);
  std::free(path);
  return status;
}

void SystemdStation::Notice(const std::string& text) {
  const std::string line = "actualizador-station: " + text;
  platform_.console().Error(line + "\n");
  std::vector<char> utf8(line.size() * 3 + 1);
  Windows1252ToUtf8(line, utf8.data(), utf8.size());
  sd_journal_send("MESSAGE=%s", utf8.data(), "PRIORITY=4", "SYSLOG_IDENTIFIER=actualizador-station",
                  nullptr);
}

std::string SystemdStation::LocalTime(std::uint64_t usec) {
  const time_t seconds = static_cast<time_t>(usec / 1000000);
  tm local{};
  char text[32] = "";
  if (localtime_r(&seconds, &local) != nullptr)
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::uint64_t SystemdStation::NowUsec() {
  return RealtimeUsec(CLOCK_REALTIME);
}

namespace {

// One entry's fields the report sums, read in one pass over the entry.
void ReadEntry(sd_journal* journal, ReportSums& sums, std::uint64_t usec) {
  static const char* const kNames[] = {"_HOSTNAME", "SHA256",  "IMAGE", "RESULT",
                                       "EXIT_CODE", "SECONDS", "ERROR"};
  std::string values[std::size(kNames)];
  const void* data = nullptr;
  std::size_t length = 0;
  sd_journal_restart_data(journal);
  while (sd_journal_enumerate_available_data(journal, &data, &length) > 0) {
    const std::string_view field(static_cast<const char*>(data), length);
    for (std::size_t k = 0; k < std::size(kNames); ++k) {
      const std::string_view name = kNames[k];
      if (field.size() > name.size() && field[name.size()] == '=' &&
          field.substr(0, name.size()) == name) {
        values[k].assign(field.substr(name.size() + 1));
      }
    }
  }
  sums.Add(ReportRecord{values[0], values[1], values[2], values[3], values[4], values[5], values[6],
                        usec});
}

// The pages of a journal file that an open journal has read stay mapped into the process: a
// year of records would hold most of the file. Reopened after this many entries, at the entry it
// had reached, the report stays within a few megabytes at the same speed.
constexpr int kEntriesPerOpen = 10000;

// Sums the records of one journal file from `source.since` to `source.until`. One file at a time:
// within a file a cursor finds its entry again by its sequence number, where across files of
// other machines (or of a hostile one) it might not.
void SumJournalFile(const std::string& path, const ReportSource& source, ReportSums& sums) {
  const std::string match = std::string("MESSAGE_ID=") + cli::kResultMessageId;
  const char* paths[] = {path.c_str(), nullptr};
  std::string cursor;
  for (bool more = true; more;) {
    sd_journal* journal = nullptr;
    if (sd_journal_open_files(&journal, paths, 0) < 0)
      return;
    sd_journal_add_match(journal, match.data(), match.size());
    // A hostile station's huge field is read no further than a record's texts need.
    sd_journal_set_data_threshold(journal, 64 * 1024);
    if (!cursor.empty()) {
      // At the entry reached before; the next is the first not yet summed.
      if (sd_journal_seek_cursor(journal, cursor.c_str()) < 0 || sd_journal_next(journal) <= 0 ||
          sd_journal_test_cursor(journal, cursor.c_str()) <= 0) {
        sd_journal_close(journal);
        return;
      }
    } else if (source.since > 0) {
      sd_journal_seek_realtime_usec(journal, source.since);
    } else {
      sd_journal_seek_head(journal);
    }
    more = false;
    for (int n = 0; sd_journal_next(journal) > 0;) {
      std::uint64_t usec = 0;
      if (sd_journal_get_realtime_usec(journal, &usec) < 0 || usec < source.since ||
          usec > source.until)
        continue;
      ReadEntry(journal, sums, usec);
      char* at = nullptr;
      if (++n == kEntriesPerOpen && sd_journal_get_cursor(journal, &at) >= 0) {
        cursor = at;
        std::free(at);
        more = true;
        break;
      }
    }
    sd_journal_close(journal);
  }
}

// The journal files in `folder` (not below it), as journalctl -D reads them.
std::vector<std::string> JournalFiles(const std::string& folder) {
  std::vector<std::string> files;
  for (const char* pattern : {"/*.journal", "/*.journal~"}) {
    glob_t found{};
    if (glob((folder + pattern).c_str(), 0, nullptr, &found) == 0)
      files.insert(files.end(), found.gl_pathv, found.gl_pathv + found.gl_pathc);
    globfree(&found);
  }
  return files;
}

std::string MachineId() {
  std::ifstream in("/etc/machine-id");
  std::string id;
  std::getline(in, id);
  return id;
}

}  // namespace

bool SystemdStation::ReadRecords(const ReportSource& source, ReportSums& sums, std::string& error) {
  std::vector<std::string> files;
  for (const std::string& folder : source.directories) {
    const std::vector<std::string> found = JournalFiles(folder);
    if (found.empty() && error.empty())
      error = cli::Say(Translatable("no hay archivos del diario en %s"), folder.c_str());
    files.insert(files.end(), found.begin(), found.end());
  }
  for (const std::string& pattern : source.files) {
    glob_t found{};
    if (glob(pattern.c_str(), 0, nullptr, &found) == 0)
      files.insert(files.end(), found.gl_pathv, found.gl_pathv + found.gl_pathc);
    else if (error.empty())
      error = cli::Say(Translatable("ning\xFAn archivo del diario es %s"), pattern.c_str());
    globfree(&found);
  }
  if (source.directories.empty() && source.files.empty()) {
    // This machine's own journal, and the stations' that systemd-journal-remote gathered here.
    const std::string id = MachineId();
    for (const std::string& folder :
         {"/var/log/journal/" + id, "/run/log/journal/" + id, std::string(kRemoteJournals)}) {
      const std::vector<std::string> found = JournalFiles(folder);
      files.insert(files.end(), found.begin(), found.end());
    }
  }
  int readable = 0;
  for (const std::string& file : files)
    readable += access(file.c_str(), R_OK) == 0 ? 1 : 0;
  if (error.empty() && readable == 0 && !files.empty()) {
    error = source.directories.empty() && source.files.empty()
                ? Localized(
                      "sin permiso para leer el diario del sistema: use sudo o el grupo "
                      "systemd-journal")
                : Localized("sin permiso para leer los archivos del diario");
  }
  if (!error.empty())
    return false;
  for (const std::string& file : files)
    SumJournalFile(file, source, sums);
  return true;
}

}  // namespace updater::station
