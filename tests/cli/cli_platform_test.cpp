#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "app/system/system_platform.h"
#include "support/temp_dir.h"

namespace {

using updater::cli::SystemPlatform;

// The platform's own pieces: nettle's or BCrypt's SHA-256, the appended record file, the time.
TEST(CliPlatform, HashesAppendsAndDates) {
  std::atomic<bool> stop{false};
  SystemPlatform platform(stop);

  std::uint8_t digest[32];
  ASSERT_TRUE(platform.Sha256(reinterpret_cast<const std::uint8_t*>("abc"), 3, digest));
  char hex[65];
  for (int i = 0; i < 32; ++i)
    std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  EXPECT_STREQ(hex, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

  const support::TempDir dir;
  const std::string path = dir.File("records.jsonl");
  EXPECT_TRUE(platform.AppendRecord(path.c_str(), ""));  // created, left empty
  EXPECT_TRUE(platform.AppendRecord(path.c_str(), "{\"a\":1}\n"));
  EXPECT_TRUE(platform.AppendRecord(path.c_str(), "{\"b\":2}\n"));
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "{\"a\":1}\n{\"b\":2}\n");
  EXPECT_FALSE(platform.AppendRecord(dir.File("no/such/dir/r").c_str(), "x\n"));

  char now[32];
  platform.UtcNow(now, sizeof now);
  ASSERT_EQ(std::string(now).size(), 20u) << now;
  EXPECT_EQ(now[10], 'T');
  EXPECT_EQ(now[19], 'Z');
}

}  // namespace
