#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/displays.h"
#include "model/progress_model.h"

namespace fakes {

// Records what the core shows, in fixed buffers, so that a run through it allocates nothing.
class FakeDisplays final : public updater::Displays {
 public:
  static constexpr int kFirstId = 1000;
  static constexpr int kIdCount = 12;
  static constexpr std::size_t kTextSize = 65536;
  static constexpr std::size_t kHistorySize = 1024;
  static constexpr std::size_t kHistoryTextSize = 64;

  void SetText(int id, std::string_view text) override;
  void SetNumber(int id, std::uint32_t value) override;
  void SetSignedNumber(int id, std::int32_t value) override;
  void Enable(int id, bool enabled) override;
  void SetProgressRange(std::uint16_t upper) override { progress.SetRange(upper); }
  void SetProgressStep(int step) override { progress.SetStep(step); }
  void SetProgressPos(int position) override { progress.SetPos(position); }
  void StepProgress() override {
    progress.StepIt();
    ++progressSteps;
  }
  void ShowMessageBox(std::string_view text) override;
  void SetCursor(updater::CursorShape shape) override;

  // The current text of a display (copied out for the test's convenience).
  std::string Text(int id) const;
  bool Enabled(int id) const;
  // Texts set on IDC_SENT and IDC_INFO, oldest first (each cut to kHistoryTextSize - 1).
  std::size_t sent_history_size() const { return sentCount_; }
  std::string SentAt(std::size_t i) const;
  std::size_t info_history_size() const { return infoCount_; }
  std::string InfoAt(std::size_t i) const;

  updater::ProgressModel progress;
  long progressSteps = 0;
  int messageBoxes = 0;
  char lastMessageBox[256] = {};
  updater::CursorShape cursor = updater::CursorShape::kArrow;
  int cursorChanges = 0;
  long textUpdates = 0;

 private:
  static int Slot(int id);
  void Record(char (*history)[kHistoryTextSize], std::size_t& count, std::string_view text);

  char texts_[kIdCount][kTextSize] = {};
  std::size_t lengths_[kIdCount] = {};
  bool enabled_[kIdCount] = {true, true, true, true, true, true,
                             true, true, true, true, true, true};
  char sent_[kHistorySize][kHistoryTextSize] = {};
  std::size_t sentCount_ = 0;
  char info_[kHistorySize][kHistoryTextSize] = {};
  std::size_t infoCount_ = 0;
};

}  // namespace fakes
