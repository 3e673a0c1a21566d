// What the station's status asks of systemd: the journal's records (sd-journal) and the state
// of each adapter's service (sd-bus).
#include "app/station/station_system.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-journal.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "app/cli/journal.h"

namespace updater::station {

namespace {

// How far back the status looks: enough for a day of a busy line.
constexpr int kMaxEntries = 20000;

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

}  // namespace

JournalView ReadLastResults() {
  JournalView view;
  sd_journal* journal = nullptr;
  if (sd_journal_open(&journal, SD_JOURNAL_LOCAL_ONLY | SD_JOURNAL_SYSTEM) < 0)
    return view;
  const std::string match = std::string("MESSAGE_ID=") + cli::kResultMessageId;
  sd_journal_add_match(journal, match.data(), match.size());
  // Without the right to read the system's journal only the user's own entries are seen.
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
    r.image = Field(journal, "IMAGE");
    std::uint64_t usec = 0;
    if (sd_journal_get_realtime_usec(journal, &usec) >= 0) {
      const time_t seconds = static_cast<time_t>(usec / 1000000);
      tm local{};
      char text[32] = "";
      if (localtime_r(&seconds, &local) != nullptr)
        strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
      r.when = text;
    }
    view.last.emplace(key, r);
    if (!device.empty() && device != key)
      view.last.emplace(device, r);
  }
  sd_journal_close(journal);
  return view;
}

std::string UnitState(const std::string& kernelName) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0)
    return {};
  const std::string unit = "actualizador-station@" + kernelName + ".service";
  char* path = nullptr;
  char* state = nullptr;
  std::string out;
  if (sd_bus_path_encode("/org/freedesktop/systemd1/unit", unit.c_str(), &path) >= 0) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    if (sd_bus_get_property_string(bus, "org.freedesktop.systemd1", path,
                                   "org.freedesktop.systemd1.Unit", "ActiveState", &error,
                                   &state) >= 0 &&
        state != nullptr) {
      out = state;
    }
    sd_bus_error_free(&error);
  }
  std::free(state);
  std::free(path);
  sd_bus_unref(bus);
  return out;
}

}  // namespace updater::station
