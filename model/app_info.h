#pragma once

// Configured from the top CMakeLists.txt.
#include "model/product_info.h"

namespace updater {

// The application's name (the caption of its message boxes), its main window's title and its
// version, for every front end.
inline constexpr const char* kApplicationName = UPDATER_PRODUCT_NAME;
inline constexpr const char* kApplicationTitle = UPDATER_PRODUCT_TITLE;
inline constexpr const char* kApplicationVersion = UPDATER_VERSION_TEXT;

}  // namespace updater
