#include "ui/cli/port_name.h"

#include <cstring>

#include "serial/com_name.h"

namespace updater::cli {

int ComNumber(const char* name, int maxNumber) {
  if (name == nullptr)
    return 0;
  // The operator may type "com3": the prefix is read in any letter case, the rest as the program
  // names its ports. Longer than "COM" and three digits is no port name.
  char upper[8] = {};
  for (std::size_t i = 0; i + 1 < sizeof upper && name[i] != '\0'; ++i) {
    const char c = name[i];
    upper[i] = i < 3 && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  if (std::strlen(name) >= sizeof upper)
    return 0;
  const int n = updater::ComNumber(upper);
  return n <= maxNumber ? n : 0;
}

}  // namespace updater::cli
