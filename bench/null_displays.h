#pragma once

#include <cstdint>
#include <string_view>

#include "model/displays.h"

namespace bench {

// Displays that show nothing, for timing the core without a window.
class NullDisplays final : public updater::Displays {
 public:
  void SetText(int, std::string_view) override {}
  void SetNumber(int, std::uint32_t) override {}
  void SetSignedNumber(int, std::int32_t) override {}
  void Enable(int, bool) override {}
  void SetProgressRange(std::uint16_t) override {}
  void SetProgressStep(int) override {}
  void SetProgressPos(int) override {}
  void StepProgress() override {}
  void ShowMessageBox(std::string_view) override {}
  void SetCursor(updater::CursorShape) override {}
};

}  // namespace bench
