#include "model/progress_model.h"

namespace updater {

void ProgressModel::SetRange(std::uint16_t upper) {
  upper_ = upper;
  SetPos(position_);
}

void ProgressModel::SetPos(int position) {
  if (position < 0)
    position = 0;
  if (position > upper_)
    position = upper_;
  position_ = position;
}

void ProgressModel::StepIt() {
  const int next = position_ + step_;
  position_ = (next > upper_ || next < lower()) ? lower() : next;
}

}  // namespace updater
