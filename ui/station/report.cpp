#include "ui/station/report.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "model/localized.h"
#include "model/windows1252.h"
#include "ui/cli/image_check.h"
#include "ui/cli/json_writer.h"
#include "ui/cli/options.h"
#include "ui/cli/translated.h"

namespace updater::station {

namespace {

// A whole number of at most `limit`; false for anything else.
bool ParseNumber(std::string_view text, std::uint64_t limit, std::uint64_t& value) {
  if (text.empty() || text.size() > 12)
    return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9')
      return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value <= limit;
}

// "68.805" (at most three decimals) as milliseconds, within a day.
bool ParseMillis(std::string_view text, std::uint32_t& millis) {
  const std::size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  std::string_view fraction = dot == std::string_view::npos ? "" : text.substr(dot + 1);
  std::uint64_t seconds = 0;
  std::uint64_t thousandths = 0;
  if (!ParseNumber(whole, 24 * 3600, seconds) || fraction.size() > 3 ||
      (dot != std::string_view::npos && !ParseNumber(fraction, 999, thousandths))) {
    return false;
  }
  for (std::size_t n = fraction.size(); n < 3; ++n)
    thousandths *= 10;
  millis = static_cast<std::uint32_t>(seconds * 1000 + thousandths);
  return true;
}

// At most ReportSums::kMaxText bytes, cut at a character boundary.
std::string Cut(std::string_view utf8) {
  if (utf8.size() <= ReportSums::kMaxText)
    return std::string(utf8);
  std::size_t end = ReportSums::kMaxText;
  while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
    --end;
  return std::string(utf8.substr(0, end));
}

}  // namespace

ReportSums::Sums& ReportSums::Group(std::string_view station, std::string_view sha256) {
  Sums& s = sums_[{Cut(station), std::string(sha256)}];
  if (s.group.station.empty()) {
    s.group.station = Cut(station);
    s.group.sha256 = sha256;
  }
  return s;
}

void ReportSums::Add(const ReportRecord& r) {
  char sha256[65];
  std::uint64_t exitCode = 0;
  std::uint32_t millis = 0;
  const bool ok = r.result == "ok";
  const bool readable = !r.station.empty() && cli::ParseSha256(r.sha256, sha256) &&
                        (ok || r.result == "failed") && ParseNumber(r.exitCode, 255, exitCode) &&
                        (exitCode == 0) == ok && ParseMillis(r.seconds, millis) && r.usec != 0;
  Sums& s = readable ? Group(r.station, sha256) : Group(r.station, "");
  ReportGroup& g = s.group;
  if (!readable) {
    ++g.unreadable;
    return;
  }
  g.first = g.first == 0 ? r.usec : std::min(g.first, r.usec);
  g.last = std::max(g.last, r.usec);
  if (r.usec >= s.imageUsec) {
    s.imageUsec = r.usec;
    g.image = Cut(r.image);
  }
  if (ok) {
    ++g.ok;
    s.millis.push_back(millis);
    return;
  }
  ++g.failed;
  const int code = static_cast<int>(exitCode);
  ++g.failures[code];
  auto& texts = s.texts[code];
  const std::string text = Cut(r.error);
  if (texts.size() < kMaxTexts || texts.count(text) != 0)
    ++texts[text];
}

std::vector<ReportGroup> ReportSums::Groups() const {
  std::vector<ReportGroup> out;
  for (const auto& [key, s] : sums_) {
    ReportGroup g = s.group;
    if (!s.millis.empty()) {
      std::vector<std::uint32_t> millis = s.millis;
      const auto middle = millis.begin() + static_cast<std::ptrdiff_t>(millis.size() / 2);
      std::nth_element(millis.begin(), middle, millis.end());
      g.medianMillis = *middle;
      if (millis.size() % 2 == 0) {
        const std::uint32_t below = *std::max_element(millis.begin(), middle);
        g.medianMillis = static_cast<std::uint32_t>((std::uint64_t{below} + *middle) / 2);
      }
    }
    for (const auto& [code, texts] : s.texts) {
      const auto top =
          std::max_element(texts.begin(), texts.end(),
                           [](const auto& a, const auto& b) { return a.second < b.second; });
      if (top != texts.end())
        g.topError[code] = top->first;
    }
    out.push_back(std::move(g));
  }
  return out;
}

namespace {

std::string UtcTime(std::uint64_t usec) {
  const time_t seconds = static_cast<time_t>(usec / 1000000);
  tm utc{};
  char text[32] = "";
  if (gmtime_r(&seconds, &utc) != nullptr)
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// "97,6 %" or "68,8 s": one decimal with the language's separator (a comma in Spanish).
std::string OneDecimal(std::uint64_t tenths, const char* unit) {
  return std::to_string(tenths / 10) + DecimalSeparator() + std::to_string(tenths % 10) + " " +
         unit;
}

std::uint64_t YieldScaled(const ReportGroup& g, std::uint64_t scale) {
  const std::uint64_t runs = g.ok + g.failed;
  return runs == 0 ? 0 : (std::uint64_t{g.ok} * scale * 2 + runs) / (runs * 2);
}

// The image's file name: the table has no room for its folder, which JSON and CSV keep.
std::string_view FileName(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string Column(const std::string& text, std::size_t width) {
  return text + std::string(width > text.size() ? width - text.size() + 2 : 2, ' ');
}

// `text` right-aligned in `width` columns, and the two columns between.
std::string RightColumn(const std::string& text, std::size_t width) {
  return std::string(width > text.size() ? width - text.size() : 0, ' ') + text + "  ";
}

// A column's width: its heading in the chosen language, and at least `figures` for its figures.
std::size_t Width(const char* heading, std::size_t figures) {
  return std::max(figures, std::string_view(heading).size());
}

// The cut of a text for the terminal, with an ellipsis.
std::string CutForTerminal(std::string text, std::size_t width) {
  if (text.size() > width)
    text = text.substr(0, width - 1) + "\x85";  // an ellipsis
  return text;
}

// "0.9756" for the CSV, as the JSON writes it.
std::string Fixed(std::uint64_t scaled, int decimals) {
  char text[48];
  return std::string(
      text, cli::FixedPoint(static_cast<std::int64_t>(scaled), decimals, text, sizeof text));
}

// A record's UTF-8 text as the terminal may show it (Windows-1252, control characters as '?').
std::string Printable(std::string_view utf8) {
  std::string text(utf8.size() + 1, '\0');
  text.resize(Utf8ToPrintableWindows1252(utf8, text.data(), text.size()));
  return text;
}

}  // namespace

std::string TerminalText(std::string_view utf8, std::size_t width) {
  return CutForTerminal(Printable(utf8), width);
}

std::string ShownRecordText(std::string_view utf8, std::size_t width) {
  return CutForTerminal(cli::LocalizedFailure(Printable(utf8)), width);
}

std::string ReportTable(const std::vector<ReportGroup>& groups,
                        const LocalTimeFunction& localTime) {
  constexpr std::size_t kName = 20;
  constexpr std::size_t kTime = 19;  // "2026-12-08 10:11:12"
  const char* station = Localized("Estaci\xF3n");
  const char* image = Localized("Imagen");
  std::size_t stationWidth = Width(station, 9);
  std::size_t imageWidth = Width(image, 6);
  for (const ReportGroup& g : groups) {
    stationWidth = std::max(stationWidth, TerminalText(g.station, kName).size());
    imageWidth = std::max(imageWidth, TerminalText(FileName(g.image), kName).size());
  }
  // The figures' columns as wide as their headings in the language, and as their figures need:
  // up to 999999 devices, "100,0 %", "9999,9 s".
  const char* ok = Localized("Correctos");
  const char* failed = Localized("Fallos");
  const char* yield = Localized("Rendimiento");
  const char* median = Localized("Mediana");
  const std::size_t okWidth = Width(ok, 6);
  const std::size_t failedWidth = Width(failed, 6);
  const std::size_t yieldWidth = Width(yield, 7);
  const std::size_t medianWidth = Width(median, 7);
  std::string out = Column(station, stationWidth) + Column(image, imageWidth) +
                    Column("SHA-256", 12) + RightColumn(ok, okWidth) +
                    RightColumn(failed, failedWidth) + RightColumn(yield, yieldWidth) +
                    RightColumn(median, medianWidth) + Column(Localized("Primero"), kTime) +
                    Localized("\xDAltimo") + "\n";
  std::uint32_t unreadable = 0;
  for (const ReportGroup& g : groups) {
    unreadable += g.unreadable;
    if (g.ok + g.failed == 0)
      continue;
    char figures[256];
    std::snprintf(figures, sizeof figures, "%-12.12s  %*u  %*u  %*s  %*s  ", g.sha256.c_str(),
                  static_cast<int>(okWidth), g.ok, static_cast<int>(failedWidth), g.failed,
                  static_cast<int>(yieldWidth), OneDecimal(YieldScaled(g, 1000), "%").c_str(),
                  static_cast<int>(medianWidth),
                  g.ok == 0 ? "-" : OneDecimal((g.medianMillis + 50) / 100, "s").c_str());
    out += Column(TerminalText(g.station, kName), stationWidth) +
           Column(TerminalText(FileName(g.image), kName), imageWidth) + figures +
           localTime(g.first) + "  " + localTime(g.last) + "\n";
    for (const auto& [code, count] : g.failures) {
      const auto top = g.topError.find(code);
      out += cli::Say(Translatable("    fallos con c\xF3"
                                   "digo %d: %u"),
                      code, count);
      if (top != g.topError.end())
        out +=
            cli::Say(Translatable(", sobre todo: %s"), ShownRecordText(top->second, 100).c_str());
      out += "\n";
    }
  }
  if (groups.empty())
    out += Localized("Ning\xFAn registro de programaci\xF3n\n");
  if (unreadable > 0)
    out += cli::Say(Translatable("Registros ilegibles (no contados): %u\n"), unreadable);
  return out;
}

std::string ReportJson(const std::vector<ReportGroup>& groups) {
  std::string out;
  cli::JsonLine line;
  for (const ReportGroup& g : groups) {
    line.Reset();
    line.Utf8("station", g.station);
    line.Utf8("image", g.image);
    line.Utf8("sha256", g.sha256);
    line.Integer("ok", g.ok);
    line.Integer("failed", g.failed);
    line.Integer("unreadable", g.unreadable);
    if (g.ok + g.failed > 0)
      line.Decimal("yield", static_cast<std::int64_t>(YieldScaled(g, 10000)), 4);
    else
      line.Null("yield");
    if (g.ok > 0)
      line.Milli("median_seconds", g.medianMillis);
    else
      line.Null("median_seconds");
    line.Utf8("first", g.first != 0 ? UtcTime(g.first) : "");
    line.Utf8("last", g.last != 0 ? UtcTime(g.last) : "");
    const std::vector<std::pair<int, std::uint32_t>> counts(g.failures.begin(), g.failures.end());
    line.Counts("failures", counts.data(), counts.size());
    std::vector<std::pair<int, std::string_view>> texts;
    for (const auto& [code, text] : g.topError)
      texts.emplace_back(code, text);
    line.Texts("top_errors", texts.data(), texts.size());
    out += line.Finish();
  }
  return out;
}

namespace {

// One CSV cell: quoted, quotes doubled, and a text a spreadsheet would take for a formula kept
// as text.
std::string Cell(std::string_view text) {
  std::string out = "\"";
  if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@' ||
                        text[0] == '\t' || text[0] == '\r'))
    out += '\'';
  for (const char c : text)
    out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

std::string ReportCsv(const std::vector<ReportGroup>& groups) {
  std::string out =
      "station,image,sha256,ok,failed,unreadable,yield,median_seconds,first,last,failures,"
      "top_errors\r\n";
  for (const ReportGroup& g : groups) {
    std::string failures;
    std::string errors;
    for (const auto& [code, count] : g.failures)
      failures +=
          (failures.empty() ? "" : " ") + std::to_string(code) + ":" + std::to_string(count);
    for (const auto& [code, text] : g.topError)
      errors += (errors.empty() ? "" : " | ") + std::to_string(code) + ": " + text;
    const std::string figures = std::to_string(g.ok) + "," + std::to_string(g.failed) + "," +
                                std::to_string(g.unreadable) + "," +
                                (g.ok + g.failed == 0 ? "" : Fixed(YieldScaled(g, 10000), 4)) +
                                "," + (g.ok == 0 ? "" : Fixed(g.medianMillis, 3));
    out += Cell(g.station) + "," + Cell(g.image) + "," + Cell(g.sha256) + "," + figures + "," +
           Cell(g.first != 0 ? UtcTime(g.first) : "") + "," +
           Cell(g.last != 0 ? UtcTime(g.last) : "") + "," + Cell(failures) + "," + Cell(errors) +
           "\r\n";
  }
  return out;
}

}  // namespace updater::station
