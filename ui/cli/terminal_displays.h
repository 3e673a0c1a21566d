#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "model/displays.h"
#include "serial/clock.h"
#include "ui/cli/console.h"

namespace updater::cli {

// The core's displays on a terminal. Status messages (the status line and message boxes) become
// lines on standard error, in the chosen language; the sent count becomes a progress line, redrawn
// in place on a terminal and printed at every tenth of the image otherwise; with JSON on, each also
// becomes an object on standard output, in Spanish whatever the language (a script reads the same
// words). The window's other displays (log, views, buttons, cursor) have no place here.
class TerminalDisplays final : public Displays {
 public:
  static constexpr std::size_t kLineSize = 512;
  static constexpr int kRoundLines = 24;
  static constexpr int kBarWidth = 24;
  static constexpr int kMinBarWidth = 10;  // narrower than this, the bar goes
  static constexpr std::size_t kRememberedSize = 256;

  TerminalDisplays(Console& console, Clock& clock, bool quiet, bool json);

  void SetText(int id, std::string_view text) override;
  void SetNumber(int id, std::uint32_t value) override;
  void SetSignedNumber(int id, std::int32_t value) override;
  void Enable(int, bool) override {}
  void SetProgressRange(std::uint16_t) override {}
  void SetProgressStep(int) override {}
  void SetProgressPos(int) override {}
  void StepProgress() override {}
  void ShowMessageBox(std::string_view text) override;
  void SetCursor(CursorShape) override {}
  void SetTranslatedText(int id, std::string_view text, std::string_view spanish) override;
  void ShowTranslatedMessageBox(std::string_view text, std::string_view spanish) override;

  // A line of the command line's own, shown as a status message (Windows-1252): `text` in the
  // chosen language, `spanish` for the JSON line.
  void Note(std::string_view text, std::string_view spanish);
  // Discovery repeated while waiting for a device: a status line that the previous round showed
  // is not shown again, so that a wait prints what changes rather than the same probes.
  void BeginRound(bool repeated);
  // While muted nothing of the core is shown (probing whether a device went away).
  void SetMuted(bool muted) { muted_ = muted; }
  // Ends a progress line still open on the terminal.
  void EndProgress();

  std::uint32_t sent() const { return sent_; }

 private:
  void Status(std::string_view text, std::string_view spanish, const char* event);
  void StatusLine(std::string_view line, std::string_view spanish, const char* event);
  void Sent(std::uint32_t sent);
  void DrawProgress();
  bool SeenLastRound(std::string_view line) const;
  void Remember(std::string_view line);

  Console& console_;
  Clock& clock_;
  bool quiet_;
  bool json_;
  bool terminal_;
  bool muted_ = false;

  std::uint32_t total_ = 0;
  std::uint32_t sent_ = 0;
  std::uint32_t firstSent_ = 0;
  std::uint32_t firstTick_ = 0;
  int lastTenth_ = 0;
  std::size_t drawnLength_ = 0;  // the progress line on the terminal, 0 when none is open

  bool repeated_ = false;
  char rounds_[2][kRoundLines][kRememberedSize] = {};
  int roundCount_[2] = {0, 0};
  int current_ = 0;
};

}  // namespace updater::cli
