#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace support {

// A folder of the test process's own under the system's temporary folder ($TMPDIR), removed
// with all it holds when the object goes. Tests run as processes side by side, so every file,
// link and port name a test makes goes in here, never under a fixed name in the shared folder.
class TempDir {
 public:
  TempDir();  // throws std::system_error when no folder can be made
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // `name` inside the folder, with the system's own separator.
  std::string File(const std::string& name) const;
  // Removes the folder now; what went wrong, if anything.
  std::error_code Remove();

 private:
  std::string path_;
};

// The folder of this test process for tests without a fixture: made on first use, removed when
// the process ends.
const TempDir& ProcessTempDir();

// Writes `bytes` as the file `path`, replacing what was there; returns the path.
std::string WriteImage(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace support
