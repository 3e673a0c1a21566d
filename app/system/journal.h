#pragma once

#include "ui/cli/platform.h"

namespace updater::cli {

DeviceDescription DescribeDevice(const char* path);

// Whether the system's journal takes entries (its socket is there).
bool JournalReachable();

// One journal entry with the record's fields and the device's, under the result's message
// identifier.
bool SendJournalRecord(const RunRecord& record, const DeviceDescription& device);

}  // namespace updater::cli
