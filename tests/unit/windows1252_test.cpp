#include "model/windows1252.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using updater::Windows1252ToUnicode;

TEST(Windows1252, DiffersFromLatin1OnlyFrom0x80To0x9F) {
  EXPECT_EQ(Windows1252ToUnicode(0x80), 0x20ACu);
  EXPECT_EQ(Windows1252ToUnicode(0x8A), 0x0160u);
  EXPECT_EQ(Windows1252ToUnicode(0x93), 0x201Cu);
  EXPECT_EQ(Windows1252ToUnicode(0x99), 0x2122u);
  EXPECT_EQ(Windows1252ToUnicode(0x9F), 0x0178u);
  // The bytes the code page leaves undefined pass as C1 controls.
  for (unsigned undefined : {0x81u, 0x8Du, 0x8Fu, 0x90u, 0x9Du})
    EXPECT_EQ(Windows1252ToUnicode(static_cast<std::uint8_t>(undefined)), undefined);
  for (unsigned byte = 0; byte < 0x80; ++byte)
    EXPECT_EQ(Windows1252ToUnicode(static_cast<std::uint8_t>(byte)), byte);
  for (unsigned byte = 0xA0; byte <= 0xFF; ++byte)
    EXPECT_EQ(Windows1252ToUnicode(static_cast<std::uint8_t>(byte)), byte);
}

TEST(Windows1252, BecomesUtf8CutOnlyAtACharacterBoundary) {
  char out[16];
  const std::string_view text("tama\xF1o \x80");
  EXPECT_EQ(updater::Windows1252ToUtf8(text, out, sizeof out), 11u);
  EXPECT_EQ(std::string(out), "tama\xC3\xB1o \xE2\x82\xAC");
  // Room for "tama" and the terminator, not for both bytes of the n with tilde.
  EXPECT_EQ(updater::Windows1252ToUtf8(text, out, 6), 4u);
  EXPECT_EQ(std::string(out), "tama");
  EXPECT_EQ(updater::Windows1252ToUtf8(text, out, 0), 0u);
}

TEST(Windows1252, ComesBackFromUtf8AndMarksWhatItLacks) {
  char all[256];
  for (int byte = 1; byte < 256; ++byte)
    all[byte - 1] = static_cast<char>(byte);
  char utf8[1024];
  char back[256];
  const std::size_t n = updater::Windows1252ToUtf8(std::string_view(all, 255), utf8, sizeof utf8);
  ASSERT_EQ(updater::Utf8ToWindows1252(std::string_view(utf8, n), back, sizeof back), 255u);
  EXPECT_EQ(std::string_view(back, 255), std::string_view(all, 255));
  // An arrow the code page lacks, an overlong NUL, a cut sequence; then cut to fit.
  EXPECT_EQ(updater::Utf8ToWindows1252("a\xE2\x86\x92"
                                       "b\xC0\x80"
                                       "c\xC3",
                                       back, sizeof back),
            7u);
  EXPECT_STREQ(back, "a?b??c?");
  EXPECT_EQ(updater::Utf8ToWindows1252("c\xC3\xB3"
                                       "digo",
                                       back, 4),
            3u);
  EXPECT_STREQ(back,
               "c\xF3"
               "d");
}

TEST(Windows1252, StandsForItsLettersInAsciiWithoutTheirAccents) {
  EXPECT_STREQ(updater::Windows1252ToAscii(0xF3), "o");
  EXPECT_STREQ(updater::Windows1252ToAscii(0xD1), "N");
  EXPECT_STREQ(updater::Windows1252ToAscii(0x80), "EUR");
  EXPECT_EQ(updater::Windows1252ToAscii('a'), nullptr);
}

}  // namespace
