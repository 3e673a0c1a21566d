#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "download/image_file.h"
#include "support/temp_dir.h"

namespace {

class Win32ImageFileTest : public ::testing::Test {
 protected:
  std::string Write(const char* name, std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
      bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return support::WriteImage(dir.File(name), bytes);
  }

  support::TempDir dir;
  std::uint8_t buffer[256] = {};
};

TEST_F(Win32ImageFileTest, ReadsUpToTheCapacityAndAgainFromTheStart) {
  updater::ImageFile file;
  ASSERT_TRUE(file.Open(Write("big.QMZ", 1000).c_str()));
  std::uint32_t length = 0;
  ASSERT_TRUE(file.ReadAll(buffer, sizeof buffer, length));
  EXPECT_EQ(length, sizeof buffer);
  EXPECT_EQ(buffer[255], static_cast<std::uint8_t>(255 * 7 + 1));
  buffer[0] = 0;
  ASSERT_TRUE(file.ReadAll(buffer, 10, length));
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(buffer[0], 1);
}

TEST_F(Win32ImageFileTest, ShortAndEmptyFiles) {
  updater::ImageFile file;
  std::uint32_t length = 99;
  ASSERT_TRUE(file.Open(Write("short.QMZ", 3).c_str()));
  ASSERT_TRUE(file.ReadAll(buffer, sizeof buffer, length));
  EXPECT_EQ(length, 3u);
  ASSERT_TRUE(file.Open(Write("empty.QMZ", 0).c_str()));
  ASSERT_TRUE(file.ReadAll(buffer, sizeof buffer, length));
  EXPECT_EQ(length, 0u);
}

// None of these is a file on a disk; reading a device or a pipe could wait.
TEST_F(Win32ImageFileTest, DirectoriesDevicesAndMissingFilesAreRefused) {
  const std::string folder = dir.path();
  for (const std::string& path :
       {folder, folder + "\\missing.QMZ", std::string("NUL"), std::string("CON"), std::string()}) {
    SCOPED_TRACE(path);
    updater::ImageFile file;
    EXPECT_FALSE(file.Open(path.c_str()));
    std::uint32_t length = 5;
    EXPECT_FALSE(file.ReadAll(buffer, sizeof buffer, length));
    EXPECT_EQ(length, 0u);
  }
  updater::ImageFile file;
  EXPECT_FALSE(file.Open(nullptr));
}

TEST_F(Win32ImageFileTest, AFailedOpenClosesTheFileOpenedBefore) {
  updater::ImageFile file;
  ASSERT_TRUE(file.Open(Write("first.QMZ", 10).c_str()));
  EXPECT_FALSE(file.Open("NUL"));
  std::uint32_t length = 0;
  EXPECT_FALSE(file.ReadAll(buffer, sizeof buffer, length));
}

}  // namespace
