#include "ui/cli/terminal_displays.h"

#include <cstdio>
#include <cstring>

#include "model/localized.h"
#include "model/resource.h"
#include "ui/cli/json_writer.h"

namespace updater::cli {

namespace {

// The decimal number a display holds ("" and anything else is 0).
std::uint32_t ParseCount(std::string_view text) {
  std::uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9')
      return 0;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return value;
}

// The first line of `text`, without its carriage returns; `text` goes on after it.
std::string_view NextLine(std::string_view& text) {
  const std::size_t end = text.find('\n');
  std::string_view line = text.substr(0, end);
  text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  while (!line.empty() && line.back() == '\r')
    line.remove_suffix(1);
  return line;
}

}  // namespace

TerminalDisplays::TerminalDisplays(Console& console, Clock& clock, bool quiet, bool json)
    : console_(console),
      clock_(clock),
      quiet_(quiet),
      json_(json),
      terminal_(console.ErrorIsTerminal()) {}

void TerminalDisplays::SetText(int id, std::string_view text) {
  if (id == IDC_INFO)
    Status(text, text, "status");
  else if (id == IDC_SENT)
    Sent(ParseCount(text));
}

void TerminalDisplays::SetNumber(int id, std::uint32_t value) {
  if (id == IDC_SIZE)
    total_ = value;
  else if (id == IDC_SENT)
    Sent(value);
}

void TerminalDisplays::SetSignedNumber(int id, std::int32_t value) {
  SetNumber(id, value < 0 ? 0u : static_cast<std::uint32_t>(value));
}

void TerminalDisplays::ShowMessageBox(std::string_view text) {
  Status(text, text, "error");
}

void TerminalDisplays::SetTranslatedText(int id, std::string_view text, std::string_view spanish) {
  if (id == IDC_INFO)
    Status(text, spanish, "status");
  else
    SetText(id, text);
}

void TerminalDisplays::ShowTranslatedMessageBox(std::string_view text, std::string_view spanish) {
  Status(text, spanish, "error");
}

void TerminalDisplays::Note(std::string_view text, std::string_view spanish) {
  const bool muted = muted_;
  muted_ = false;
  Status(text, spanish, "status");
  muted_ = muted;
}

void TerminalDisplays::BeginRound(bool repeated) {
  repeated_ = repeated;
  current_ = 1 - current_;
  roundCount_[current_] = 0;
}

void TerminalDisplays::EndProgress() {
  if (drawnLength_ > 0) {
    console_.Error("\n");
    drawnLength_ = 0;
  }
}

void TerminalDisplays::Status(std::string_view text, std::string_view spanish, const char* event) {
  if (muted_)
    return;
  // One line for each line of the message, the shown one and the Spanish one side by side; the
  // line ends of the window's log go.
  while (!text.empty() || !spanish.empty()) {
    const std::string_view line = NextLine(text);
    const std::string_view spanishLine = NextLine(spanish);
    if (!line.empty() || !spanishLine.empty())
      StatusLine(line, spanishLine, event);
  }
}

void TerminalDisplays::StatusLine(std::string_view line, std::string_view spanish,
                                  const char* event) {
  // A line is known by its Spanish words, the same in every language.
  const std::string_view key = spanish.empty() ? line : spanish;
  const bool seen = repeated_ && SeenLastRound(key);
  Remember(key);
  if (seen)
    return;
  if (json_ && !spanish.empty()) {
    JsonLine json;
    json.Utf8("event", event);
    json.Text("text", spanish);
    console_.OutputBytes(json.Finish());
  }
  if (quiet_ || line.empty())
    return;
  EndProgress();
  char out[kLineSize];
  std::size_t n = 0;
  for (const char c : line) {
    if (n + 2 > sizeof out)
      break;
    out[n++] = c == '\r' ? ' ' : c;
  }
  out[n++] = '\n';
  console_.Error(std::string_view(out, n));
}

bool TerminalDisplays::SeenLastRound(std::string_view line) const {
  const int last = 1 - current_;
  for (int i = 0; i < roundCount_[last]; ++i) {
    if (line.substr(0, kRememberedSize - 1) == rounds_[last][i])
      return true;
  }
  return false;
}

void TerminalDisplays::Remember(std::string_view line) {
  int& count = roundCount_[current_];
  if (count >= kRoundLines)
    return;
  const std::size_t n = line.size() < kRememberedSize - 1 ? line.size() : kRememberedSize - 1;
  std::memcpy(rounds_[current_][count], line.data(), n);
  rounds_[current_][count][n] = '\0';
  ++count;
}

void TerminalDisplays::Sent(std::uint32_t sent) {
  if (sent == 0 || sent < sent_) {
    // A new run: the rate and the tenths start again.
    sent_ = 0;
    firstSent_ = 0;
    lastTenth_ = 0;
    if (sent == 0)
      return;
  }
  const std::uint32_t now = clock_.TickCount();
  if (sent_ == 0) {
    firstSent_ = sent;
    firstTick_ = now;
  }
  sent_ = sent;
  if (muted_)
    return;
  if (json_) {
    JsonLine json;
    json.Utf8("event", "progress");
    json.Integer("sent", sent_);
    json.Integer("total", total_);
    console_.OutputBytes(json.Finish());
  }
  if (quiet_ || total_ == 0)
    return;
  if (terminal_) {
    DrawProgress();
    return;
  }
  const int tenth = static_cast<int>(static_cast<std::uint64_t>(sent_) * 10 / total_);
  if (tenth <= lastTenth_)
    return;
  lastTenth_ = tenth;
  // A line each time the count passes another tenth of the image, with its own percentage.
  const std::uint32_t shown = sent_ < total_ ? sent_ : total_;
  const auto percent = static_cast<unsigned>(static_cast<std::uint64_t>(shown) * 100 / total_);
  char line[96];
  const int n = std::snprintf(line, sizeof line, Localized("Enviado %u de %u bytes (%u %%)\n"),
                              static_cast<unsigned>(shown), static_cast<unsigned>(total_), percent);
  if (n > 0)
    console_.Error(std::string_view(line, std::strlen(line)));
}

void TerminalDisplays::DrawProgress() {
  const std::uint32_t shown = sent_ < total_ ? sent_ : total_;
  const int percent = static_cast<int>(static_cast<std::uint64_t>(shown) * 100 / total_);

  char rate[96] = "";
  const std::uint32_t elapsed = clock_.TickCount() - firstTick_;
  if (sent_ > firstSent_ && elapsed > 0) {
    const std::uint64_t perSecond = static_cast<std::uint64_t>(sent_ - firstSent_) * 1000 / elapsed;
    if (perSecond > 0) {
      const std::uint64_t left = (total_ - shown + perSecond - 1) / perSecond;
      std::snprintf(rate, sizeof rate, Localized("  %llu B/s  quedan %llu:%02llu"),
                    static_cast<unsigned long long>(perSecond),
                    static_cast<unsigned long long>(left / 60),
                    static_cast<unsigned long long>(left % 60));
    }
  }
  // The line fits the terminal with its last column left free, so that it never wraps (a
  // wrapped line scrolls a new row at every redraw): the rate goes first, then the bar narrows
  // and goes, then the byte counts; what still does not fit is cut.
  const int columns = console_.ErrorColumns();
  char line[160];
  const std::size_t room = columns > 1 && static_cast<std::size_t>(columns) < sizeof line - 1
                               ? static_cast<std::size_t>(columns) - 1
                               : sizeof line - 2;
  int barWidth = kBarWidth;
  bool withBytes = true;
  bool withRate = true;
  std::size_t visible = 0;
  for (;;) {
    char bar[kBarWidth + 3] = "";
    if (barWidth > 0) {
      const int filled = static_cast<int>(static_cast<std::uint64_t>(shown) *
                                          static_cast<std::uint64_t>(barWidth) / total_);
      bar[0] = '[';
      for (int i = 0; i < barWidth; ++i)
        bar[i + 1] = i < filled ? '#' : '-';
      bar[barWidth + 1] = ']';
      bar[barWidth + 2] = '\0';
    }
    char bytes[48] = "";
    if (withBytes) {
      std::snprintf(bytes, sizeof bytes, "  %u/%u bytes", static_cast<unsigned>(shown),
                    static_cast<unsigned>(total_));
    }
    const int n = std::snprintf(line, sizeof line, "\r%s%s%3d %%%s%s", bar, barWidth > 0 ? " " : "",
                                percent, bytes, withRate ? rate : "");
    if (n < 0)
      return;
    visible = static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) - 1
                                                        : sizeof line - 2;
    if (visible <= room)
      break;
    if (withRate && rate[0] != '\0') {
      withRate = false;
    } else if (barWidth > kMinBarWidth) {
      const std::size_t over = visible - room;
      barWidth = over < static_cast<std::size_t>(barWidth - kMinBarWidth)
                     ? barWidth - static_cast<int>(over)
                     : kMinBarWidth;
    } else if (barWidth > 0) {
      barWidth = 0;
    } else if (withBytes) {
      withBytes = false;
    } else {
      visible = room;
      break;
    }
  }
  std::size_t length = visible + 1;
  // Spaces over what is left of a longer line drawn before, within the room.
  const std::size_t cover = drawnLength_ < room ? drawnLength_ : room;
  while (length - 1 < cover && length < sizeof line)
    line[length++] = ' ';
  drawnLength_ = visible;
  console_.Error(std::string_view(line, length));
}

}  // namespace updater::cli
