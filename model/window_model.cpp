#include "model/window_model.h"

#include "model/resource.h"

namespace updater {

WindowModel::WindowModel(WindowToolkit& window, TickSource& clock)
    : window_(window), clock_(clock) {
  if (auto* pumping = dynamic_cast<PumpingClock*>(&clock)) {
    pumping->SetPumpHook(&WindowModel::PumpHook, this);
    pumped_ = pumping;
  }
}

WindowModel::~WindowModel() {
  if (pumped_ != nullptr)
    pumped_->SetPumpHook(nullptr, nullptr);
}

void WindowModel::SetText(int id, std::string_view text) {
  DrawPendingProgress();
  window_.SetText(id, text);
}

void WindowModel::SetNumber(int id, std::uint32_t value) {
  DrawPendingProgress();
  window_.SetNumber(id, value);
}

void WindowModel::SetSignedNumber(int id, std::int32_t value) {
  DrawPendingProgress();
  window_.SetSignedNumber(id, value);
}

void WindowModel::Enable(int id, bool enabled) {
  DrawPendingProgress();
  if (id == IDC_PROGRAM)
    programEnabled_ = enabled;
  window_.Enable(id, enabled);
}

// The bar is brought up to date first, so that the window's own progress follows the same
// arithmetic from the same state.
void WindowModel::SetProgressRange(std::uint16_t upper) {
  DrawPendingProgress();
  progress_.SetRange(upper);
  window_.SetProgressRange(upper);
}

void WindowModel::SetProgressStep(int step) {
  DrawPendingProgress();
  progress_.SetStep(step);
  window_.SetProgressStep(step);
}

void WindowModel::SetProgressPos(int position) {
  DrawPendingProgress();
  progress_.SetPos(position);
  window_.SetProgressPos(position);
}

void WindowModel::StepProgress() {
  progress_.StepIt();
  progressPending_ = true;
  if (!everDrawn_ || clock_.TickCount() - lastDrawn_ >= kProgressRedrawMs)
    DrawProgress();
}

void WindowModel::ShowMessageBox(std::string_view text) {
  DrawPendingProgress();
  // The wait cursor belongs to the window, not to the box the operator has to answer.
  const bool wait = waitCursor_;
  if (wait)
    window_.SetCursor(CursorShape::kArrow);
  window_.ShowMessageBox(text);
  if (wait)
    window_.SetCursor(CursorShape::kWait);
}

void WindowModel::SetCursor(CursorShape shape) {
  DrawPendingProgress();
  waitCursor_ = shape == CursorShape::kWait;
  window_.SetCursor(shape);
}

std::uint32_t WindowModel::Pump() {
  const std::uint32_t now = clock_.TickCount();
  if (progressPending_ && now - lastDrawn_ >= kProgressRedrawMs)
    DrawProgress();
  const std::uint32_t interval = window_.ServeIntervalMs();
  const std::uint32_t since = now - lastServed_;
  if (everServed_ && since < interval)
    return interval - since;
  everServed_ = true;
  lastServed_ = now;
  if (window_.EventsPending())
    window_.ServeEvents();
  // A rationed toolkit's next pass is due an interval from now, however long the next wait: the
  // clock's own slice on top of it would stretch the gap between two passes.
  return interval > 0 ? interval : kPumpWhenever;
}

// The click that starts a run came in a pass of the window's queue: for a rationed toolkit the
// next is due an interval on, and the clock's first wait must not take a whole slice of its own.
void WindowModel::RunBegins() {
  const std::uint32_t interval = window_.ServeIntervalMs();
  if (interval == 0)
    return;
  everServed_ = true;
  lastServed_ = clock_.TickCount();
  if (pumped_ != nullptr)
    pumped_->PumpWithin(interval);
}

std::uint32_t WindowModel::PumpHook(void* model) {
  return static_cast<WindowModel*>(model)->Pump();
}

void WindowModel::DrawPendingProgress() {
  if (progressPending_)
    DrawProgress();
}

void WindowModel::DrawProgress() {
  window_.SetProgressPos(progress_.position());
  progressPending_ = false;
  everDrawn_ = true;
  lastDrawn_ = clock_.TickCount();
}

}  // namespace updater
