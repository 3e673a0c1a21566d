#include <dirent.h>
#include <libudev.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "serial/port_list.h"
#include "serial/posix_port_list.h"

namespace updater {

namespace {

template <std::size_t N>
void CopyText(char (&to)[N], const char* from) {
  std::snprintf(to, N, "%s", from != nullptr ? from : "");
}

bool StartsWith(const char* text, const char* prefix) {
  return text != nullptr && std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

std::uint16_t HexId(const char* text) {
  if (text == nullptr)
    return 0;
  const unsigned long value = std::strtoul(text, nullptr, 16);
  return value <= 0xFFFF ? static_cast<std::uint16_t>(value) : 0;
}

// The driver of the nearest ancestor that has one, past the serial core's own port and
// controller devices.
const char* DriverOf(udev_device* tty) {
  for (udev_device* d = udev_device_get_parent(tty); d != nullptr; d = udev_device_get_parent(d)) {
    const char* subsystem = udev_device_get_subsystem(d);
    const char* driver = udev_device_get_driver(d);
    if (driver != nullptr && (subsystem == nullptr || std::strcmp(subsystem, "serial-base") != 0))
      return driver;
  }
  return nullptr;
}

// The name under /dev/serial/by-path, which udev derives from the port's place on the buses.
const char* ByPathName(udev_device* tty) {
  static constexpr char kByPath[] = "/dev/serial/by-path/";
  udev_list_entry* link = nullptr;
  udev_list_entry_foreach(link, udev_device_get_devlinks_list_entry(tty)) {
    const char* name = udev_list_entry_get_name(link);
    if (StartsWith(name, kByPath))
      return name + sizeof kByPath - 1;
  }
  return nullptr;
}

bool Describe(udev_device* tty, TtyDevice& out) {
  const char* node = udev_device_get_devnode(tty);
  const char* devpath = udev_device_get_devpath(tty);
  const char* name = udev_device_get_sysname(tty);
  // Consoles, pseudo-terminals and the like have no hardware parent.
  if (node == nullptr || name == nullptr || udev_device_get_parent(tty) == nullptr ||
      devpath == nullptr || StartsWith(devpath, "/devices/virtual/")) {
    return false;
  }
  out = TtyDevice{};
  CopyText(out.info.path, node);
  if (std::strlen(node) >= sizeof out.info.path)
    return false;
  CopyText(out.kernelName, name);
  const char* byPath = ByPathName(tty);
  CopyText(out.location, byPath != nullptr ? byPath : devpath);
  const char* type = udev_device_get_sysattr_value(tty, "type");
  if (type != nullptr)
    out.uartType = std::atoi(type);
  CopyText(out.info.driver, DriverOf(tty));
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
  if (usb != nullptr) {
    out.usb = true;
    CopyText(out.info.manufacturer, udev_device_get_sysattr_value(usb, "manufacturer"));
    CopyText(out.info.product, udev_device_get_sysattr_value(usb, "product"));
    CopyText(out.info.serialNumber, udev_device_get_sysattr_value(usb, "serial"));
    out.info.vendorId = HexId(udev_device_get_sysattr_value(usb, "idVendor"));
    out.info.productId = HexId(udev_device_get_sysattr_value(usb, "idProduct"));
  }
  return true;
}

// Text order, except that runs of digits compare as numbers: ttyS2 before ttyS10.
int NaturalCompare(const char* a, const char* b) {
  while (*a != '\0' && *b != '\0') {
    const bool digitA = *a >= '0' && *a <= '9', digitB = *b >= '0' && *b <= '9';
    if (digitA && digitB) {
      while (*a == '0')
        ++a;
      while (*b == '0')
        ++b;
      std::size_t lengthA = 0, lengthB = 0;
      while (a[lengthA] >= '0' && a[lengthA] <= '9')
        ++lengthA;
      while (b[lengthB] >= '0' && b[lengthB] <= '9')
        ++lengthB;
      if (lengthA != lengthB)
        return lengthA < lengthB ? -1 : 1;
      const int digits = std::strncmp(a, b, lengthA);
      if (digits != 0)
        return digits;
      a += lengthA;
      b += lengthB;
      continue;
    }
    if (*a != *b)
      return static_cast<unsigned char>(*a) < static_cast<unsigned char>(*b) ? -1 : 1;
    ++a;
    ++b;
  }
  return *a == *b ? 0 : (*a == '\0' ? -1 : 1);
}

// On-board UARTs by kernel name, then USB ports by location.
bool ComesBefore(const TtyDevice& a, const TtyDevice& b) {
  if (a.usb != b.usb)
    return !a.usb;
  if (a.usb) {
    const int byLocation = NaturalCompare(a.location, b.location);
    if (byLocation != 0)
      return byLocation < 0;
  }
  return NaturalCompare(a.kernelName, b.kernelName) < 0;
}

// The device a link's target is, by name or, where the node exists, by the file it is.
int DeviceAt(const char* target, const TtyDevice* found, int count) {
  for (int i = 0; i < count; ++i) {
    if (std::strcmp(found[i].info.path, target) == 0)
      return i;
  }
  char real[PATH_MAX];
  for (int i = 0; i < count; ++i) {
    if (realpath(found[i].info.path, real) != nullptr && std::strcmp(real, target) == 0)
      return i;
  }
  return -1;
}

constexpr int kFree = -1;
constexpr int kLinkOnly = -2;  // a link to a device the source does not know
constexpr int kDangling = -3;

// What holds each number: kFree, a link (kLinkOnly, kDangling, or the device it leads to, offset
// by kMaxTtyDevices), or a device index.
struct Numbering {
  int holder[kMaxComNumber + 1];
  bool linked[kMaxTtyDevices];
};

void ReadLinks(const char* devDir, const TtyDevice* found, int count, Numbering& numbering) {
  DIR* dir = opendir(devDir);
  if (dir == nullptr)
    return;
  char link[PATH_MAX];
  char target[PATH_MAX];
  while (const dirent* entry = readdir(dir)) {
    const int n = ComNumber(entry->d_name);
    if (n == 0)
      continue;
    std::snprintf(link, sizeof link, "%s/%s", devDir, entry->d_name);
    if (realpath(link, target) == nullptr) {
      numbering.holder[n] = kDangling;
      continue;
    }
    const int device = DeviceAt(target, found, count);
    numbering.holder[n] = device < 0 ? kLinkOnly : kMaxTtyDevices + device;
    if (device >= 0)
      numbering.linked[device] = true;
  }
  closedir(dir);
}

}  // namespace

int UdevTtySource::Find(TtyDevice* out, int capacity) {
  udev* context = udev_new();
  if (context == nullptr)
    return 0;
  udev_enumerate* scan = udev_enumerate_new(context);
  int count = 0;
  if (scan != nullptr && udev_enumerate_add_match_subsystem(scan, "tty") >= 0 &&
      udev_enumerate_scan_devices(scan) >= 0) {
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan)) {
      if (count >= capacity)
        break;
      udev_device* tty = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
      if (tty == nullptr)
        continue;
      if (Describe(tty, out[count]))
        ++count;
      udev_device_unref(tty);
    }
  }
  udev_enumerate_unref(scan);
  udev_unref(context);
  return count;
}

