#include <windows.h>

#include "download/image_file.h"

namespace updater {

namespace {

HANDLE ToHandle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// Larger requests are split; the image buffer is far smaller anyway.
constexpr std::size_t kMaxRead = 1u << 20;

}  // namespace

bool ImageFile::Open(const char* path) {
  Close();
  if (path == nullptr || path[0] == '\0')
    return false;
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return false;
  // Files on a disk only: a pipe, the console or a serial port could leave the read waiting.
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(h);
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return true;
}

bool ImageFile::ReadAll(std::uint8_t* buffer, std::size_t capacity, std::uint32_t& length) {
  length = 0;
  if (handle_ == -1)
    return false;
  HANDLE h = ToHandle(handle_);
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(h, start, nullptr, FILE_BEGIN))
    return false;
  std::size_t total = 0;
  while (total < capacity) {
    const std::size_t left = capacity - total;
    const DWORD want = static_cast<DWORD>(left < kMaxRead ? left : kMaxRead);
    DWORD got = 0;
    if (!ReadFile(h, buffer + total, want, &got, nullptr)) {
      length = static_cast<std::uint32_t>(total);
      return false;
    }
    if (got == 0)
      break;
    total += got;
  }
  length = static_cast<std::uint32_t>(total);
  return true;
}

void ImageFile::Close() {
  if (handle_ == -1)
    return;
  CloseHandle(ToHandle(handle_));
  handle_ = -1;
}

}  // namespace updater
