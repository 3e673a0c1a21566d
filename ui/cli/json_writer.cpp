#include "ui/cli/json_writer.h"

#include <cstdio>

namespace updater::cli {

namespace {

// 0x80 to 0x9F of Windows-1252; the undefined five keep their C1 value.
constexpr std::uint16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Room kept for the closing "}\n".
constexpr std::size_t kClosing = 2;

std::size_t EncodeUtf8(std::uint32_t cp, char* out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

// Decodes one UTF-8 sequence at text[i]; an invalid one yields U+FFFD and consumes one byte.
std::uint32_t DecodeUtf8(std::string_view text, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
  const std::uint8_t lead = byte(i);
  std::size_t extra = 0;
  std::uint32_t cp = 0;
  std::uint32_t minimum = 0;
  if (lead < 0x80) {
    ++i;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1Fu, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0Fu, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07u, minimum = 0x10000;
  } else {
    ++i;
    return 0xFFFD;
  }
  if (i + extra >= text.size()) {
    ++i;
    return 0xFFFD;
  }
  for (std::size_t k = 1; k <= extra; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (byte(i + k) & 0x3Fu);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += extra + 1;
  return cp;
}

// What stands for each of the upper half's characters where only ASCII can be shown.
constexpr const char* kAsciiFallback[128] = {
    "EUR", "?",    ",", "f",   ",,",  "...", "+",   "++",  // 80
    "^",   "o/oo", "S", "<",   "OE",  "?",   "Z",   "?",   // 88
    "?",   "'",    "'", "\"",  "\"",  "*",   "-",   "-",   // 90
    "~",   "TM",   "s", ">",   "oe",  "?",   "z",   "Y",   // 98
    " ",   "!",    "c", "GBP", "?",   "JPY", "|",   "S",   // A0
    "\"",  "(C)",  "a", "<<",  "!",   "-",   "(R)", "-",   // A8
    "o",   "+/-",  "2", "3",   "'",   "u",   "P",   ".",   // B0
    ",",   "1",    "o", ">>",  "1/4", "1/2", "3/4", "?",   // B8
    "A",   "A",    "A", "A",   "A",   "A",   "AE",  "C",   // C0
    "E",   "E",    "E", "E",   "I",   "I",   "I",   "I",   // C8
    "D",   "N",    "O", "O",   "O",   "O",   "O",   "x",   // D0
    "O",   "U",    "U", "U",   "U",   "Y",   "TH",  "ss",  // D8
    "a",   "a",    "a", "a",   "a",   "a",   "ae",  "c",   // E0
    "e",   "e",    "e", "e",   "i",   "i",   "i",   "i",   // E8
    "d",   "n",    "o", "o",   "o",   "o",   "o",   "/",   // F0
    "o",   "u",    "u", "u",   "u",   "y",   "th",  "y",   // F8
};

}  // namespace

const char* Windows1252ToAscii(std::uint8_t byte) {
  static_assert(sizeof kAsciiFallback / sizeof kAsciiFallback[0] == 128);
  return byte < 0x80 ? nullptr : kAsciiFallback[byte - 0x80];
}

std::uint32_t Windows1252ToUnicode(std::uint8_t byte) {
  if (byte >= 0x80 && byte < 0xA0)
    return kHighControls[byte - 0x80];
  return byte;
}

std::size_t Windows1252ToUtf8(std::string_view text, char* out, std::size_t capacity) {
  if (capacity == 0)
    return 0;
  std::size_t length = 0;
  for (const char c : text) {
    char encoded[4];
    const std::size_t n = EncodeUtf8(Windows1252ToUnicode(static_cast<std::uint8_t>(c)), encoded);
    if (length + n + 1 > capacity)
      break;
    for (std::size_t k = 0; k < n; ++k)
      out[length++] = encoded[k];
  }
  out[length] = '\0';
  return length;
}

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
  Name(name);
  char text[32];
  const char* sign = thousandths < 0 ? "-" : "";
  const long long magnitude =
      thousandths < 0 ? -static_cast<long long>(thousandths) : static_cast<long long>(thousandths);
  const int n =
      std::snprintf(text, sizeof text, "%s%lld.%03lld", sign, magnitude / 1000, magnitude % 1000);
  Put(std::string_view(text, static_cast<std::size_t>(n)));
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