int ListPosixSerialPorts(TtySource& source, const char* devDir, PortInfo* out, int capacity) {
  if (out == nullptr || capacity <= 0 || devDir == nullptr)
    return 0;
  TtyDevice found[kMaxTtyDevices];
  const int count = std::clamp(source.Find(found, kMaxTtyDevices), 0, kMaxTtyDevices);

  Numbering numbering;
  std::fill(std::begin(numbering.holder), std::end(numbering.holder), kFree);
  std::fill(std::begin(numbering.linked), std::end(numbering.linked), false);
  ReadLinks(devDir, found, count, numbering);

  int order[kMaxTtyDevices];
  int candidates = 0;
  for (int i = 0; i < count; ++i) {
    if (!numbering.linked[i] && found[i].uartType != 0)
      order[candidates++] = i;
  }
  std::sort(order, order + candidates,
            [&found](int a, int b) { return ComesBefore(found[a], found[b]); });
  int n = 1;
  for (int i = 0; i < candidates; ++i) {
    while (n <= kMaxComNumber && numbering.holder[n] != kFree)
      ++n;
    if (n > kMaxComNumber)
      break;
    numbering.holder[n] = order[i];
  }

  int written = 0;
  for (n = 1; n <= kMaxComNumber && written < capacity; ++n) {
    const int holder = numbering.holder[n];
    if (holder == kFree || holder == kDangling)
      continue;
    PortInfo& port = out[written];
    if (holder == kLinkOnly || holder >= kMaxTtyDevices) {
      port = holder == kLinkOnly ? PortInfo{} : found[holder - kMaxTtyDevices].info;
      char name[PortInfo::kNameSize];
      FormatComName(n, name);
      const int length = std::snprintf(port.path, sizeof port.path, "%s/%s", devDir, name);
      if (length < 0 || static_cast<std::size_t>(length) >= sizeof port.path)
        continue;
    } else {
      port = found[holder].info;
    }
    port.number = n;
    FormatComName(n, port.name);
    ++written;
  }
  return written;
}

bool ResolvePortPath(int index, const char* devDir, TtySource& source, char* out, std::size_t cap) {
  if (index < 0 || index >= kMaxComNumber || devDir == nullptr || out == nullptr || cap == 0)
    return false;
  const int number = index + 1;
  char name[PortInfo::kNameSize];
  FormatComName(number, name);
  const int n = std::snprintf(out, cap, "%s/%s", devDir, name);
  if (n < 0 || static_cast<std::size_t>(n) >= cap)
    return false;
  struct stat st {};
  if (lstat(out, &st) == 0)
    return true;

  PortInfo ports[kMaxTtyDevices];
  const int count = ListPosixSerialPorts(source, devDir, ports, kMaxTtyDevices);
  for (int i = 0; i < count; ++i) {
    if (ports[i].number != number)
      continue;
    const std::size_t length = std::strlen(ports[i].path);
    if (length >= cap)
      return false;
    std::memcpy(out, ports[i].path, length + 1);
    return true;
  }
  out[0] = '\0';
  return false;
}

int ListSerialPorts(PortInfo* out, int capacity) {
  UdevTtySource udev;
  return ListPosixSerialPorts(udev, "/dev", out, capacity);
}

}  // namespace updater
