#include "support/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace support {

SimProcess::~SimProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

bool SimProcess::Start(const std::string& program, const std::vector<std::string>& args) {
  // Everything the child needs is made before the fork: a test process may have threads, and
  // the child may then only call what is safe after a fork.
  std::vector<std::string> copies = args;
  std::vector<char*> argv;
  std::string file = program;
  argv.push_back(file.data());
  for (std::string& a : copies)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0)
    return false;
  pid_ = fork();
  if (pid_ < 0) {
    close(out[0]);
    close(out[1]);
    return false;
  }
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);  // the duplicate survives the exec, the pipe's ends do not
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  // Only the first line is read; the pipe is closed then, so that a simulator leaves no
  // descriptor behind in the test (the fault tests count them).
  char c;
  pollfd p{out[0], POLLIN, 0};
  while (poll(&p, 1, 10000) == 1 && read(out[0], &c, 1) == 1 && c != '\n')
    path_ += c;
  close(out[0]);
  return !path_.empty();
}

int SimProcess::Wait(int timeoutMs, rusage* usage) {
  if (pid_ <= 0)
    return -1;
  for (int waited = 0; waited <= timeoutMs; waited += 10) {
    int status = 0;
    if (wait4(pid_, &status, WNOHANG, usage) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    timespec pause{0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  return -1;
}

}  // namespace support
