#include "model/windows1252.h"

namespace updater {

namespace {

// 0x80 to 0x9F, where Windows-1252 differs from Latin-1; every other byte is its own code point.
constexpr std::uint16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

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

std::uint32_t DecodeUtf8(std::string_view text, std::size_t& at) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
  const std::uint8_t lead = byte(at);
  std::size_t extra = 0;
  std::uint32_t cp = 0;
  std::uint32_t minimum = 0;
  if (lead < 0x80) {
    ++at;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1Fu, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0Fu, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07u, minimum = 0x10000;
  } else {
    ++at;
    return kReplacementCharacter;
  }
  if (at + extra >= text.size()) {
    ++at;
    return kReplacementCharacter;
  }
  for (std::size_t k = 1; k <= extra; ++k) {
    if ((byte(at + k) & 0xC0) != 0x80) {
      ++at;
      return kReplacementCharacter;
    }
    cp = (cp << 6) | (byte(at + k) & 0x3Fu);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++at;
    return kReplacementCharacter;
  }
  at += extra + 1;
  return cp;
}

namespace {

char ToWindows1252(std::uint32_t code) {
  if (code < 0x80 || (code >= 0xA0 && code <= 0xFF))
    return static_cast<char>(code);
  for (unsigned byte = 0x80; byte < 0xA0; ++byte) {
    if (Windows1252ToUnicode(static_cast<std::uint8_t>(byte)) == code)
      return static_cast<char>(byte);
  }
  return '?';
}

}  // namespace

std::size_t Utf8ToWindows1252(std::string_view text, char* out, std::size_t capacity) {
  if (capacity == 0)
    return 0;
  std::size_t length = 0;
  for (std::size_t at = 0; at < text.size() && length + 1 < capacity;) {
    out[length++] = ToWindows1252(DecodeUtf8(text, at));
  }
  out[length] = '\0';
  return length;
}

std::size_t Utf8ToPrintableWindows1252(std::string_view text, char* out, std::size_t capacity) {
  const std::size_t length = Utf8ToWindows1252(text, out, capacity);
  for (std::size_t i = 0; i < length; ++i) {
    const auto byte = static_cast<std::uint8_t>(out[i]);
    if (byte < 0x20 || byte == 0x7F)
      out[i] = '?';
  }
  return length;
}

}  // namespace updater
