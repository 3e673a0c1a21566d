#pragma once

#include <cstdint>
#include <string_view>

namespace updater {

enum class CursorShape { kArrow, kWait };

// What the core needs of the window: display operations addressed by control identifier
// (model/resource.h). Texts are Windows-1252 bytes; an implementation converts them where they
// reach its toolkit. Implementations must not call back into the core.
class Displays {
 public:
  virtual ~Displays() = default;

  // Sets the text of a display; an empty view empties it.
  virtual void SetText(int id, std::string_view text) = 0;
  // Sets the text of a display to an unsigned decimal number.
  virtual void SetNumber(int id, std::uint32_t value) = 0;
  // Sets the text of a display to a signed decimal number (the bound size and sent counts).
  virtual void SetSignedNumber(int id, std::int32_t value) = 0;
  virtual void Enable(int id, bool enabled) = 0;

  // Progress bar: range 0..upper, a step, a position, and advancing by one step (past the upper
  // bound the position starts again from the lower bound; see ProgressModel).
  virtual void SetProgressRange(std::uint16_t upper) = 0;
  virtual void SetProgressStep(int step) = 0;
  virtual void SetProgressPos(int position) = 0;
  virtual void StepProgress() = 0;

  // Modal message box with the text, one OK button and the application's name as caption.
  virtual void ShowMessageBox(std::string_view text) = 0;
  virtual void SetCursor(CursorShape shape) = 0;

  // A text shown in the chosen language (model/localized.h) given in Spanish too: a front end that
  // records what it shows (the command line's JSON lines) keeps the Spanish, the same in every
  // language. By default the shown text alone.
  virtual void SetTranslatedText(int id, std::string_view text, std::string_view spanish) {
    static_cast<void>(spanish);
    SetText(id, text);
  }
  virtual void ShowTranslatedMessageBox(std::string_view text, std::string_view spanish) {
    static_cast<void>(spanish);
    ShowMessageBox(text);
  }
};

}  // namespace updater
