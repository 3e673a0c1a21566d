#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/system/signed_image_gate.h"
#include "app/system/system_platform.h"
#include "support/temp_dir.h"

namespace {

using updater::cli::SystemPlatform;

// The platform's own pieces: libsodium's or BCrypt's SHA-256, the appended record file, the time.
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

// minisign's own signatures, both kinds, and each way one can be wrong.
TEST(CliPlatform, ChecksMinisignSignatures) {
  if (std::system("minisign -v >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "minisign is not installed";
  std::atomic<bool> stop{false};
  SystemPlatform platform(stop);
  const support::TempDir dir;
  const std::string image = dir.File("FW.QMZ");
  std::ofstream(image, std::ios::binary) << "firmware 47.913";
  const std::string d = dir.path() + "/";
  const std::string run =
      "cd " + d +
      " && minisign -G -W -p k.pub -s k.key && minisign -G -W -p o.pub -s o.key &&"
      " minisign -S -W -s k.key -m FW.QMZ -t 'FW 1.2' && minisign -S -W -l -s k.key -m FW.QMZ"
      " -x legacy.minisig -t legacy && minisign -S -W -s o.key -m FW.QMZ -x other.minisig &&"
      " sed 's/FW 1.2/FW 9.9/' FW.QMZ.minisig >comment.minisig && head -c 60 FW.QMZ.minisig"
      " >cut.minisig && echo garbage >bad.pub";
  ASSERT_EQ(std::system((run + " >/dev/null 2>&1").c_str()), 0);
  const auto check = [&](const char* content, const char* key, const char* signature) {
    return platform.CheckSignature(reinterpret_cast<const std::uint8_t*>(content),
                                   std::strlen(content), (d + key).c_str(),
                                   (d + signature).c_str());
  };
  using updater::cli::SignatureVerdict;
  const auto good = check("firmware 47.913", "k.pub", "FW.QMZ.minisig");
  EXPECT_EQ(good.verdict, SignatureVerdict::kGood);
  EXPECT_STREQ(good.trustedComment, "FW 1.2");
  EXPECT_EQ(std::string(good.keyId).size(), 16u);
  EXPECT_EQ(check("firmware 47.913", "k.pub", "legacy.minisig").verdict, SignatureVerdict::kGood);
  EXPECT_EQ(check("firmware 47.914", "k.pub", "FW.QMZ.minisig").verdict,
            SignatureVerdict::kBadSignature);
  EXPECT_EQ(check("firmware 47.914", "k.pub", "legacy.minisig").verdict,
            SignatureVerdict::kBadSignature);
  EXPECT_EQ(check("firmware 47.913", "k.pub", "other.minisig").verdict,
            SignatureVerdict::kOtherKey);
  EXPECT_EQ(check("firmware 47.913", "k.pub", "comment.minisig").verdict,
            SignatureVerdict::kBadComment);
  EXPECT_EQ(check("firmware 47.913", "k.pub", "cut.minisig").verdict,
            SignatureVerdict::kMalformedSignature);
  EXPECT_EQ(check("firmware 47.913", "k.pub", "none.minisig").verdict,
            SignatureVerdict::kNoSignature);
  EXPECT_EQ(check("firmware 47.913", "bad.pub", "FW.QMZ.minisig").verdict,
            SignatureVerdict::kMalformedKey);
  EXPECT_EQ(check("firmware 47.913", "none.pub", "FW.QMZ.minisig").verdict,
            SignatureVerdict::kNoKey);

  // The window's gate: every image while no key is installed, then only a signed one.
  const std::string keys = dir.File("keys");
  std::filesystem::create_directory(keys);
  updater::SignedImageGate gate(keys);
  const auto admits = [&](const std::string& path, const char* content) {
    char reason[256] = "";
    return gate.Admit(path.c_str(), reinterpret_cast<const std::uint8_t*>(content),
                      static_cast<std::uint32_t>(std::strlen(content)), reason, sizeof reason);
  };
  EXPECT_TRUE(admits(dir.File("unsigned.QMZ"), "firmware 47.913"));
  std::filesystem::copy_file(d + "o.pub", keys + "/other.pub");
  EXPECT_FALSE(admits(image, "firmware 47.913"));
  std::filesystem::copy_file(d + "k.pub", keys + "/maker.pub");
  EXPECT_TRUE(admits(image, "firmware 47.913"));
  EXPECT_FALSE(admits(image, "firmware 47.914"));
  char reason[256] = "";
  EXPECT_FALSE(gate.Admit(dir.File("unsigned.QMZ").c_str(),
                          reinterpret_cast<const std::uint8_t*>("x"), 1, reason, sizeof reason));
  EXPECT_NE(std::string(reason).find("no se puede leer la firma"), std::string::npos) << reason;
}

}  // namespace
