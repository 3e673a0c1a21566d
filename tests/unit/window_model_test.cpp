// The window model between the core and a window's toolkit: the bar drawn coalesced but exact
// whenever anything else is shown, the cursor around a message box, the guards and the pump.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "download/updater_core.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_port_driver.h"
#include "model/resource.h"
#include "model/window_model.h"

namespace {

using updater::CursorShape;
using updater::WindowModel;

// A toolkit that shows what it is told and notes what the operator would have seen.
class ShownWindow final : public updater::WindowToolkit {
 public:
  explicit ShownWindow(fakes::FakeClock& clock) : clock_(clock) {}
  void SetText(int id, std::string_view text) override {
    if (id == IDC_SENT && !text.empty())
      sentShown.push_back({std::stoi(std::string(text)), bar.position()});
  }
  void SetNumber(int, std::uint32_t) override {}
  void SetSignedNumber(int, std::int32_t) override {}
  void Enable(int, bool) override {}
  void SetProgressRange(std::uint16_t upper) override { bar.SetRange(upper); }
  void SetProgressStep(int step) override { bar.SetStep(step); }
  void SetProgressPos(int position) override {
    bar.SetPos(position);
    drawnAt.push_back(clock_.now());
  }
  void StepProgress() override { ADD_FAILURE() << "the bar is stepped by the model only"; }
  void ShowMessageBox(std::string_view) override { boxes.push_back({bar.position(), cursor}); }
  void SetCursor(CursorShape shape) override { cursor = shape; }
  bool EventsPending() override { return pending; }
  std::uint32_t ServeIntervalMs() const override { return interval; }
  void ServeEvents() override { ++served; }
  void RunStarting() override { ++runEdges; }
  void RunEnded() override { ++runEdges; }

  struct Shown {
    int count;     // what the text said, or the bar's position expected
    int position;  // what the bar showed meanwhile
  };
  updater::ProgressModel bar;
  std::vector<std::uint32_t> drawnAt;
  std::vector<Shown> sentShown;
  struct Box {
    int position;
    CursorShape cursor;
  };
  std::vector<Box> boxes;
  CursorShape cursor = CursorShape::kArrow;
  bool pending = false;
  std::uint32_t interval = 0;
  int served = 0;
  int runEdges = 0;

