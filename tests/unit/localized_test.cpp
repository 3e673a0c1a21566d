// The language chosen from the system's setting, and the catalogs read both ways the programs
// read them: through gettext, and from a compiled catalog in memory as on Windows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "model/localized.h"
#include "model/mo_catalog.h"

namespace updater {
namespace {

TEST(CatalogLanguagesTest, SpanishForSpanishAndTheCLocale) {
  EXPECT_EQ(CatalogLanguages(nullptr, nullptr, nullptr, nullptr), "");
  EXPECT_EQ(CatalogLanguages(nullptr, nullptr, nullptr, "es_ES.UTF-8"), "");
  EXPECT_EQ(CatalogLanguages(nullptr, nullptr, nullptr, "es_MX@euro"), "");
  EXPECT_EQ(CatalogLanguages("en", nullptr, nullptr, "C"), "");
  EXPECT_EQ(CatalogLanguages("en", nullptr, nullptr, "C.UTF-8"), "");
  EXPECT_EQ(CatalogLanguages(nullptr, "POSIX", nullptr, "en_US.UTF-8"), "");
  EXPECT_EQ(CatalogLanguages("es:en", nullptr, nullptr, "en_US.UTF-8"), "");
}

TEST(CatalogLanguagesTest, EveryOtherLanguageEndsInEnglish) {
  EXPECT_EQ(CatalogLanguages(nullptr, nullptr, nullptr, "en_US.UTF-8"), "en_US.UTF-8:en");
  EXPECT_EQ(CatalogLanguages(nullptr, nullptr, "de_DE.UTF-8", "es_ES.UTF-8"), "de_DE.UTF-8:en");
  EXPECT_EQ(CatalogLanguages(nullptr, "fr_FR", "es_ES", "es_ES"), "fr_FR:en");
  EXPECT_EQ(CatalogLanguages("fr::de", nullptr, nullptr, "es_ES.UTF-8"), "fr:de:en");
  // A Spanish choice after another language: that one where it has a catalog, else Spanish.
  EXPECT_EQ(CatalogLanguages("fr:es_ES:en", nullptr, nullptr, "fr_FR.UTF-8"), "fr");
}

std::vector<std::uint8_t> EnglishCatalog() {
  std::ifstream file(UPDATER_ENGLISH_CATALOG, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

TEST(MoCatalogTest, FindsTheEnglishOfASpanishText) {
  const std::vector<std::uint8_t> bytes = EnglishCatalog();
  const MoCatalog catalog(bytes);
  ASSERT_TRUE(catalog.valid());
  ASSERT_NE(catalog.Find("Descarga correcta\n"), nullptr);
  EXPECT_STREQ(catalog.Find("Descarga correcta\n"), "Download complete\n");
  EXPECT_STREQ(catalog.Find("tama\xC3\xB1o incorrecto\n"), "wrong size\n");
  EXPECT_EQ(catalog.Find("Descarga correcta"), nullptr);
  EXPECT_EQ(catalog.Find("zzz"), nullptr);
}

TEST(MoCatalogTest, AForeignOrDamagedFileFindsNothing) {
  std::vector<std::uint8_t> bytes = EnglishCatalog();
  for (std::size_t cut : {std::size_t{0}, std::size_t{27}, bytes.size() / 2, bytes.size() - 1}) {
    const std::vector<std::uint8_t> head(bytes.begin(), bytes.begin() + cut);
    EXPECT_EQ(MoCatalog(head).Find("Descarga correcta\n"), nullptr) << cut;
  }
  std::vector<std::uint8_t> wild = bytes;
  wild[12] = wild[13] = wild[14] = wild[15] = 0xFF;  // the originals' table, far past the end
  EXPECT_FALSE(MoCatalog(wild).valid());
  wild = bytes;
  wild[8] = wild[9] = wild[10] = 0xFF;  // a count no file that size holds
  EXPECT_FALSE(MoCatalog(wild).valid());
  bytes[0] ^= 1;
  EXPECT_FALSE(MoCatalog(bytes).valid());
}

// Each case runs in a process of its own, so each chooses its language once.
void ChooseFrom(const char* lang) {
  setenv("ACTUALIZADOR_LOCALEDIR", UPDATER_LOCALE_FOLDER, 1);
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  setenv("LANG", lang, 1);
  UseSystemLanguage();
}

TEST(LocalizedTest, EnglishFromTheCatalogEvenWhereTheLocaleIsNotGenerated) {
  unsetenv("LANGUAGE");
  ChooseFrom("en_ZZ.UTF-8");
  EXPECT_FALSE(InSpanish());
  EXPECT_EQ(DecimalSeparator(), '.');
  EXPECT_STREQ(Localized("tama\xF1o incorrecto\n"), "wrong size\n");
  const char* untranslated = "no est\xE1 en el cat\xE1logo";
  EXPECT_EQ(Localized(untranslated), untranslated);
  EXPECT_STREQ(Localized(""), "");
}

TEST(LocalizedTest, TheCLocaleKeepsTheSpanishTextItself) {
  setenv("LANGUAGE", "en", 1);
  ChooseFrom("C.UTF-8");
  EXPECT_TRUE(InSpanish());
  EXPECT_EQ(DecimalSeparator(), ',');
  const char* spanish = "Descarga correcta\n";
  EXPECT_EQ(Localized(spanish), spanish);
}

}  // namespace
}  // namespace updater
