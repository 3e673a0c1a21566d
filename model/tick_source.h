#pragma once

#include <cstdint>

namespace updater {

// A millisecond tick count that wraps at 2^32 (differences are taken unsigned).
class TickSource {
 public:
  virtual ~TickSource() = default;
  virtual std::uint32_t TickCount() = 0;
};

// Returns the milliseconds within which the hook wants to run again: the waits of its clock are
// cut to that. kPumpWhenever leaves them at the clock's own slice.
using PumpHook = std::uint32_t (*)(void* context);
inline constexpr std::uint32_t kPumpWhenever = 0xFFFFFFFFu;

// A clock that runs a hook between the slices of its waits, so that a window keeps painting while
// the run waits on the line (the machine's own clock is one).
class PumpingClock {
 public:
  virtual ~PumpingClock() = default;
  // Null unhooks.
  virtual void SetPumpHook(PumpHook hook, void* context) = 0;
  // The hook wants to run within `ms` of now although it has not run lately (its waits so far
  // are cut as its last run asked).
  virtual void PumpWithin(std::uint32_t /*ms*/) {}
};

}  // namespace updater
