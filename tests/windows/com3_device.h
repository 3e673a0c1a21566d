#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace win32test {

// COM3 served by the device simulator: scripts/test-windows starts it, points COM3 at its
// pseudo-terminal and names the faults it shows in UPDATER_COM3_DEVICE ("well-behaved",
// "wrong-echo=132", "reject-length"); UPDATER_COM3_SAVE is the file, as this program sees it,
// that the simulator saves a complete image to. A case whose device is not the one serving is
// skipped (the script fails a run in which anything was skipped).
class Com3Test : public ::testing::Test {
 protected:
  explicit Com3Test(const char* device) : device_(device) {}

  void SetUp() override {
    const char* serving = std::getenv("UPDATER_COM3_DEVICE");
    if (serving == nullptr || std::strcmp(serving, device_) != 0) {
      GTEST_SKIP() << "needs the device simulator on COM3 as \"" << device_
                   << "\" (scripts/test-windows)";
    }
  }

  static std::string SavePath() {
    const char* path = std::getenv("UPDATER_COM3_SAVE");
    return path == nullptr ? std::string() : std::string(path);
  }

 private:
  const char* device_;
};

}  // namespace win32test
