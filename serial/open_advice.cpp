#include "serial/open_advice.h"

#include <cstdio>
#include <cstring>

#include "model/localized.h"

namespace updater {

namespace {

// Text before and after the path; the path takes what room is left.
struct Advice {
  const char* before;
  const char* after;
};

bool AdviceFor(OpenFailure failure, Advice& advice) {
  switch (failure) {
    case OpenFailure::kPermissionDenied:
      // Translators: the port's path goes between the two parts.
      advice = {Translatable("Sin permiso para abrir el puerto "),
                Translatable(": a\xF1"
                             "ada su usuario al grupo dialout y vuelva a iniciar la sesi\xF3n\n")};
      return true;
    case OpenFailure::kBusy:
      // Translators: the port's path goes between the two parts.
      advice = {Translatable("El puerto "),
                Translatable(" est\xE1 en uso por otro programa: ci\xE9rrelo y vuelva a "
                             "intentarlo\n")};
      return true;
    default:
      return false;
  }
}

bool IsUtf8Continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

std::size_t FormatOpenAdvice(const OpenError& error, char* out, std::size_t capacity,
                             bool localized) {
  if (out == nullptr || capacity == 0)
    return 0;
  out[0] = '\0';
  Advice advice{};
  if (!AdviceFor(error.failure, advice))
    return 0;
  if (localized)
    advice = {Localized(advice.before), Localized(advice.after)};

  static constexpr char kCut[] = "...";
  const std::size_t fixed = std::strlen(advice.before) + std::strlen(advice.after);
  if (fixed + sizeof kCut > capacity)
    return 0;
  const std::size_t room = capacity - 1 - fixed;
  const char* path = error.path;
  const std::size_t length = strnlen(error.path, sizeof error.path);
  const char* cut = "";
  if (length > room) {
    // Keep the end of the path, without splitting a multi-byte character.
    path += length - (room - (sizeof kCut - 1));
    while (*path != '\0' && IsUtf8Continuation(*path))
      ++path;
    cut = kCut;
  }
  const int n = std::snprintf(out, capacity, "%s%s%.*s%s", advice.before, cut,
                              static_cast<int>(strnlen(path, room)), path, advice.after);
  return n < 0 ? 0 : std::strlen(out);
}

}  // namespace updater
