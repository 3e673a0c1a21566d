#pragma once

#include <cstdint>
#include <string_view>

#include "model/displays.h"
#include "model/progress_model.h"
#include "model/tick_source.h"

namespace updater {

// How often a toolkit whose queue is rationed is served during a run: as often as a screen
// refreshes, so that what it paints shows as soon as anyone could see it.
inline constexpr std::uint32_t kScreenRefreshMs = 16;

// What a window does with its toolkit: the display operations, each shown at once, and its event
// queue. WindowModel decides when each is called.
class WindowToolkit : public Displays {
 public:
  // Whether anything waits in the window system's queue for this thread. Asked at every pump
  // that ServeIntervalMs lets through, so it costs next to nothing when nothing does; a toolkit
  // that cannot look says yes.
  virtual bool EventsPending() = 0;
  // The least time between two passes over the queue: 0 to have EventsPending asked at every
  // pump; more for a toolkit whose every pass costs the same, pending or not, or whose look is
  // itself a round trip to another process that a busy machine may answer late.
  virtual std::uint32_t ServeIntervalMs() const { return 0; }
  // Serves what waits: painting and timers run; during a run the operator's input to the window
  // and requests to close it are dropped.
  virtual void ServeEvents() = 0;
  // A run begins, or has just ended (its last input is the run's too and is dropped).
  virtual void RunStarting() {}
  virtual void RunEnded() {}
};

// What both windows do between the core and their toolkit:
// - the progress: the core steps it once a byte sent; the bar is redrawn at most once every
//   kProgressRedrawMs, and always before anything else is shown (the sent count at a block's
//   end, a status message, a message box, the cursor at the end of a run), so that the window
//   then shows the core's exact state, and drawing never holds up the line;
// - the arrow cursor over a message box that comes during a run's wait cursor;
// - the guards: no file is opened and no run started while a run lasts, nor a run while
//   "Programar" is disabled;
// - the pump that the clock runs between the slices of its waits: a due redraw, and the window's
//   queue served only when something waits in it and no sooner than the toolkit's interval
//   after the last pass; each pump of such a toolkit asks the clock to pump again when the
//   next pass falls due, so passes stay no further apart than the interval (or the clock's
//   slice, if shorter) plus whatever runs between two waits.
// The core reports to this object; the window's own display operations stay toolkit calls only.
class WindowModel final : public Displays {
 public:
  static constexpr std::uint32_t kProgressRedrawMs = 30;

  // A clock that is also a PumpingClock gets this model's pump hook until the model goes.
  WindowModel(WindowToolkit& window, TickSource& clock);
  ~WindowModel() override;
  WindowModel(const WindowModel&) = delete;
  WindowModel& operator=(const WindowModel&) = delete;

  // Displays
  void SetText(int id, std::string_view text) override;
  void SetNumber(int id, std::uint32_t value) override;
  void SetSignedNumber(int id, std::int32_t value) override;
  void Enable(int id, bool enabled) override;
  void SetProgressRange(std::uint16_t upper) override;
  void SetProgressStep(int step) override;
  void SetProgressPos(int position) override;
  void StepProgress() override;
  void ShowMessageBox(std::string_view text) override;
  void SetCursor(CursorShape shape) override;

  // "Abrir archivo": runs `open` unless a run lasts.
  template <typename Open>
  void OnOpenFile(Open&& open) {
    if (!running_)
      open();
  }
  // "Programar": runs `program` as a run unless one lasts already (a click that got through
  // meanwhile) or the button is disabled (a click sent to it all the same).
  template <typename Program>
  void OnProgram(Program&& program) {
    if (running_ || !programEnabled_)
      return;
    running_ = true;
    window_.RunStarting();
    RunBegins();
    program();
    DrawPendingProgress();
    window_.RunEnded();
    running_ = false;
  }

  // Between the clock's wait slices; returns the milliseconds within which it wants to run again
  // (kPumpWhenever: no sooner than the clock's slice). `model` is the WindowModel.
  std::uint32_t Pump();
  static std::uint32_t PumpHook(void* model);

  bool running() const { return running_; }
  // The progress as the core left it; the bar shows it whenever nothing is pending.
  const ProgressModel& progress() const { return progress_; }
  bool progress_pending() const { return progressPending_; }

 private:
  void RunBegins();
  void DrawPendingProgress();
  void DrawProgress();

  WindowToolkit& window_;
  TickSource& clock_;
  PumpingClock* pumped_ = nullptr;  // the clock that holds our pump hook
  ProgressModel progress_;
  bool progressPending_ = false;
  bool everDrawn_ = false;
  std::uint32_t lastDrawn_ = 0;
  bool everServed_ = false;
  std::uint32_t lastServed_ = 0;  // when the queue was last looked at
  bool running_ = false;
  bool programEnabled_ = false;  // as OnInitDialog leaves it
  bool waitCursor_ = false;
};

}  // namespace updater
