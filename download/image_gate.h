#pragma once

#include <cstddef>
#include <cstdint>

namespace updater {

// Whether an image opened in the window may be programmed, where an administrator has installed
// a key that releases must be signed with. Without one the window takes every image.
class ImageGate {
 public:
  virtual ~ImageGate() = default;
  // False, with `reason` (Windows-1252, zero-terminated) for the message box, when the image at
  // `path` (its first `length` bytes read into `image`) must not be programmed.
  virtual bool Admit(const char* path, const std::uint8_t* image, std::uint32_t length,
                     char* reason, std::size_t capacity) = 0;
};

}  // namespace updater
