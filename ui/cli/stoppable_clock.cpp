#include "ui/cli/stoppable_clock.h"

namespace updater::cli {

void StoppableClock::Sleep(std::uint32_t ms) {
  const std::uint32_t start = base_.TickCount();
  while (!Interrupted()) {
    const std::uint32_t elapsed = base_.TickCount() - start;
    if (elapsed >= ms)
      return;
    const std::uint32_t left = ms - elapsed;
    base_.Sleep(left < kWaitSliceMs ? left : kWaitSliceMs);
  }
}

}  // namespace updater::cli
