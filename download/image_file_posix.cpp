#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "download/image_file.h"

namespace updater {

bool ImageFile::Open(const char* path) {
  Close();
  if (path == nullptr || path[0] == '\0')
    return false;
  // Non-blocking, so that a FIFO without a writer or a terminal cannot hang the window.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0)
    return false;
  struct stat info {};
  if (::fstat(fd, &info) != 0 ||
      !(S_ISREG(info.st_mode) || S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))) {
    ::close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

bool ImageFile::ReadAll(std::uint8_t* buffer, std::size_t capacity, std::uint32_t& length) {
  length = 0;
  if (handle_ < 0)
    return false;
  const int fd = static_cast<int>(handle_);
  if (::lseek(fd, 0, SEEK_SET) < 0 && errno != ESPIPE)
    return false;
  std::size_t total = 0;
  while (total < capacity) {
    const ssize_t n = ::read(fd, buffer + total, capacity - total);
    if (n > 0) {
      total += static_cast<std::size_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      length = static_cast<std::uint32_t>(total);
      return false;  // includes EAGAIN: a device with nothing to read now is not waited on
    }
  }
  length = static_cast<std::uint32_t>(total);
  return true;
}

void ImageFile::Close() {
  if (handle_ < 0)
    return;
  ::close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace updater
