#pragma once

#include <cstdint>

namespace updater {

// A millisecond tick count that wraps at 2^32 (differences are taken unsigned).
class TickSource {
 public:
  virtual ~TickSource() = default;
  virtual std::uint32_t TickCount() = 0;
};

using PumpHook = void (*)(void* context);

// A clock that runs a hook between the slices of its waits, so that a window keeps painting while
// the run waits on the line (the machine's own clock is one).
class PumpingClock {
 public:
  virtual ~PumpingClock() = default;
  // Null unhooks.
  virtual void SetPumpHook(PumpHook hook, void* context) = 0;
};

}  // namespace updater
