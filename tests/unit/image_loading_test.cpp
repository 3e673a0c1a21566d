#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fakes/core_fixture.h"
#include "model/resource.h"
#include "support/temp_dir.h"

namespace {

using fakes::CoreFixture;

// Answers the file dialog as the test says.
class AnsweringChooser final : public updater::FileChooser {
 public:
  explicit AnsweringChooser(std::string path, bool ok = true) : path_(std::move(path)), ok_(ok) {}
  bool Choose(char* path, std::size_t capacity) override {
    ++asked;
    std::snprintf(path, capacity, "%s", path_.c_str());
    return ok_;
  }
  int asked = 0;

 private:
  std::string path_;
  bool ok_;
};

class ImageLoadingTest : public CoreFixture {
 protected:
  ~ImageLoadingTest() override {
    EXPECT_FALSE(dir.empty());
    const std::error_code error = temp.Remove();
    EXPECT_FALSE(error) << error.message();
  }
  std::string WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    return support::WriteImage(temp.File(name), bytes);
  }
  void Load(const std::string& path) {
    AnsweringChooser chooser(path);
    core.OnOpenFile(chooser);
  }
  // A state with a 300-byte image loaded, to see what a failed load keeps.
  void LoadFirstImage() {
    Load(WriteFile("first.QMZ", Pattern(300)));
    ASSERT_EQ(core.m_download.m_nFileLength, 300u);
  }
  void ExpectFirstImageKept() {
    EXPECT_EQ(core.m_download.m_nFileLength, 300u);
    EXPECT_EQ(displays.Text(IDC_SIZE), "300");
    EXPECT_EQ(displays.progress.upper(), 300);
    EXPECT_TRUE(displays.Enabled(IDC_PROGRAM));
    const auto first = Pattern(300);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), core.m_download.m_image));
  }

  support::TempDir temp;
  const std::string dir = temp.path();
};

TEST_F(ImageLoadingTest, ThreeHundredByteFile) {
  displays.Enable(IDC_PROGRAM, false);
  Load(WriteFile("fw.QMZ", Pattern(300)));
  EXPECT_EQ(displays.Text(IDC_SIZE), "300");
  EXPECT_EQ(displays.Text(IDC_SENT), "0");
  EXPECT_EQ(displays.progress.upper(), 300);
  EXPECT_EQ(displays.progress.step(), 1);
  EXPECT_EQ(displays.progress.position(), 0);
  EXPECT_TRUE(displays.Enabled(IDC_PROGRAM));
  EXPECT_EQ(core.m_report.m_nSize, 300);
  for (std::size_t i = 300; i < updater::Downloader::kImageSize; ++i) {
    ASSERT_EQ(core.m_download.m_image[i], 0) << i;
  }
  EXPECT_EQ(displays.Text(IDC_INFO), "Hay datos");
  EXPECT_TRUE(LogEntries().empty());
}

TEST_F(ImageLoadingTest, CancelShowsHayDatosAndChangesNothingElse) {
  LoadFirstImage();
  AnsweringChooser chooser(dir + "/other.QMZ", false);
  displays.SetText(IDC_INFO, "Descarga correcta\n");
  core.OnOpenFile(chooser);
  EXPECT_EQ(chooser.asked, 1);
  EXPECT_EQ(displays.Text(IDC_INFO), "Hay datos");
  ExpectFirstImageKept();
}

TEST_F(ImageLoadingTest, SizesAroundTheBufferAndTheProgressRange) {
  struct Case {
    std::size_t fileSize;
    std::uint32_t loaded;
    int progressUpper;
  };
  for (const Case c : {Case{1, 1, 1}, Case{31743, 31743, 31743}, Case{31744, 31744, 31744},
                       Case{65535, 65535, 65535}, Case{65536, 65536, 0}, Case{65537, 65536, 0}}) {
    SCOPED_TRACE(c.fileSize);
    std::vector<std::uint8_t> bytes(c.fileSize, 0x5A);
    Load(WriteFile("sized.QMZ", bytes));
    EXPECT_EQ(core.m_download.m_nFileLength, c.loaded);
    EXPECT_EQ(displays.Text(IDC_SIZE), std::to_string(c.loaded));
    EXPECT_EQ(displays.progress.upper(), c.progressUpper);
    // The image view never reads past the buffer, even when no zero byte ends it.
    EXPECT_EQ(displays.Text(IDC_FILE_VIEW).size(), c.loaded);
  }
}

TEST_F(ImageLoadingTest, ShorterSecondFileLeavesNothingOfTheFirst) {
  Load(WriteFile("long.QMZ", std::vector<std::uint8_t>(1000, 0xEE)));
  Load(WriteFile("short.QMZ", std::vector<std::uint8_t>(10, 0x11)));
  EXPECT_EQ(core.m_download.m_nFileLength, 10u);
  for (std::size_t i = 10; i < updater::Downloader::kImageSize; ++i) {
    ASSERT_EQ(core.m_download.m_image[i], 0) << i;
  }
}

TEST_F(ImageLoadingTest, ImageViewStopsAtTheFirstZeroByte) {
  Load(WriteFile("bin.QMZ", {'A', 'B', 0, 'C'}));
  EXPECT_EQ(displays.Text(IDC_FILE_VIEW), "AB");
  EXPECT_EQ(core.m_download.m_nFileLength, 4u);
}

TEST_F(ImageLoadingTest, EmptyFileLeavesTheButtonAsAnEarlierLoadSetIt) {
  LoadFirstImage();
  Load(WriteFile("empty.QMZ", {}));
  EXPECT_EQ(core.m_download.m_nFileLength, 0u);
  EXPECT_EQ(displays.Text(IDC_SIZE), "0");
  EXPECT_TRUE(displays.Enabled(IDC_PROGRAM));

  displays.Enable(IDC_PROGRAM, false);
  Load(WriteFile("empty2.QMZ", {}));
  EXPECT_FALSE(displays.Enabled(IDC_PROGRAM));
}

TEST_F(ImageLoadingTest, UnopenablePathsAreReportedAndChangeNothing) {
  LoadFirstImage();
  std::vector<std::string> paths = {dir + "/missing.QMZ", dir, std::string()};
#ifndef _WIN32
  // Windows has no FIFO in its file system; its reader refuses pipes and devices (tests/windows).
  const std::string fifo = dir + "/fifo.QMZ";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  paths.push_back(fifo);
#endif
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    Load(path);
    EXPECT_EQ(displays.Text(IDC_INFO), "No se puede abrir el archivo\n");
    EXPECT_EQ(LogEntries().back(), "No se puede abrir el archivo\n");
    ExpectFirstImageKept();
  }
}

#ifndef _WIN32
// POSIX only: on Windows chmod cannot take the read right away (that needs an access list), and
// there is no endless device file to read (devices are refused there).
TEST_F(ImageLoadingTest, FileWithoutReadPermission) {
  if (geteuid() == 0)
    GTEST_SKIP() << "root reads every file";
  LoadFirstImage();
  const std::string path = WriteFile("locked.QMZ", Pattern(50));
  ASSERT_EQ(chmod(path.c_str(), 0), 0);
  Load(path);
  EXPECT_EQ(LogEntries().back(), "No se puede abrir el archivo\n");
  ExpectFirstImageKept();
}

TEST_F(ImageLoadingTest, DeviceThatNeverEndsFillsTheBufferOnly) {
  Load("/dev/zero");
  EXPECT_EQ(core.m_download.m_nFileLength, 65536u);
  EXPECT_EQ(displays.Text(IDC_FILE_VIEW), "");
}
#endif

}  // namespace
