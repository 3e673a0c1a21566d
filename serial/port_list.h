#pragma once

#include <cstddef>
#include <cstdint>

namespace updater {

// One serial port present on the machine, as the system describes it. Texts are zero-terminated
// and cut to fit; an empty text means the system does not say.
struct PortInfo {
  static constexpr std::size_t kNameSize = 16;
  static constexpr std::size_t kPathSize = 256;
  static constexpr std::size_t kTextSize = 64;

  int number = 0;               // n of COMn
  char name[kNameSize] = {};    // "COM1": the name the program gives the port
  char path[kPathSize] = {};    // what the driver opens: "/dev/ttyUSB0", "/dev/COM1", "\\.\COM3"
  char driver[kTextSize] = {};  // the system's driver: "ftdi_sio", "cdc_acm", "serial8250"
  char manufacturer[kTextSize] = {};  // USB manufacturer string
  char product[kTextSize] = {};       // USB product string
  char serialNumber[kTextSize] = {};  // USB serial number
  std::uint16_t vendorId = 0;         // USB ids, 0 when not a USB device
  std::uint16_t productId = 0;
};

// Fills `out` with the machine's present serial ports in the order of their COM numbers and
// returns how many it wrote (never more than `capacity`). Allocates nothing of its own.
int ListSerialPorts(PortInfo* out, int capacity);

}  // namespace updater
