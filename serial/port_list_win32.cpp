#include <windows.h>

#include <setupapi.h>

#include "serial/com_name.h"
#include "serial/port_list.h"

namespace updater {

namespace {

// The device setup class of COM and LPT ports (devguid.h's GUID_DEVCLASS_PORTS).
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

void Copy(char* to, std::size_t capacity, const char* from) {
  lstrcpynA(to, from, static_cast<int>(capacity));
}

// The hexadecimal number after `key` ("VID_") in a hardware id, 0 when there is none.
std::uint16_t HexAfter(const char* text, const char* key) {
  const int keyLength = lstrlenA(key);
  for (const char* at = text; *at != '\0'; ++at) {
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, at, keyLength, key, keyLength) !=
        CSTR_EQUAL)
      continue;
    unsigned value = 0;
    int digits = 0;
    for (const char* d = at + keyLength; digits < 4; ++d, ++digits) {
      const char c = *d;
      unsigned nibble = 0;
      if (c >= '0' && c <= '9')
        nibble = static_cast<unsigned>(c - '0');
      else if (c >= 'A' && c <= 'F')
        nibble = static_cast<unsigned>(c - 'A' + 10);
      else if (c >= 'a' && c <= 'f')
        nibble = static_cast<unsigned>(c - 'a' + 10);
      else
        break;
      value = value * 16 + nibble;
    }
    return digits == 4 ? static_cast<std::uint16_t>(value) : 0;
  }
  return 0;
}

// The driver's device name without "\Device\" and the unit number: "\Device\VCP0" is "VCP".
void DriverOf(const char* device, char* out, std::size_t capacity) {
  const char* name = device;
  for (const char* at = device; *at != '\0'; ++at) {
    if (*at == '\\')
      name = at + 1;
  }
  int length = lstrlenA(name);
  while (length > 1 && name[length - 1] >= '0' && name[length - 1] <= '9')
    --length;
  const int room = static_cast<int>(capacity) - 1;
  lstrcpynA(out, name, (length < room ? length : room) + 1);
}

// A text property of the device, cut to fit `out`; empty when the device has none.
void Property(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property, char* out,
              std::size_t capacity) {
  char text[256] = {};
  DWORD type = 0;
  if (SetupDiGetDeviceRegistryPropertyA(devices, &device, property, &type,
                                        reinterpret_cast<BYTE*>(text), sizeof text - 1, nullptr) &&
      type == REG_SZ)
    Copy(out, capacity, text);
}

// Manufacturer, description and USB ids from the Plug and Play record of the port class device
// whose "PortName" is `info.name`; nothing when there is none (a port that Plug and Play does
// not describe keeps empty texts).
void Describe(HDEVINFO devices, PortInfo& info) {
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
    HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
      continue;
    char portName[PortInfo::kNameSize] = {};
    DWORD size = sizeof portName - 1;
    DWORD type = 0;
    const bool named =
        RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(portName),
                         &size) == ERROR_SUCCESS &&
        type == REG_SZ;
    RegCloseKey(key);
    if (!named || lstrcmpA(portName, info.name) != 0)
      continue;
    Property(devices, device, SPDRP_MFG, info.manufacturer, sizeof info.manufacturer);
    Property(devices, device, SPDRP_DEVICEDESC, info.product, sizeof info.product);
    char ids[512] = {};
    if (SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_HARDWAREID, nullptr,
                                          reinterpret_cast<BYTE*>(ids), sizeof ids - 2, nullptr)) {
      info.vendorId = HexAfter(ids, "VID_");
      info.productId = HexAfter(ids, "PID_");
    }
    // A USB device's instance id ends in its serial number, unless Windows made one up (with
    // '&' in it) because the device has none.
    char instance[256] = {};
    if (info.vendorId != 0 &&
        SetupDiGetDeviceInstanceIdA(devices, &device, instance, sizeof instance, nullptr)) {
      const char* last = instance;
      for (const char* at = instance; *at != '\0'; ++at) {
        if (*at == '\\')
          last = at + 1;
      }
      bool generated = false;
      for (const char* at = last; *at != '\0'; ++at)
        generated = generated || *at == '&';
      if (!generated)
        Copy(info.serialNumber, sizeof info.serialNumber, last);
    }
    return;
  }
}

}  // namespace

// The ports that serial drivers announce under HARDWARE\DEVICEMAP\SERIALCOMM while their device
// is present (each value a device such as "\Device\Serial0", its data the port's name), in the
// order of their numbers. (Wine lists there every port of its registry, present or not.)
int ListSerialPorts(PortInfo* out, int capacity) {
  if (out == nullptr || capacity <= 0)
    return 0;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return 0;
  int count = 0;
  for (DWORD index = 0;; ++index) {
    char device[128] = {};
    DWORD deviceSize = sizeof device;
    char name[PortInfo::kNameSize] = {};
    DWORD nameSize = sizeof name - 1;
    DWORD type = 0;
    const LONG result = RegEnumValueA(key, index, device, &deviceSize, nullptr, &type,
                                      reinterpret_cast<BYTE*>(name), &nameSize);
    if (result == ERROR_NO_MORE_ITEMS)
      break;
    if (result != ERROR_SUCCESS || type != REG_SZ)
      continue;
    const int number = ComNumber(name);
    if (number == 0)
      continue;
    // In the order of the numbers; when there are more than fit, the lowest.
    if (count == capacity && number >= out[count - 1].number)
      continue;
    int at = count < capacity ? count++ : count - 1;
    while (at > 0 && out[at - 1].number > number) {
      out[at] = out[at - 1];
      --at;
    }
    PortInfo& info = out[at];
    info = PortInfo{};
    info.number = number;
    Copy(info.name, sizeof info.name, name);
    Copy(info.path, sizeof info.path, "\\\\.\\");
    Copy(info.path + 4, sizeof info.path - 4, name);
    DriverOf(device, info.driver, sizeof info.driver);
  }
  RegCloseKey(key);

  HDEVINFO devices = SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (devices != INVALID_HANDLE_VALUE) {
    for (int i = 0; i < count; ++i)
      Describe(devices, out[i]);
    SetupDiDestroyDeviceInfoList(devices);
  }
  return count;
}

}  // namespace updater
