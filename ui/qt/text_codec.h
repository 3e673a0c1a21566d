#pragma once

#include <QString>
#include <string_view>

namespace updater {

// The program's texts are Windows-1252 bytes (the core's messages, the dialog templates); this is
// the one place where they become the toolkit's strings.
QString QStringFromCp1252(std::string_view text);

// The Unicode code point of one Windows-1252 byte. The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same value, as Windows does.
char16_t Cp1252ToUnicode(unsigned char byte);

}  // namespace updater
