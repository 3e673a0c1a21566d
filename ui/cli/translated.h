#pragma once

#include <cstdio>
#include <string>
#include <utility>

#include "model/localized.h"

namespace updater::cli {

// A text for a person in the chosen language (model/localized.h), kept beside the same text in
// Spanish for what a program reads back (the JSON lines, the record file, the journal): those stay
// Spanish whatever the language, so that a script or a report reads the same words from every
// machine. Both Windows-1252.
struct Translated {
  std::string shown;
  std::string spanish;

  Translated() = default;
  // The same in every language: a name, a path, a figure, punctuation.
  Translated(std::string same) : shown(same), spanish(std::move(same)) {}  // NOLINT
  Translated(const char* same) : Translated(std::string(same)) {}          // NOLINT

  bool empty() const { return spanish.empty(); }
  Translated& operator+=(const Translated& more) {
    shown += more.shown;
    spanish += more.spanish;
    return *this;
  }
  friend Translated operator+(Translated a, const Translated& b) { return a += b; }
};

// A Spanish text marked for the catalog (Translatable) in the chosen language, or as it is.
inline const char* InLanguage(const char* spanish, bool localized) {
  return localized ? Localized(spanish) : spanish;
}

// `format` with its arguments, as printf would write it.
template <typename... Args>
std::string FormatText(const char* format, Args... args) {
  const int n = std::snprintf(nullptr, 0, format, args...);
  if (n <= 0)
    return std::string();
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, args...);
  text.pop_back();
  return text;
}

// `spanishFormat`, a text marked Translatable, formatted in both languages with the same
// arguments (each the same in both).
template <typename... Args>
Translated Translate(const char* spanishFormat, Args... args) {
  Translated out;
  out.spanish = FormatText(spanishFormat, args...);
  const char* localized = Localized(spanishFormat);
  out.shown = localized == spanishFormat ? out.spanish : FormatText(localized, args...);
  return out;
}

// `spanishFormat` formatted in the chosen language alone, for a text only a person reads.
template <typename... Args>
std::string Say(const char* spanishFormat, Args... args) {
  return FormatText(Localized(spanishFormat), args...);
}

// A text without arguments in both languages.
inline Translated Translate(const char* spanish) {
  Translated out;
  out.spanish = spanish;
  out.shown = Localized(spanish);
  return out;
}

}  // namespace updater::cli
