#pragma once

#include <cstddef>
#include <cstdio>

namespace updater {

// The highest port number a "COMn" name may carry, as Windows numbers its ports.
inline constexpr int kMaxComNumber = 255;

// n of a port name "COMn" (upper case, n from 1 to kMaxComNumber, no leading zero); 0 for any
// other name, nullptr included. Every driver and port list reads the program's port names with it.
inline int ComNumber(const char* name) {
  if (name == nullptr || name[0] != 'C' || name[1] != 'O' || name[2] != 'M' || name[3] < '1' ||
      name[3] > '9')
    return 0;
  int n = 0;
  for (const char* p = name + 3; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9')
      return 0;
    n = n * 10 + (*p - '0');
    if (n > kMaxComNumber)
      return 0;
  }
  return n;
}

// The port name "COMn" of `number`, as ComNumber reads it, into `out` (zero-terminated, cut to
// `capacity`); returns what std::snprintf returns. Every name the program shows or opens by
// number is made here.
inline int FormatComName(int number, char* out, std::size_t capacity) {
  return std::snprintf(out, capacity, "COM%d", number);
}

template <std::size_t N>
inline int FormatComName(int number, char (&out)[N]) {
  return FormatComName(number, out, N);
}

}  // namespace updater
