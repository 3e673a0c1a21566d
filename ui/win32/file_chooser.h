#pragma once

#include <windows.h>

#include <cstddef>

#include "download/updater_core.h"

// The common open-file dialog, as the main window shows it for "Abrir archivo": initial name
// "*.QMZ", which limits the listing, and the filter string "*.QMZ" alone (a filter entry without
// a pattern).
class Win32FileChooser final : public updater::FileChooser {
 public:
  static constexpr char kInitialName[] = "*.QMZ";

  void SetOwner(HWND owner) { m_hOwner = owner; }
  bool Choose(char* path, std::size_t capacity) override;

 private:
  HWND m_hOwner = nullptr;
};
