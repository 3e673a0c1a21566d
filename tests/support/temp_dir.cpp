#include "support/temp_dir.h"

#include <fstream>
#include <random>

namespace support {

TempDir::TempDir() {
  // create_directory says false when the name is taken, so two processes never share a folder.
  std::random_device random;
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto candidate =
        base / ("updater-test-" + std::to_string(random()) + "-" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) {
      path_ = candidate.string();
      return;
    }
  }
  throw std::system_error(std::make_error_code(std::errc::file_exists),
                          "no temporary folder of its own under " + base.string());
}

TempDir::~TempDir() {
  Remove();
}

std::string TempDir::File(const std::string& name) const {
  return (std::filesystem::path(path_) / name).string();
}

std::error_code TempDir::Remove() {
  std::error_code error;
  if (!path_.empty())
    std::filesystem::remove_all(path_, error);
  path_.clear();
  return error;
}

const TempDir& ProcessTempDir() {
  static const TempDir dir;
  return dir;
}

std::string WriteImage(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

}  // namespace support
