#include "support/sim_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

namespace support {

SimProcess::~SimProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

bool SimProcess::Start(const std::string& program, const std::vector<std::string>& args) {
  int out[2];
  if (pipe(out) != 0)
    return false;
  pid_ = fork();
  if (pid_ < 0)
    return false;
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  char c;
  pollfd p{out[0], POLLIN, 0};
  while (poll(&p, 1, 10000) == 1 && read(out[0], &c, 1) == 1 && c != '\n')
    path_ += c;
  close(out[0]);
  return !path_.empty();
}

int SimProcess::Wait(int timeoutMs) {
  if (pid_ <= 0)
    return -1;
  for (int waited = 0; waited <= timeoutMs; waited += 10) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    timespec pause{0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  return -1;
}

}  // namespace support
