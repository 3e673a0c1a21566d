#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "fakes/core_fixture.h"
#include "support/temp_dir.h"

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};

}  // namespace

// Every allocation of the process passes here; only those made while counting are counted.
void* operator new(std::size_t size) {
  if (g_counting.load())
    ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size))
    return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

class NoAllocationTest : public fakes::CoreFixture {};

class PathChooser final : public updater::FileChooser {
 public:
  explicit PathChooser(const char* path) : path_(path) {}
  bool Choose(char* path, std::size_t capacity) override {
    std::snprintf(path, capacity, "%s", path_);
    return true;
  }

 private:
  const char* path_;
};

TEST_F(NoAllocationTest, LoadingAndAWholeRunAllocateNothing) {
  const support::TempDir dir;
  const std::string file = support::WriteImage(dir.File("image.QMZ"), Pattern(1000));
  driver.port(0).present = true;  // silent COM1
  sim::DeviceFaults faults;
  faults.extraMoreReplies = 1;
  AttachDevice(2, faults);
  PathChooser chooser(file.c_str());

  g_counting = true;
  core.OnOpenFile(chooser);
  core.OnProgram();
  g_counting = false;

  EXPECT_EQ(g_allocations.load(), 0);
  EXPECT_TRUE(core.m_download.succeeded());
  EXPECT_EQ(core.m_download.m_nFileLength, 1000u);
}

}  // namespace
