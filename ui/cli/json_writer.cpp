#include "ui/cli/json_writer.h"

#include <algorithm>
#include <cstdio>

#include "model/windows1252.h"

namespace updater::cli {

namespace {

// Room kept for the closing "}\n".
constexpr std::size_t kClosing = 2;

}  // namespace

void JsonLine::Reset() {
  length_ = 0;
  first_ = true;
  overflow_ = false;
  buffer_[length_++] = '{';
}

bool JsonLine::Put(char c) {
  return Put(std::string_view(&c, 1));
}

bool JsonLine::Put(std::string_view s) {
  if (overflow_ || length_ + s.size() > kCapacity - kClosing) {
    overflow_ = true;
    return false;
  }
  for (const char c : s)
    buffer_[length_++] = c;
  return true;
}

void JsonLine::Name(const char* name) {
  mark_ = length_;
  markFirst_ = first_;
  overflow_ = false;
  cut_ = false;
  if (!first_)
    Put(',');
  first_ = false;
  Put('"');
  Put(std::string_view(name));
  Put("\":");
}

void JsonLine::End() {
  // A member that did not fit is left out whole.
  if (overflow_) {
    length_ = mark_;
    first_ = markFirst_;
    overflow_ = false;
  }
}

void JsonLine::Character(std::uint32_t cp) {
  char encoded[8];
  std::size_t n = 0;
  switch (cp) {
    case '"':
      n = 2, encoded[0] = '\\', encoded[1] = '"';
      break;
    case '\\':
      n = 2, encoded[0] = '\\', encoded[1] = '\\';
      break;
    case '\n':
      n = 2, encoded[0] = '\\', encoded[1] = 'n';
      break;
    case '\r':
      n = 2, encoded[0] = '\\', encoded[1] = 'r';
      break;
    case '\t':
      n = 2, encoded[0] = '\\', encoded[1] = 't';
      break;
    default:
      if (cp < 0x20 || cp == 0x7F) {
        std::snprintf(encoded, sizeof encoded, "\\u%04X", static_cast<unsigned>(cp));
        n = 6;
      } else {
        n = EncodeUtf8(cp, encoded);
      }
  }
  // Whole characters only, none after the first that did not fit, and room for the closing
  // quote.
  if (cut_ || overflow_ || length_ + n + 1 > kCapacity - kClosing) {
    cut_ = true;
    return;
  }
  for (std::size_t k = 0; k < n; ++k)
    buffer_[length_++] = encoded[k];
}

void JsonLine::Text(const char* name, std::string_view windows1252) {
  Name(name);
  Put('"');
  for (const char c : windows1252)
    Character(Windows1252ToUnicode(static_cast<std::uint8_t>(c)));
  Put('"');
  End();
}

void JsonLine::Utf8(const char* name, std::string_view utf8) {
  Name(name);
  Put('"');
  for (std::size_t i = 0; i < utf8.size();)
    Character(DecodeUtf8(utf8, i));
  Put('"');
  End();
}

void JsonLine::Integer(const char* name, std::int64_t value) {
  Name(name);
  char text[24];
  const int n = std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
  Put(std::string_view(text, static_cast<std::size_t>(n)));
  End();
}

void JsonLine::Milli(const char* name, std::int64_t thousandths) {
  Decimal(name, thousandths, 3);
}

std::size_t FixedPoint(std::int64_t scaled, int decimals, char* out, std::size_t capacity) {
  long long unit = 1;
  for (int i = 0; i < decimals; ++i)
    unit *= 10;
  const char* sign = scaled < 0 ? "-" : "";
  const long long magnitude =
      scaled < 0 ? -static_cast<long long>(scaled) : static_cast<long long>(scaled);
  const int n = std::snprintf(out, capacity, "%s%lld.%0*lld", sign, magnitude / unit, decimals,
                              magnitude % unit);
  return n < 0 ? 0 : std::min(static_cast<std::size_t>(n), capacity - 1);
}

void JsonLine::Decimal(const char* name, std::int64_t scaled, int decimals) {
  Name(name);
  char text[48];
  Put(std::string_view(text, FixedPoint(scaled, decimals, text, sizeof text)));
  End();
}

void JsonLine::Counts(const char* name, const std::pair<int, std::uint32_t>* counts,
                      std::size_t n) {
  Name(name);
  Put('{');
  for (std::size_t i = 0; i < n; ++i) {
    char text[48];
    const int m = std::snprintf(text, sizeof text, "%s\"%d\":%u", i == 0 ? "" : ",",
                                counts[i].first, static_cast<unsigned>(counts[i].second));
    Put(std::string_view(text, static_cast<std::size_t>(m)));
  }
  Put('}');
  End();
}

void JsonLine::Texts(const char* name, const std::pair<int, std::string_view>* texts,
                     std::size_t n) {
  Name(name);
  Put('{');
  for (std::size_t i = 0; i < n; ++i) {
    char key[24];
    const int m = std::snprintf(key, sizeof key, "%s\"%d\":\"", i == 0 ? "" : ",", texts[i].first);
    Put(std::string_view(key, static_cast<std::size_t>(m)));
    // Each text may be cut, never the object's own punctuation.
    cut_ = false;
    for (std::size_t k = 0; k < texts[i].second.size();)
      Character(DecodeUtf8(texts[i].second, k));
    Put('"');
  }
  Put('}');
  End();
}

void JsonLine::Boolean(const char* name, bool value) {
  Name(name);
  Put(value ? std::string_view("true") : std::string_view("false"));
  End();
}

void JsonLine::Null(const char* name) {
  Name(name);
  Put(std::string_view("null"));
  End();
}

std::string_view JsonLine::Finish() {
  // The closing room is always kept, whatever the values did.
  buffer_[length_] = '}';
  buffer_[length_ + 1] = '\n';
  return std::string_view(buffer_, length_ + kClosing);
}

}  // namespace updater::cli
