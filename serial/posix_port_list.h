#pragma once

#include <cstddef>

#include "serial/com_name.h"
#include "serial/port_list.h"

namespace updater {

// One terminal device as the system's device manager knows it: the facts the COM numbers are
// made from.
struct TtyDevice {
  static constexpr std::size_t kNameSize = 32;

  PortInfo info;                            // path = the device node; number and name unset
  char kernelName[kNameSize] = {};          // "ttyS0", "ttyUSB0", "ttyACM0"
  char location[PortInfo::kPathSize] = {};  // its place on the buses, the same at every boot
  int uartType = -1;                        // the serial core's UART type; 0 = no UART behind it
  bool usb = false;                         // on a USB device (an adapter or a modem)
};

// The terminals that stand for hardware (no virtual consoles or pseudo-terminals).
class TtySource {
 public:
  virtual ~TtySource() = default;
  // Fills at most `capacity` entries; returns how many.
  virtual int Find(TtyDevice* out, int capacity) = 0;
};

// The machine's terminals through libudev (sysfs, and udev's database where it runs: the
// /dev/serial/by-path names become the location).
class UdevTtySource final : public TtySource {
 public:
  int Find(TtyDevice* out, int capacity) override;
};

inline constexpr int kMaxTtyDevices = 64;

// The present serial ports with their COM numbers, in number order. An entry "COMn" of `devDir`
// (an administrator's link) takes number n: when it leads somewhere it is listed with that path,
// and with what the source says about the device it leads to, which gets no other number; a
// dangling one keeps n free of any port. The other ports take the free numbers from 1 up: first
// the on-board UARTs that exist (a UART type other than 0) by kernel name, then the USB ports by
// location. Returns how many it wrote, at most `capacity`.
int ListPosixSerialPorts(TtySource& source, const char* devDir, PortInfo* out, int capacity);

// The device path of COM{index+1}: "<devDir>/COMn" when that name exists as a directory entry
// (even a dangling link: the port is then absent and its open fails), else the path the list
// above gives the number. False when no port has the number or the path does not fit in `cap`.
bool ResolvePortPath(int index, const char* devDir, TtySource& source, char* out, std::size_t cap);

}  // namespace updater
