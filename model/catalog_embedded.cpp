// The catalogs compiled into the program (Windows has no gettext): the language is the user's
// interface language, as Windows shows its own.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "model/catalog.h"
#include "model/embedded_catalogs.h"
#include "model/localized.h"
#include "model/mo_catalog.h"

namespace updater::catalog {

namespace {

const MoCatalog* chosen = nullptr;

// "en-US" for the user's interface language, "en_US" as gettext names it.
std::string InterfaceLanguage() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  const LANGID language = GetUserDefaultUILanguage();
  if (LCIDToLocaleName(MAKELCID(language, SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0) == 0) {
    return {};
  }
  std::string text;
  for (const wchar_t* c = name; *c != L'\0' && *c < 0x80; ++c) {
    text.push_back(*c == L'-' ? '_' : static_cast<char>(*c));
  }
  return text;
}

const MoCatalog* CatalogOf(std::string_view language) {
  static const auto catalogs = [] {
    std::vector<std::pair<std::string_view, MoCatalog>> all;
    for (const EmbeddedCatalog& embedded : EmbeddedCatalogs()) {
      all.emplace_back(embedded.language, MoCatalog(embedded.bytes));
    }
    return all;
  }();
  for (const auto& [name, catalog] : catalogs) {
    if (name == language && catalog.valid())
      return &catalog;
  }
  return nullptr;
}

}  // namespace

bool Open() {
  const std::string userLanguage = InterfaceLanguage();
  const std::string list = CatalogLanguages(nullptr, nullptr, nullptr, userLanguage.c_str());
  std::string_view languages = list;
  // As gettext does: "en_US", then "en".
  while (!languages.empty() && chosen == nullptr) {
    const std::string_view entry = languages.substr(0, languages.find(':'));
    chosen = CatalogOf(entry);
    if (chosen == nullptr)
      chosen = CatalogOf(entry.substr(0, entry.find('_')));
    languages.remove_prefix(std::min(languages.size(), entry.size() + 1));
  }
  return chosen != nullptr;
}

const char* Find(const char* messageId) {
  return chosen == nullptr ? nullptr : chosen->Find(messageId);
}

}  // namespace updater::catalog
