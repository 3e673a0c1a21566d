#include "ui/cli/port_name.h"

namespace updater::cli {

int ComNumber(const char* name, int maxNumber) {
  const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
  if (name == nullptr || upper(name[0]) != 'C' || upper(name[1]) != 'O' || upper(name[2]) != 'M')
    return 0;
  if (name[3] < '1' || name[3] > '9')
    return 0;
  int n = 0;
  for (const char* p = name + 3; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9')
      return 0;
    n = n * 10 + (*p - '0');
    if (n > maxNumber)
      return 0;
  }
  return n;
}

}  // namespace updater::cli
