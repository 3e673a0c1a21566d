#pragma once

#include <string>

namespace updater {

// The program's texts are written in Spanish (Windows-1252) and are the message ids of its gettext
// catalogs, po/<language>.po; every other language's text comes from its catalog, found by the
// Spanish text.

// Marks a text kept in a table for the catalog (xgettext's keyword); it is localized where shown.
__attribute__((format_arg(1))) constexpr const char* Translatable(const char* spanish) {
  return spanish;
}

// Chooses the language from the system's setting and opens its catalog. Called once, at the start
// of main, after anything that sets the process's locale itself (QApplication does).
void UseSystemLanguage();

// `spanish` in the chosen language, Windows-1252 like it: the text itself in Spanish and where the
// catalog lacks it. The pointer stays valid for the program's life; a format keeps its arguments.
__attribute__((format_arg(1))) const char* Localized(const char* spanish);

// Whether the chosen language is Spanish; a number in a text then takes a decimal comma.
bool InSpanish();
char DecimalSeparator();

// The catalogs to search, in gettext's LANGUAGE form ("fr:en"), from the variables gettext reads
// (each may be null or empty): empty for Spanish (an es* language first, or the C or POSIX locale,
// or none), else the user's languages up to the first Spanish one, with English last where no
// Spanish one follows.
std::string CatalogLanguages(const char* language, const char* lcAll, const char* lcMessages,
                             const char* lang);

}  // namespace updater
