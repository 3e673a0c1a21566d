#pragma once

#include <cstdint>
#include <string_view>

namespace updater::station {

// A time as journalctl's --since and --until take it, in microseconds since the epoch: "now",
// "today", "yesterday", "tomorrow" (local midnight), "@SECONDS", "-2h", "+30min", "3d ago",
// "2026-12-08", "2026-12-08 10:11[:12]", "10:11[:12]" (today), any of the dated ones followed by
// " UTC" for UTC rather than local time. Units: s, min, h, d, w (and their longer names). False
// for anything else.
bool ParseJournalTime(std::string_view text, std::uint64_t nowUsec, std::uint64_t& usec);

}  // namespace updater::station