 private:
  fakes::FakeClock& clock_;
};

class WindowModelTest : public ::testing::Test {
 protected:
  fakes::FakeClock clock;
  ShownWindow window{clock};
  WindowModel model{window, clock};
};

TEST_F(WindowModelTest, TheBarIsRedrawnAtMostEvery30MsAndExactWheneverAnythingElseIsShown) {
  model.SetProgressRange(300);
  model.SetProgressStep(1);
  model.SetProgressPos(0);
  updater::ProgressModel core;  // the core's own count, a step a byte
  core.SetRange(300);
  core.SetStep(1);
  for (int block = 0, sent = 0; sent < 300; ++block) {
    const std::size_t drawsBefore = window.drawnAt.size();
    for (int i = 0; i < 128 && sent < 300; ++i, ++sent) {
      model.StepProgress();
      core.StepIt();
      clock.Advance(1);  // a byte's time on the line
    }
    model.SetText(IDC_SENT, std::to_string(sent));
    EXPECT_EQ(window.sentShown.back().position, sent) << "block " << block;
    // Within the block: the first step is drawn at once, then one draw every 30 ms at most.
    for (std::size_t d = drawsBefore + 1; d + 1 < window.drawnAt.size(); ++d)
      EXPECT_GE(window.drawnAt[d] - window.drawnAt[d - 1], WindowModel::kProgressRedrawMs);
    EXPECT_LE(window.drawnAt.size() - drawsBefore, 6u) << "block " << block;
    clock.Advance(135);  // the echo and the replies
  }
  EXPECT_EQ(model.progress().position(), core.position());
  EXPECT_EQ(window.bar.position(), 300);

  // Past the upper bound the bar starts again from zero, as the core's does; the end of a run
  // (the arrow cursor) shows it.
  model.StepProgress();
  model.StepProgress();
  model.SetCursor(CursorShape::kArrow);
  EXPECT_EQ(window.bar.position(), 1);
  EXPECT_FALSE(model.progress_pending());
}

TEST_F(WindowModelTest, AMessageBoxFollowsTheBarsExactStateAndComesWithTheArrow) {
  model.SetProgressRange(300);
  model.SetProgressStep(1);
  model.SetCursor(CursorShape::kWait);
  for (int i = 0; i < 5; ++i)
    model.StepProgress();  // all within one tick: only the first is drawn
  EXPECT_EQ(window.bar.position(), 1);
  model.ShowMessageBox("Error de comunicaci\xF3n");
  ASSERT_EQ(window.boxes.size(), 1u);
  EXPECT_EQ(window.boxes[0].position, 5);
  EXPECT_EQ(window.boxes[0].cursor, CursorShape::kArrow);
  EXPECT_EQ(window.cursor, CursorShape::kWait);
}

// A whole run of the core over a fake line with a wrong echo in the second block: every sent
// count and the message box find the bar at the count.
TEST_F(WindowModelTest, AWholeRunShowsTheBarAtEachBlocksCountAndAtTheMessageBox) {
  fakes::FakePortDriver driver(clock);
  updater::UpdaterCore core(model, driver, clock);
  sim::DeviceFaults faults;
  faults.wrongEchoOffset = 128 + 4;
  fakes::DevicePeer device(faults);
  device.Attach(driver.port(2));
  for (std::uint32_t i = 0; i < 300; ++i)
    core.m_download.m_image[i] = static_cast<std::uint8_t>('A' + i % 26);
  core.m_download.m_nFileLength = 300;
  model.SetProgressRange(300);
  model.SetProgressStep(1);
  model.SetProgressPos(0);

  model.OnProgram([&] { ADD_FAILURE() << "Programar is still disabled"; });
  model.Enable(IDC_PROGRAM, true);
  model.OnProgram([&] {
    EXPECT_TRUE(model.running());
    model.OnProgram([] { ADD_FAILURE() << "a second run inside the first"; });
    model.OnOpenFile([] { ADD_FAILURE() << "a file opened during a run"; });
    core.OnProgram();
  });

  ASSERT_EQ(window.sentShown.size(), 2u);
  EXPECT_EQ(window.sentShown[0].count, 128);
  EXPECT_EQ(window.sentShown[0].position, 128);
  EXPECT_EQ(window.sentShown[1].position, 256);
  ASSERT_EQ(window.boxes.size(), 1u);
  EXPECT_EQ(window.boxes[0].position, 256);
  EXPECT_EQ(window.boxes[0].cursor, CursorShape::kArrow);
  EXPECT_EQ(window.cursor, CursorShape::kArrow);
  EXPECT_EQ(window.runEdges, 2);
  EXPECT_FALSE(model.running());
  int opened = 0;
  model.OnOpenFile([&] { ++opened; });
  EXPECT_EQ(opened, 1);
}

TEST_F(WindowModelTest, ThePumpServesTheQueueOnlyWhenSomethingWaitsAndLeavesWithTheModel) {
  model.Pump();
  EXPECT_EQ(window.served, 0);
  window.pending = true;
  model.Pump();
  EXPECT_EQ(window.served, 1);

  // A pending step is drawn by the pump once it is due.
  model.StepProgress();
  model.StepProgress();
  EXPECT_TRUE(model.progress_pending());
  clock.Advance(WindowModel::kProgressRedrawMs);
  model.Pump();
  EXPECT_FALSE(model.progress_pending());

  // A clock that pumps, as the machine's does, is hooked by a model for as long as the model
  // lives.
  struct PumpingFakeClock final : fakes::FakeClock, updater::PumpingClock {
    void SetPumpHook(updater::PumpHook hook, void* context) override {
      FakeClock::SetPumpHook(hook, context);
    }
  } system;
  {
    ShownWindow other(clock);
    other.pending = true;
    WindowModel hooked(other, system);
    system.Pump();
    EXPECT_EQ(other.served, 1);
  }
  system.Pump();  // nothing hooked any more
}

TEST_F(WindowModelTest, AToolkitThatCannotLookIsServedNoMoreOftenThanItsIntervalAndPumpedWhenDue) {
  window.pending = true;
  window.interval = 16;
  const std::uint32_t t0 = clock.now();
  EXPECT_EQ(model.Pump(), 16u);  // a pass: the next is due an interval on, not a slice
  EXPECT_EQ(window.served, 1);
  clock.Set(t0 + 5);
  EXPECT_EQ(model.Pump(), 11u);  // the clock's next wait ends when the next pass is due
  EXPECT_EQ(window.served, 1);
  model.StepProgress();  // the first step is drawn at once
  clock.Set(t0 + 15);
  model.StepProgress();
  clock.Set(t0 + 25);
  EXPECT_EQ(model.Pump(), 16u);
  EXPECT_EQ(window.served, 2);
  EXPECT_TRUE(model.progress_pending());
  // A redraw falls due on its own time, whether or not the pass is put off.
  clock.Set(t0 + 35);
  EXPECT_EQ(model.Pump(), 6u);
  EXPECT_EQ(window.served, 2);
  EXPECT_FALSE(model.progress_pending());
  EXPECT_EQ(window.drawnAt.back(), t0 + 35);
  clock.Set(t0 + 41);
  model.Pump();
  EXPECT_EQ(window.served, 3);
}

TEST_F(WindowModelTest, ARationedToolkitsRunAsksTheClockForItsFirstPassAnIntervalAfterTheClick) {
  struct HintedClock final : fakes::FakeClock, updater::PumpingClock {
    void SetPumpHook(updater::PumpHook hook, void* context) override {
      FakeClock::SetPumpHook(hook, context);
    }
    void PumpWithin(std::uint32_t ms) override { asked.push_back(ms); }
    std::vector<std::uint32_t> asked;
  } system;
  ShownWindow rationed(system);
  rationed.pending = true;
  rationed.interval = 16;
  WindowModel hooked(rationed, system);
  hooked.Enable(IDC_PROGRAM, true);
  hooked.OnProgram([&] {
    EXPECT_EQ(system.asked, std::vector<std::uint32_t>{16});
    system.Advance(10);
    EXPECT_EQ(hooked.Pump(), 6u);  // the click's pass counts: none yet
    EXPECT_EQ(rationed.served, 0);
  });
  // A toolkit that can look at its queue is pumped as the clock's slices come.
  ShownWindow looking(system);
  WindowModel plain(looking, system);
  plain.Enable(IDC_PROGRAM, true);
  plain.OnProgram([] {});
  EXPECT_EQ(system.asked.size(), 1u);
}

}  // namespace
