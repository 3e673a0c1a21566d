#pragma once

#include <sys/types.h>

#include <functional>

namespace support {

// Another program holding a port: a child process that takes it with `take` (true when it has
// it) and keeps it until Release() or the end of the object.
class PortHolder {
 public:
  explicit PortHolder(const std::function<bool()>& take);
  ~PortHolder();
  PortHolder(const PortHolder&) = delete;
  PortHolder& operator=(const PortHolder&) = delete;

  bool holding() const { return holding_; }
  // Lets go and waits for the child; false when there was no child to wait for.
  bool Release();

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool holding_ = false;
};

}  // namespace support
