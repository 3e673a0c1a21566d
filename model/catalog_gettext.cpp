// The catalogs through gettext, as every other program of the system finds its own: the compiled
// po/<language>.po under the locale folder beside the program's own (/usr/bin/actualizador-cli:
// /usr/share/locale), or ACTUALIZADOR_LOCALEDIR for a build that is not installed.
#include <libintl.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "model/catalog.h"
#include "model/localized.h"

namespace updater::catalog {

namespace {

constexpr char kDomain[] = "actualizador";

// Found from where the program lies rather than the prefix it was configured with, which a
// package's build need not share with the package.
std::string LocaleFolder() {
  const char* folder = std::getenv("ACTUALIZADOR_LOCALEDIR");
  if (folder != nullptr && *folder != '\0')
    return folder;
  char program[4096];
  const ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
  if (length <= 0)
    return {};
  const std::string path(program, static_cast<std::size_t>(length));
  return path.substr(0, path.rfind('/') + 1) + UPDATER_LOCALE_DIR_FROM_PROGRAMS;
}

}  // namespace

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
  const std::string folder = LocaleFolder();
  if (folder.empty())
    return false;
  bindtextdomain(kDomain, folder.c_str());
  bind_textdomain_codeset(kDomain, "UTF-8");
  // The empty id gives the header of the catalog found: none of the languages has one otherwise.
  return *dgettext(kDomain, "") != '\0';
}

const char* Find(const char* messageId) {
  const char* text = dgettext(kDomain, messageId);
  return text == messageId ? nullptr : text;
}

}  // namespace updater::catalog
