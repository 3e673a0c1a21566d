#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/system/system_platform.h"
#include "support/temp_dir.h"

namespace {

// What each fsync of the test synced: the path, and the size a file had then (-1 for a folder).
using Synced = std::vector<std::pair<std::string, long long>>;
Synced* g_synced = nullptr;

}  // namespace

// In front of the C library's: the record file's code calls this one, which notes what it syncs
// and then syncs it.
extern "C" int fsync(int fd) {
  if (g_synced != nullptr) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    const ssize_t n = readlink(link, target, sizeof target - 1);
    struct stat info {};
    const bool known = n > 0 && fstat(fd, &info) == 0;
    g_synced->emplace_back(known ? std::string(target, static_cast<std::size_t>(n)) : "?",
                           known && !S_ISDIR(info.st_mode) ? info.st_size : -1);
  }
  return static_cast<int>(syscall(SYS_fsync, fd));
}

namespace {

using updater::cli::SystemPlatform;

Synced Sorted(Synced s) {
  std::sort(s.begin(), s.end());
  return s;
}

// A record shown is a record kept through a power cut: the line synced once it is written whole,
// and a new file's name synced in its folder; an existing file's folder is left alone.
TEST(RecordSync, NewFileSyncsItsFolderAndEachLineIsSyncedWhole) {
  std::atomic<bool> stop{false};
  SystemPlatform platform(stop);
  const support::TempDir dir;
  const std::string folder = std::filesystem::canonical(dir.path()).string();
  const std::string records = folder + "/records.jsonl";
  const std::string line = "{\"event\":\"result\",\"ok\":true}\n";
  const auto size = static_cast<long long>(line.size());

  Synced synced;
  g_synced = &synced;
  // As the program starts: the file created empty, its name made durable.
  EXPECT_TRUE(platform.AppendRecord(records.c_str(), ""));
  EXPECT_EQ(synced, (Synced{{folder, -1}}));
  synced.clear();
  // A run's record in the file that now exists: the line alone, after it is written.
  EXPECT_TRUE(platform.AppendRecord(records.c_str(), line));
  EXPECT_EQ(synced, (Synced{{records, size}}));
  synced.clear();
  // A file created by the record itself: its folder and its line.
  const std::string fresh = folder + "/fresh.jsonl";
  EXPECT_TRUE(platform.AppendRecord(fresh.c_str(), line));
  EXPECT_EQ(Sorted(synced), Sorted(Synced{{folder, -1}, {fresh, size}}));
  g_synced = nullptr;
}

}  // namespace
