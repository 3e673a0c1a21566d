#include "ui/win32/file_chooser.h"

#include <commdlg.h>

#include <cstring>

namespace {

// The description "*.QMZ" with no pattern after it; the list ends with the second zero.
constexpr char kFilter[] = "*.QMZ\0";

}  // namespace

bool Win32FileChooser::Choose(char* path, std::size_t capacity) {
  if (path == nullptr || capacity < sizeof kInitialName)
    return false;
  std::memcpy(path, kInitialName, sizeof kInitialName);

  OPENFILENAMEA ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = m_hOwner;
  ofn.lpstrFilter = kFilter;
  ofn.lpstrFile = path;
  ofn.nMaxFile = capacity > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(capacity);
  ofn.lpstrDefExt = nullptr;
  // The file need not exist: opening it is the loader's business, and it reports a failure.
  ofn.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_EXPLORER;
  const bool chosen = GetOpenFileNameA(&ofn) != FALSE;
  path[capacity - 1] = '\0';
  return chosen;
}
