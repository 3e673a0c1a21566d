#pragma once

#include <string>

#include "download/image_gate.h"

namespace updater {

// The window's gate where an administrator has installed keys (KeyFolder()'s *.pub): an image is
// admitted when it has a good minisign signature (IMAGE.minisig beside it) by one of them. With
// no key installed every image is, as the window always took them. One source file per platform.
class SignedImageGate final : public ImageGate {
 public:
  explicit SignedImageGate(std::string folder = KeyFolder()) : folder_(std::move(folder)) {}

  bool Admit(const char* path, const std::uint8_t* image, std::uint32_t length, char* reason,
             std::size_t capacity) override;

  // Where the administrator installs the keys: /etc/actualizador/keys on Linux, the folder keys
  // beside the program on Windows.
  static std::string KeyFolder();

 private:
  std::string folder_;
};

}  // namespace updater
