#pragma once

#include <dirent.h>
#include <time.h>

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

// The count once it has come down to `expected`, or after about a second what it is then. A device
// thread of the test's own briefly holds a descriptor of the line as it sees the host's close; a
// descriptor the run leaked stays and is counted.
inline int SettledDescriptorCount(int expected) {
  for (int tries = 0; tries < 500; ++tries) {
    const int count = OpenDescriptorCount();
    if (count <= expected)
      return count;
    timespec pause{0, 2 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  return OpenDescriptorCount();
}

}  // namespace faults
