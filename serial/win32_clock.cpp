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
  // The first slice is always slept and pumped: the tick count moves in steps of about 16 ms,
  // so a short sleep read against it could otherwise end at once, without pausing or pumping.
  if (ms == 0)
    return;
  const DWORD start = GetTickCount();
  DWORD elapsed = 0;
  do {
    const DWORD left = ms - elapsed;
    const DWORD slice = WaitSliceMs();
    ::Sleep(left < slice ? left : slice);
    // Also after the last slice: the caller's next wait may add a slice of its own before it
    // pumps, and the window would go that much longer without painting.
    Pump();
    elapsed = GetTickCount() - start;
  } while (elapsed < ms);
}

}  // namespace updater
