#pragma once

#include <cstddef>

namespace updater::cli {

// "COMn" in any letter case, n from 1 to `maxNumber` without a leading zero: n; else 0.
int ComNumber(const char* name, int maxNumber);

}  // namespace updater::cli
