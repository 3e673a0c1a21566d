// The run's record in systemd's journal (libsystemd's sd_journal_sendv), and what the journal
// says of the device: its node, its /dev/serial/by-path name and its USB serial number (libudev).
#include <dirent.h>
#include <libudev.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <syslog.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// No CODE_FILE/CODE_LINE fields: the record's own fields say what happened.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include "app/system/journal.h"

namespace updater::cli {

namespace {

constexpr char kByPathFolder[] = "/dev/serial/by-path";

// Copies `text`, cut to fit, always terminated.
void Copy(char* out, std::size_t capacity, const char* text) {
  const std::size_t n = text != nullptr ? strnlen(text, capacity - 1) : 0;
  if (n > 0)
    std::memcpy(out, text, n);
  out[n] = '\0';
}

}  // namespace

DeviceDescription DescribeDevice(const char* path) {
  DeviceDescription d;
  char resolved[PATH_MAX];
  if (path == nullptr || realpath(path, resolved) == nullptr)
    return d;
  Copy(d.device, sizeof d.device, resolved);

  if (DIR* folder = opendir(kByPathFolder)) {
    while (const dirent* entry = readdir(folder)) {
      if (entry->d_name[0] == '.')
        continue;
      const std::string link = std::string(kByPathFolder) + "/" + entry->d_name;
      char target[PATH_MAX];
      if (realpath(link.c_str(), target) != nullptr && std::strcmp(target, resolved) == 0) {
        Copy(d.byPath, sizeof d.byPath, link.c_str());
        break;
      }
    }
    closedir(folder);
  }

  struct stat info {};
  if (stat(resolved, &info) == 0 && S_ISCHR(info.st_mode)) {
    if (udev* context = udev_new()) {
      if (udev_device* device = udev_device_new_from_devnum(context, 'c', info.st_rdev)) {
        Copy(d.usbSerial, sizeof d.usbSerial,
             udev_device_get_property_value(device, "ID_SERIAL_SHORT"));
        udev_device_unref(device);
      }
      udev_unref(context);
    }
  }
  return d;
}

bool JournalReachable() {
  struct stat info {};
  return stat("/run/systemd/journal/socket", &info) == 0 && S_ISSOCK(info.st_mode);
}

bool SendJournalRecord(const RunRecord& record, const DeviceDescription& device) {
  std::vector<std::string> fields;
  const auto add = [&](const char* name, const char* value) {
    if (value != nullptr && value[0] != '\0')
      fields.push_back(std::string(name) + "=" + value);
  };
  const auto number = [&](const char* name, unsigned long long value) {
    fields.push_back(std::string(name) + "=" + std::to_string(value));
  };
  add("MESSAGE", record.message);
  add("MESSAGE_ID", kResultMessageId);
  number("PRIORITY", record.ok ? LOG_INFO : LOG_ERR);
  add("SYSLOG_IDENTIFIER", "actualizador-cli");
  add("PORT", record.port);
  add("DEVICE", device.device);
  add("BY_PATH", device.byPath);
  add("USB_SERIAL", device.usbSerial);
  add("IMAGE", record.image);
  add("SHA256", record.sha256);
  number("BYTES", record.bytes);
  number("SENT", record.sent);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%u.%03u", record.milliseconds / 1000,
                record.milliseconds % 1000);
  add("SECONDS", seconds);
  add("RESULT", record.ok ? "ok" : "failed");
  number("EXIT_CODE", static_cast<unsigned long long>(record.exitCode));
  add("ERROR", record.error);
  add("VERSION", record.version);
  add("KEY_ID", record.keyId);
  add("TRUSTED_COMMENT", record.trustedComment);

  std::vector<iovec> parts;
  for (std::string& field : fields)
    parts.push_back(iovec{field.data(), field.size()});
  return sd_journal_sendv(parts.data(), static_cast<int>(parts.size())) == 0;
}

}  // namespace updater::cli
