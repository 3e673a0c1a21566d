#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "serial/posix_port_driver.h"
#include "support/port_holder.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

namespace updater {
namespace {

constexpr int kSkip = 77;

// Runs `body` in a child process and returns its exit status (-1 if it did not exit).
template <typename Body>
int InChild(Body body) {
  const pid_t pid = fork();
  if (pid == 0)
    _exit(body());
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
    return -1;
  return WEXITSTATUS(status);
}

TEST(OpenFailureTest, AbsentAndNotASerialPortAreToldApart) {
  const support::TempDir temp;
  const std::string dir = temp.path(), file = temp.File("file"), dangling = temp.File("dangling");
  close(open(file.c_str(), O_CREAT | O_WRONLY, 0600));
  ASSERT_EQ(symlink((dir + "/gone").c_str(), dangling.c_str()), 0);

  PosixPortDriver driver({"/nonexistent/tty", dangling.c_str(), file.c_str(), dir.c_str()});
  const struct {
    const char* name;
    OpenFailure failure;
    std::string path;
  } cases[] = {{"COM1", OpenFailure::kAbsent, "/nonexistent/tty"},
               {"COM2", OpenFailure::kAbsent, dangling},
               {"COM3", OpenFailure::kNotSerialPort, file},
               {"COM4", OpenFailure::kNotSerialPort, dir},
               {"COM5", OpenFailure::kAbsent, ""}};
  for (const auto& c : cases) {
    OpenError error;
    error.failure = OpenFailure::kOther;
    EXPECT_EQ(driver.Open(c.name, error), kInvalidPort) << c.name;
    EXPECT_EQ(error.failure, c.failure) << c.name;
    EXPECT_EQ(std::string(error.path), c.path) << c.name;
  }
}

// Another program holding the port, as serial tools do, with a lock on its own descriptor.
TEST(OpenFailureTest, APortAnotherProcessHoldsIsBusyUntilItLetsGo) {
  test::PtyPair pty;
  ASSERT_TRUE(pty.ok());
  support::PortHolder holder([&pty] {
    const int fd = open(pty.slavePath(), O_RDWR | O_NOCTTY);
    return fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
  });
  ASSERT_TRUE(holder.holding());

  PosixPortDriver driver({pty.slavePath(), nullptr, nullptr, nullptr});
  OpenError error;
  EXPECT_EQ(driver.Open("COM1", error), kInvalidPort);
  EXPECT_EQ(error.failure, OpenFailure::kBusy);
  EXPECT_STREQ(error.path, pty.slavePath());

  holder.Release();
  const PortHandle port = driver.Open("COM1", error);
  EXPECT_NE(port, kInvalidPort);
  EXPECT_EQ(error.failure, OpenFailure::kNone);
  driver.Close(port);
}

// A terminal that only root and its group may open, opened by a user in neither (as a port is
// for a user outside the dialout group).
TEST(OpenFailureTest, APortThisUserMayNotOpenIsPermissionDenied) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to open as another user";
  test::PtyPair pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_EQ(chown(pty.slavePath(), 0, 0), 0);
  ASSERT_EQ(chmod(pty.slavePath(), 0660), 0);

  const int status = InChild([&pty] {
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
      return kSkip;
    PosixPortDriver driver({pty.slavePath(), nullptr, nullptr, nullptr});
    OpenError error;
    if (driver.Open("COM1", error) != kInvalidPort)
      return 1;
    if (std::string(error.path) != pty.slavePath() || error.systemError != EACCES)
      return 2;
    return error.failure == OpenFailure::kPermissionDenied ? 0 : 3;
  });
  if (status == kSkip)
    GTEST_SKIP() << "cannot become user 65534";
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace updater
