// Image files that are not what the loader hopes for, one after another: after each, the image,
// its length, the displays and the "Programar" button agree with one another.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "fakes/core_fixture.h"
#include "faults/descriptors.h"
#include "model/resource.h"
#include "support/temp_dir.h"

namespace faults {
namespace {

class BadImageTest : public fakes::CoreFixture {
 protected:
  std::string Write(const std::string& name, std::size_t size, std::uint8_t fill = 0x5A) {
    return support::WriteImage(temp.File(name), std::vector<std::uint8_t>(size, fill));
  }

  // The loaded state agrees with itself: the length, the size field, the bound counts, the
  // progress range, the zero bytes past the image and the image view.
  void ExpectConsistent() {
    const auto& d = core.m_download;
    ASSERT_LE(d.m_nFileLength, updater::Downloader::kImageSize);
    EXPECT_EQ(displays.Text(IDC_SIZE), std::to_string(d.m_nFileLength));
    EXPECT_EQ(core.m_report.m_nSize, static_cast<std::int32_t>(d.m_nFileLength));
    EXPECT_EQ(displays.Text(IDC_SENT), "0");
    EXPECT_EQ(displays.progress.upper(), static_cast<int>(d.m_nFileLength & 0xFFFF));
    EXPECT_EQ(displays.progress.position(), 0);
    for (std::size_t i = d.m_nFileLength; i < updater::Downloader::kImageSize; ++i)
      ASSERT_EQ(d.m_image[i], 0) << "byte " << i << " past the image";
    const char* text = reinterpret_cast<const char*>(d.m_image);
    EXPECT_EQ(displays.Text(IDC_FILE_VIEW).size(), strnlen(text, sizeof d.m_image));
  }

  support::TempDir temp;
  const std::string dir = temp.path();
};

// Each load after the one before: a good file, then every kind of bad one. Unopenable paths keep
// everything as it was; a device that cannot be read now empties the image and disables
// "Programar"; a readable file of any size loads its first 65,536 bytes.
TEST_F(BadImageTest, EverySortOfFileInTurnLeavesAConsistentState) {
  const std::string fifo = dir + "/fifo.QMZ";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string fed = dir + "/fed.QMZ";
  ASSERT_EQ(mkfifo(fed.c_str(), 0600), 0);
  // A FIFO with a writer and bytes in it is refused as well: a pipe is no image file.
  const int writer = open(fed.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(write(writer, "abc", 3), 3);

  enum Outcome { kLoaded, kUnopenable, kUnreadable };
  struct Case {
    std::string path;
    Outcome outcome;
    std::uint32_t length;
  };
  const std::vector<Case> cases = {
      {Write("good.QMZ", 300), kLoaded, 300},
      {dir + "/missing.QMZ", kUnopenable, 0},
      {dir, kUnopenable, 0},
      {fifo, kUnopenable, 0},
      {fed, kUnopenable, 0},
      {Write("empty.QMZ", 0), kLoaded, 0},
      {Write("one.QMZ", 1), kLoaded, 1},
      {"/dev/ptmx", kUnreadable, 0},  // a terminal with nothing to read: not waited on
      {Write("max.QMZ", 31743), kLoaded, 31743},
      {Write("limit.QMZ", 31744), kLoaded, 31744},
      {"/dev/null", kLoaded, 0},
      {Write("below.QMZ", 65535), kLoaded, 65535},
      {Write("full.QMZ", 65536), kLoaded, 65536},
      {"/dev/zero", kLoaded, 65536},
      {Write("over.QMZ", 65537), kLoaded, 65536},
      {Write("short.QMZ", 3, 0x11), kLoaded, 3},
  };
  bool enabled = false;
  displays.Enable(IDC_PROGRAM, false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::uint32_t lengthBefore = core.m_download.m_nFileLength;
    const std::string sizeBefore = displays.Text(IDC_SIZE);
    const std::size_t logBefore = LogEntries().size();
    core.LoadImage(c.path.c_str());
    switch (c.outcome) {
      case kLoaded:
        EXPECT_EQ(core.m_download.m_nFileLength, c.length);
        enabled = enabled || c.length > 0;
        EXPECT_EQ(LogEntries().size(), logBefore);
        break;
      case kUnopenable:
        EXPECT_EQ(core.m_download.m_nFileLength, lengthBefore);
        EXPECT_EQ(displays.Text(IDC_SIZE), sizeBefore);
        EXPECT_EQ(LogEntries().back(), "No se puede abrir el archivo\n");
        break;
      case kUnreadable:
        EXPECT_EQ(core.m_download.m_nFileLength, 0u);
        enabled = false;
        EXPECT_EQ(LogEntries().back(), "No se puede abrir el archivo\n");
        break;
    }
    EXPECT_EQ(displays.Enabled(IDC_PROGRAM), enabled);
    ExpectConsistent();
  }
  close(writer);
}

// The loaded image is what is sent: a load that failed part-way leaves nothing to program.
TEST_F(BadImageTest, UnreadableDeviceAfterAGoodImageLeavesNothingToProgram) {
  core.LoadImage(Write("good.QMZ", 300).c_str());
  core.LoadImage("/dev/ptmx");
  AttachDevice(0);
  core.OnProgram();
  const auto log = LogEntries();
  // An empty image is announced as zero bytes and completes with an empty block.
  EXPECT_EQ(driver.port(0).host_byte_count(), 1u + 2u + 1u);
  EXPECT_EQ(log.back(), "Descarga correcta\n");
}

// Without the read right the file is refused like a missing one. Root reads every file, so as
// root the load runs in a child that has given up its privileges.
TEST_F(BadImageTest, FileWithoutReadPermissionIsRefusedAlsoForAnUnprivilegedRoot) {
  core.LoadImage(Write("good.QMZ", 300).c_str());
  const std::string locked = Write("locked.QMZ", 50);
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  auto loadAndCheck = [&]() {
    core.LoadImage(locked.c_str());
    return LogEntries().back() == "No se puede abrir el archivo\n" &&
           core.m_download.m_nFileLength == 300u && displays.Text(IDC_SIZE) == "300" &&
           displays.Enabled(IDC_PROGRAM);
  };
  if (geteuid() != 0) {
    EXPECT_TRUE(loadAndCheck());
    return;
  }
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // "nobody"; the group first, since without root it can no longer be changed.
    if (setgid(65534) != 0 || setuid(65534) != 0)
      _exit(2);
    _exit(loadAndCheck() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the locked file was read; 2: could not drop root";
}

// Loading good and bad files many times uses up no descriptor.
TEST_F(BadImageTest, HundredLoadsKeepNoFileOpen) {
  const std::vector<std::string> paths = {
      Write("a.QMZ", 1000), dir + "/missing.QMZ", dir, "/dev/ptmx", "/dev/zero", Write("b.QMZ", 0)};
  const int descriptors = OpenDescriptorCount();
  for (int i = 0; i < 100; ++i)
    core.LoadImage(paths[static_cast<std::size_t>(i) % paths.size()].c_str());
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

}  // namespace
}  // namespace faults
