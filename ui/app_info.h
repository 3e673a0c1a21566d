#pragma once

namespace updater {

// The application's name (the caption of its message boxes) and version, for every front end.
inline constexpr const char* kApplicationName = "Actualizador";
inline constexpr const char* kApplicationVersion = "1.0.0.1";

}  // namespace updater
