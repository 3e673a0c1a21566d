#include "ui/qt/text_codec.h"

#include <cstddef>
#include <cstdint>

#include "model/windows1252.h"

namespace updater {

QString QStringFromCp1252(std::string_view text) {
  QString result;
  result.resize(static_cast<qsizetype>(text.size()));
  QChar* out = result.data();
  // Every Windows-1252 character is in the Basic Multilingual Plane: one UTF-16 unit each.
  for (std::size_t i = 0; i < text.size(); ++i)
    out[i] = QChar(static_cast<char16_t>(Windows1252ToUnicode(static_cast<std::uint8_t>(text[i]))));
  return result;
}

}  // namespace updater
