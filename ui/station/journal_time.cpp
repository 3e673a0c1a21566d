#include "ui/station/journal_time.h"

#include <time.h>

#include <cstdio>
#include <string>

namespace updater::station {

namespace {

constexpr std::uint64_t kSecond = 1000000;

// Seconds in one of a span's units; 0 for an unknown one.
std::uint64_t UnitSeconds(std::string_view unit) {
  static const struct {
    const char* name;
    std::uint64_t seconds;
  } kUnits[] = {{"s", 1},         {"sec", 1},      {"second", 1},   {"seconds", 1},
                {"m", 60},        {"min", 60},     {"minute", 60},  {"minutes", 60},
                {"h", 3600},      {"hour", 3600},  {"hours", 3600}, {"d", 86400},
                {"day", 86400},   {"days", 86400}, {"w", 604800},   {"week", 604800},
                {"weeks", 604800}};
  for (const auto& u : kUnits) {
    if (unit == u.name)
      return u.seconds;
  }
  return 0;
}

// "2h", "30min": the span in seconds.
bool ParseSpan(std::string_view text, std::uint64_t& seconds) {
  std::size_t digits = 0;
  std::uint64_t count = 0;
  while (digits < text.size() && digits < 9 && text[digits] >= '0' && text[digits] <= '9')
    count = count * 10 + static_cast<std::uint64_t>(text[digits++] - '0');
  std::string_view unit = text.substr(digits);
  while (!unit.empty() && unit.front() == ' ')
    unit.remove_prefix(1);
  const std::uint64_t each = unit.empty() ? 1 : UnitSeconds(unit);
  seconds = count * each;
  return digits > 0 && each > 0;
}

// A broken-down time as local time (or UTC), in microseconds since the epoch.
bool FromCalendar(tm& calendar, bool utc, std::uint64_t& usec) {
  calendar.tm_isdst = -1;
  const time_t seconds = utc ? timegm(&calendar) : mktime(&calendar);
  if (seconds == static_cast<time_t>(-1) || seconds < 0)
    return false;
  usec = static_cast<std::uint64_t>(seconds) * kSecond;
  return true;
}

bool ParseClock(std::string_view text, tm& calendar) {
  int hour = 0, minute = 0, second = 0;
  char rest = 0;
  const std::string s(text);
  const int n = std::sscanf(s.c_str(), "%2d:%2d:%2d%c", &hour, &minute, &second, &rest);
  if (n != 2 && n != 3)
    return false;
  if (n == 2 && std::sscanf(s.c_str(), "%2d:%2d%c", &hour, &minute, &rest) != 2)
    return false;
  calendar.tm_hour = hour;
  calendar.tm_min = minute;
  calendar.tm_sec = n == 3 ? second : 0;
  return hour < 24 && minute < 60 && second < 61;
}

// "2026-12-08", "2026-12-08 10:11[:12]", "10:11[:12]".
bool ParseDate(std::string_view text, bool utc, std::uint64_t nowUsec, std::uint64_t& usec) {
  const time_t now = static_cast<time_t>(nowUsec / kSecond);
  tm calendar{};
  if (utc ? gmtime_r(&now, &calendar) == nullptr : localtime_r(&now, &calendar) == nullptr)
    return false;
  std::string_view clock = text;
  if (text.size() >= 10 && text[4] == '-' && text[7] == '-') {
    int year = 0, month = 0, day = 0;
    char rest = 0;
    if (std::sscanf(std::string(text.substr(0, 10)).c_str(), "%4d-%2d-%2d%c", &year, &month, &day,
                    &rest) != 3 ||
        month < 1 || month > 12 || day < 1 || day > 31) {
      return false;
    }
    calendar = tm{};
    calendar.tm_year = year - 1900;
    calendar.tm_mon = month - 1;
    calendar.tm_mday = day;
    if (text.size() == 10)
      return FromCalendar(calendar, utc, usec);
    if (text[10] != ' ' && text[10] != 'T')
      return false;
    clock = text.substr(11);
  }
  return ParseClock(clock, calendar) && FromCalendar(calendar, utc, usec);
}

}  // namespace

bool ParseJournalTime(std::string_view text, std::uint64_t nowUsec, std::uint64_t& usec) {
  std::uint64_t seconds = 0;
  if (text == "now") {
    usec = nowUsec;
    return true;
  }
  if (text == "today" || text == "yesterday" || text == "tomorrow") {
    const time_t now = static_cast<time_t>(nowUsec / kSecond);
    tm calendar{};
    if (localtime_r(&now, &calendar) == nullptr)
      return false;
    calendar.tm_hour = calendar.tm_min = calendar.tm_sec = 0;
    calendar.tm_mday += text == "yesterday" ? -1 : text == "tomorrow" ? 1 : 0;
    return FromCalendar(calendar, false, usec);
  }
  if (!text.empty() && text.front() == '@') {
    const std::string_view digits = text.substr(1);
    if (digits.empty() || digits.size() > 12 ||
        digits.find_first_not_of("0123456789") != std::string_view::npos)
      return false;
    usec = std::stoull(std::string(digits)) * kSecond;
    return true;
  }
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    if (!ParseSpan(text.substr(1), seconds) || seconds * kSecond > nowUsec)
      return false;
    usec = text.front() == '-' ? nowUsec - seconds * kSecond : nowUsec + seconds * kSecond;
    return true;
  }
  constexpr std::string_view kAgo = " ago";
  if (text.size() > kAgo.size() && text.substr(text.size() - kAgo.size()) == kAgo) {
    if (!ParseSpan(text.substr(0, text.size() - kAgo.size()), seconds) ||
        seconds * kSecond > nowUsec)
      return false;
    usec = nowUsec - seconds * kSecond;
    return true;
  }
  constexpr std::string_view kUtc = " UTC";
  const bool utc = text.size() > kUtc.size() && text.substr(text.size() - kUtc.size()) == kUtc;
  return ParseDate(utc ? text.substr(0, text.size() - kUtc.size()) : text, utc, nowUsec, usec);
}

}  // namespace updater::station
