#include <windows.h>

#include <cstdio>
#include <string>

#include "app/system/signed_image_gate.h"
#include "model/localized.h"

namespace updater {

std::string SignedImageGate::KeyFolder() {
  char program[MAX_PATH] = "";
  const DWORD n = GetModuleFileNameA(nullptr, program, sizeof program);
  std::string folder(program, n < sizeof program ? n : 0);
  const std::size_t slash = folder.find_last_of("\\/");
  return (slash == std::string::npos ? std::string(".") : folder.substr(0, slash)) + "\\keys";
}

// Debian has no libsodium built for Windows: with a key installed, no image can be shown to be
// signed, so none is admitted; without one the window is as it always was.
bool SignedImageGate::Admit(const char*, const std::uint8_t*, std::uint32_t, char* reason,
                            std::size_t capacity) {
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((folder_ + "\\*.pub").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return true;
  FindClose(search);
  std::snprintf(reason, capacity,
                Localized("Imagen rechazada: hay claves instaladas en %s y este programa no "
                          "comprueba firmas en Windows"),
                folder_.c_str());
  return false;
}

}  // namespace updater
