#pragma once

#include "ui/cli/platform.h"

namespace updater::cli {

// A serial device as the system knows it, for the journal's record (empty texts when unknown).
struct DeviceDescription {
  char device[256] = {};     // the device node, links resolved: "/dev/ttyUSB0"
  char byPath[512] = {};     // its name under /dev/serial/by-path, by the USB socket
  char usbSerial[128] = {};  // the USB adapter's serial number
};

DeviceDescription DescribeDevice(const char* path);

// Whether the system's journal takes entries (its socket is there).
bool JournalReachable();

// One journal entry with the record's fields and the device's, under the result's message
// identifier.
bool SendJournalRecord(const RunRecord& record, const DeviceDescription& device);

}  // namespace updater::cli
