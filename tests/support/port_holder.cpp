#include "support/port_holder.h"

#include <sys/wait.h>
#include <unistd.h>

namespace support {

PortHolder::PortHolder(const std::function<bool()>& take) {
  int ready[2], release[2];
  if (pipe(ready) != 0)
    return;
  if (pipe(release) != 0) {
    close(ready[0]);
    close(ready[1]);
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    alarm(30);  // never outlives a test that failed before letting it go
    close(ready[0]);
    close(release[1]);  // or the read below never sees the test let go
    const char ok = take() ? 'y' : 'n';
    char byte = 0;
    _exit(write(ready[1], &ok, 1) == 1 && read(release[0], &byte, 1) >= 0 ? 0 : 1);
  }
  close(ready[1]);
  close(release[0]);
  release_ = release[1];
  char ok = 0;
  holding_ = pid_ > 0 && read(ready[0], &ok, 1) == 1 && ok == 'y';
  close(ready[0]);
}

PortHolder::~PortHolder() {
  Release();
}

bool PortHolder::Release() {
  if (release_ >= 0)
    close(release_);
  release_ = -1;
  holding_ = false;
  const bool ended = pid_ > 0 && waitpid(pid_, nullptr, 0) == pid_;
  pid_ = -1;
  return ended;
}

}  // namespace support
