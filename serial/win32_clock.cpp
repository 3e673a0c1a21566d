#include <windows.h>

#include <cstdint>

#include "serial/clock.h"

namespace updater {

std::uint32_t SystemClock::TickCount() {
  return GetTickCount();
}

void SystemClock::Sleep(std::uint32_t ms) {
  if (hook_ == nullptr) {
    ::Sleep(ms);
    return;
  }
  // Slices are measured from the start, so time spent in the hook does not lengthen the sleep;
  // differences are unsigned, so a wrap of the tick count neither shortens nor lengthens it.
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms)
      return;
    const DWORD left = ms - elapsed;
    ::Sleep(left < kWaitSliceMs ? left : kWaitSliceMs);
    // Also after the last slice: the caller's next wait may add a slice of its own before it
    // pumps, and the window would go that much longer without painting.
    Pump();
  }
}

}  // namespace updater
