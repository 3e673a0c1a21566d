#pragma once

#include <cstddef>
#include <cstdint>

namespace updater {

// A firmware image file opened for reading. Opening never blocks: a FIFO, a socket or a directory
// is refused rather than waited on. One source file per platform.
class ImageFile {
 public:
  ImageFile() = default;
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;
  ~ImageFile() { Close(); }

  bool Open(const char* path);
  // Reads from the start of the file up to `capacity` bytes; the rest of the file is ignored.
  // False on a read error (the buffer then holds what was read before it).
  bool ReadAll(std::uint8_t* buffer, std::size_t capacity, std::uint32_t& length);
  void Close();

 private:
  std::intptr_t handle_ = -1;
};

}  // namespace updater
