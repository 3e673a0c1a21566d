#pragma once

#include <dirent.h>

namespace faults {

// Open descriptors of this process, from /proc/self/fd.
inline int OpenDescriptorCount() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr)
    return -1;
  int count = 0;
  while (readdir(dir) != nullptr)
    ++count;
  closedir(dir);
  return count - 3;  // ".", ".." and the listing's own descriptor
}

}  // namespace faults
