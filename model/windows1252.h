#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace updater {

// The program's own texts (the core's messages, the dialog templates, the command line's words)
// are Windows-1252 bytes; every front end converts them through these.

// The Unicode code point of one Windows-1252 byte. The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same value, as Windows does.
std::uint32_t Windows1252ToUnicode(std::uint8_t byte);

// One code point as UTF-8 into `out`, which has room for four bytes; returns the bytes written.
std::size_t EncodeUtf8(std::uint32_t codePoint, char* out);

// What stands for a Windows-1252 character of the upper half (0x80 and up) where only ASCII can
// be shown: the letter without its accent ("\xF3" "o", "\xF1" "n"), "EUR" for the euro sign;
// nullptr for an ASCII byte, which stands for itself.
const char* Windows1252ToAscii(std::uint8_t byte);

// Converts Windows-1252 text to UTF-8 into `out` (zero-terminated, cut at a character boundary);
// returns the length written.
std::size_t Windows1252ToUtf8(std::string_view text, char* out, std::size_t capacity);

// What an invalid UTF-8 sequence decodes to.
inline constexpr std::uint32_t kReplacementCharacter = 0xFFFD;

// Decodes the UTF-8 sequence at text[at] and moves `at` past it; an invalid, overlong or cut
// sequence, a surrogate or a code point past U+10FFFF yields kReplacementCharacter and moves `at`
// one byte on.
std::uint32_t DecodeUtf8(std::string_view text, std::size_t& at);

// Converts UTF-8 text (the journal's, a record's) to Windows-1252 into `out` (zero-terminated,
// cut to fit); a character the code page lacks and a malformed byte become '?'. Returns the
// length written.
std::size_t Utf8ToWindows1252(std::string_view text, char* out, std::size_t capacity);

// The same for a text from outside the program shown on a terminal (a record, a signer's
// comment): its control characters, a hostile text's escape sequences among them, become '?'.
std::size_t Utf8ToPrintableWindows1252(std::string_view text, char* out, std::size_t capacity);

}  // namespace updater
