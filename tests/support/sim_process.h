#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace support {

// The device simulator running as a child process, serving a pseudo-terminal: the one way the
// suites and the benchmarks start it. SIM47913_PATH names the simulator this build made.
class SimProcess {
 public:
  SimProcess() = default;
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  // Stops a simulator still running (SIGTERM, so that it removes its link) and reaps it.
  ~SimProcess();

  // Starts the simulator with `args` and reads the pseudo-terminal's path it prints.
  bool Start(const std::string& program, const std::vector<std::string>& args);
  const std::string& path() const { return path_; }
  // Waits for the simulator to exit; its exit status, or -1. Given `usage`, fills it with the
  // simulator's own CPU time and peak size (wait4's rusage), for the benchmarks.
  int Wait(int timeoutMs, rusage* usage = nullptr);

 private:
  pid_t pid_ = -1;
  std::string path_;
};

}  // namespace support
