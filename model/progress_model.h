#pragma once

#include <cstdint>

namespace updater {

// The state of a progress bar as the window shows it: range 0..upper, step and position. Kept
// apart from any toolkit so that every front end and the tests agree on its arithmetic.
class ProgressModel {
 public:
  void SetRange(std::uint16_t upper);
  void SetStep(int step) { step_ = step; }
  void SetPos(int position);
  // Advances by one step; past the upper bound the position starts again from the lower bound.
  void StepIt();

  int lower() const { return 0; }
  int upper() const { return upper_; }
  int step() const { return step_; }
  int position() const { return position_; }

 private:
  int upper_ = 100;
  int step_ = 10;
  int position_ = 0;
};

}  // namespace updater
