#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace updater::station {

// One run's result as the journal gives it: the fields of the command line's entry, untrusted
// (another version, another station may have written anything), and the entry's time.
struct ReportRecord {
  std::string_view station;  // _HOSTNAME
  std::string_view sha256;
  std::string_view image;
  std::string_view result;  // "ok" or "failed"
  std::string_view exitCode;
  std::string_view seconds;  // "68.805"
  std::string_view error;
  std::uint64_t usec = 0;  // when, microseconds since the epoch
};

// The sums of one station and image. A record that cannot be read is counted in the group of its
// station (when it names one) with an empty image and hash.
struct ReportGroup {
  std::string station;
  std::string image;  // the newest record's
  std::string sha256;
  std::uint32_t ok = 0;
  std::uint32_t failed = 0;
  std::uint32_t unreadable = 0;
  std::uint64_t first = 0;  // usec
  std::uint64_t last = 0;
  std::uint32_t medianMillis = 0;         // of the programmed devices' runs
  std::map<int, std::uint32_t> failures;  // by exit code
  std::map<int, std::string> topError;    // the most frequent error text of each exit code
};

// Sums records one at a time in bounded memory: a text is kept cut to kMaxText bytes, and at most
// kMaxTexts distinct error texts of an exit code are counted (a busy line has a handful).
class ReportSums {
 public:
  static constexpr std::size_t kMaxText = 256;
  static constexpr std::size_t kMaxTexts = 64;

  void Add(const ReportRecord& record);
  // The groups by station, then by image hash.
  std::vector<ReportGroup> Groups() const;

 private:
  struct Sums {
    ReportGroup group;
    std::uint64_t imageUsec = 0;
    std::vector<std::uint32_t> millis;
    std::map<int, std::map<std::string, std::uint32_t>> texts;
  };
  Sums& Group(std::string_view station, std::string_view sha256);

  std::map<std::pair<std::string, std::string>, Sums> sums_;
};

// A record's text for the terminal: Windows-1252, its control characters (a hostile record's
// escape sequences) as '?', at most `width` characters.
std::string TerminalText(std::string_view utf8, std::size_t width);
// A record's error text for the terminal, as TerminalText, in the chosen language where it is one
// of the command line's failures: the records keep them in Spanish whatever the language of the
// station that wrote them, so that the sums and the most frequent text are the same everywhere.
std::string ShownRecordText(std::string_view utf8, std::size_t width);

// The report's three forms. `localTime` turns an entry's time into the station's local time for
// the table; JSON and CSV give UTC as "2026-12-08T10:11:12Z". The table is in the chosen language
// (its words, the decimal separator); JSON and CSV are the same in every language.
using LocalTimeFunction = std::function<std::string(std::uint64_t usec)>;
std::string ReportTable(const std::vector<ReportGroup>& groups,
                        const LocalTimeFunction& localTime);  // Windows-1252
std::string ReportJson(const std::vector<ReportGroup>& groups);
std::string ReportCsv(const std::vector<ReportGroup>& groups);

}  // namespace updater::station
