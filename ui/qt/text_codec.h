#pragma once

#include <QString>
#include <string_view>

namespace updater {

// The program's texts are Windows-1252 bytes (the core's messages, the dialog templates); this is
// the one place where they become the toolkit's strings, through the model's conversion.
QString QStringFromCp1252(std::string_view text);

}  // namespace updater
