#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

namespace updater::cli {

// One JSON object on one line, built in a fixed buffer. Strings are escaped; the program's own
// texts are Windows-1252 and become UTF-8, texts of the system (paths) are taken as UTF-8 with
// any invalid byte replaced. A value that does not fit is cut at a character boundary and the
// object is still closed, so the line always parses.
// "0.9756": `scaled` with `decimals` decimals and a point, as JSON and a spreadsheet read it,
// into `out` (zero-terminated); returns the length written.
std::size_t FixedPoint(std::int64_t scaled, int decimals, char* out, std::size_t capacity);

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
  // A fixed-point number with `decimals` decimals: Decimal("yield", 9756, 4) is 0.9756.
  void Decimal(const char* name, std::int64_t scaled, int decimals);
  // An object of counts by number: {"8":2,"4":1}.
  void Counts(const char* name, const std::pair<int, std::uint32_t>* counts, std::size_t n);
  // An object of UTF-8 texts by number: {"8":"..."}.
  void Texts(const char* name, const std::pair<int, std::string_view>* texts, std::size_t n);
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

}  // namespace updater::cli
