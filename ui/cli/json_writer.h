#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace updater::cli {

// One JSON object on one line, built in a fixed buffer. Strings are escaped; the program's own
// texts are Windows-1252 and become UTF-8, texts of the system (paths) are taken as UTF-8 with
// any invalid byte replaced. A value that does not fit is cut at a character boundary and the
// object is still closed, so the line always parses.
class JsonLine {
 public:
  static constexpr std::size_t kCapacity = 8192;

  JsonLine() { Reset(); }

  void Reset();
  void Text(const char* name, std::string_view windows1252);
  void Utf8(const char* name, std::string_view utf8);
  void Integer(const char* name, std::int64_t value);
  // A fixed-point number with three decimals (seconds).
  void Milli(const char* name, std::int64_t thousandths);
  void Boolean(const char* name, bool value);
  void Null(const char* name);

  // The object with its closing brace and a line feed.
  std::string_view Finish();

 private:
  void Name(const char* name);
  void End();
  bool Put(char c);
  bool Put(std::string_view s);
  // Appends one Unicode code point, escaped as JSON requires.
  void Character(std::uint32_t codePoint);

  char buffer_[kCapacity] = {};
  std::size_t length_ = 0;
  bool first_ = true;
  bool overflow_ = false;
  bool cut_ = false;
  std::size_t mark_ = 0;
  bool markFirst_ = true;
};

// The Unicode code point of a Windows-1252 byte (the five undefined ones map to themselves, as
// Windows' own conversion does).
std::uint32_t Windows1252ToUnicode(std::uint8_t byte);

// What stands for a Windows-1252 character of the upper half (0x80 and up) where only ASCII can
// be shown: the letter without its accent ("\xF3" "o", "\xF1" "n"), "EUR" for the euro sign;
// nullptr for an ASCII byte, which stands for itself.
const char* Windows1252ToAscii(std::uint8_t byte);

// Converts Windows-1252 text to UTF-8 into `out` (zero-terminated, cut at a character boundary);
// returns the length written.
std::size_t Windows1252ToUtf8(std::string_view text, char* out, std::size_t capacity);

}  // namespace updater::cli
