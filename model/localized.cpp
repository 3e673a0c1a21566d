#include "model/localized.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "model/catalog.h"
#include "model/windows1252.h"

namespace updater {

namespace {

std::atomic<bool> translating{false};

bool IsCLocale(std::string_view locale) {
  return locale.empty() || locale == "C" || locale == "POSIX" || locale.starts_with("C.");
}

bool IsSpanish(std::string_view language) {
  return language == "es" || language.starts_with("es_") || language.starts_with("es.") ||
         language.starts_with("es@");
}

std::string_view FirstSet(std::initializer_list<const char*> variables) {
  for (const char* value : variables) {
    if (value != nullptr && *value != '\0')
      return value;
  }
  return {};
}

// Each translation converted once to Windows-1252 and kept: the texts a run shows are a few
// dozen, and the pointers handed out must outlive every caller.
class Translations {
 public:
  const char* Of(const char* spanish) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = known_.find(spanish);
    if (found != known_.end())
      return found->second.empty() ? spanish : found->second.c_str();
    std::string messageId(std::strlen(spanish) * 3 + 1, '\0');
    messageId.resize(Windows1252ToUtf8(spanish, messageId.data(), messageId.size()));
    std::string text;
    if (const char* translated = catalog::Find(messageId.c_str())) {
      text.assign(std::strlen(translated) + 1, '\0');
      text.resize(Utf8ToWindows1252(translated, text.data(), text.size()));
    }
    auto& kept = known_.emplace(spanish, std::move(text)).first->second;
    return kept.empty() ? spanish : kept.c_str();
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, std::string> known_;
};

Translations& translations() {
  static Translations instance;
  return instance;
}

}  // namespace

std::string CatalogLanguages(const char* language, const char* lcAll, const char* lcMessages,
                             const char* lang) {
  const std::string_view locale = FirstSet({lcAll, lcMessages, lang});
  // gettext itself reads LANGUAGE only under a locale other than C.
  if (IsCLocale(locale))
    return {};
  std::string_view wanted = FirstSet({language});
  if (wanted.empty())
    wanted = locale;
  std::string languages;
  while (!wanted.empty()) {
    const std::size_t colon = wanted.find(':');
    const std::string_view entry = wanted.substr(0, colon);
    if (IsSpanish(entry)) {
      if (!languages.empty())
        languages.pop_back();
      return languages;
    }
    if (!entry.empty() && !IsCLocale(entry))
      languages.append(entry).push_back(':');
    wanted = colon == std::string_view::npos ? std::string_view{} : wanted.substr(colon + 1);
  }
  return languages + "en";
}

void UseSystemLanguage() {
  try {
    translating = catalog::Open();
  } catch (...) {
    translating = false;
  }
}

const char* Localized(const char* spanish) {
  // The empty id finds the catalog's header, not a translation.
  if (!translating || spanish == nullptr || *spanish == '\0')
    return spanish;
  try {
    return translations().Of(spanish);
  } catch (...) {
    return spanish;
  }
}

bool InSpanish() {
  return !translating;
}

char DecimalSeparator() {
  return InSpanish() ? ',' : '.';
}

}  // namespace updater
