// The catalogs through gettext, as every other program of the system finds its own: the compiled
// po/<language>.po under the locale folder (/usr/share/locale, or ACTUALIZADOR_LOCALEDIR for a
// build that is not installed).
#include <libintl.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "model/catalog.h"
#include "model/localized.h"

namespace updater::catalog {

namespace {
constexpr char kDomain[] = "actualizador";
}

bool Open() {
  const std::string languages = CatalogLanguages(std::getenv("LANGUAGE"), std::getenv("LC_ALL"),
                                                 std::getenv("LC_MESSAGES"), std::getenv("LANG"));
  if (languages.empty())
    return false;
  // gettext searches LANGUAGE's list in order, and honours it under any locale but C: where the
  // user's locale is not generated on this machine, C.UTF-8 still lets it through.
  setenv("LANGUAGE", languages.c_str(), 1);
  const char* messages = std::setlocale(LC_MESSAGES, "");
  if (messages == nullptr || std::strcmp(messages, "C") == 0 ||
      std::strcmp(messages, "POSIX") == 0) {
    std::setlocale(LC_MESSAGES, "C.UTF-8");
  }
  const char* folder = std::getenv("ACTUALIZADOR_LOCALEDIR");
  bindtextdomain(kDomain, folder != nullptr && *folder != '\0' ? folder : UPDATER_LOCALE_DIR);
  bind_textdomain_codeset(kDomain, "UTF-8");
  // The empty id gives the header of the catalog found: none of the languages has one otherwise.
  return *dgettext(kDomain, "") != '\0';
}

const char* Find(const char* messageId) {
  const char* text = dgettext(kDomain, messageId);
  return text == messageId ? nullptr : text;
}

}  // namespace updater::catalog
