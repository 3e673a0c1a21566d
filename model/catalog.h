#pragma once

// The platform's side of the translations: one file a system, chosen by CMake (gettext on Linux,
// the catalogs compiled into the program on Windows).
namespace updater::catalog {

// Opens the catalog of the system's language; false when the texts stay Spanish.
bool Open();

// The translation of a UTF-8 message id, UTF-8; nullptr where the catalog has none.
const char* Find(const char* messageId);

}  // namespace updater::catalog
