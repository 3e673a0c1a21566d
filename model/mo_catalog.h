#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace updater {

// A compiled gettext catalog (msgfmt's .mo file) read where it lies in memory, for a system
// without gettext: the Windows build carries its catalogs inside the program.
class MoCatalog {
 public:
  // Takes the bytes as they are; a file that is not a whole little-endian catalog, or whose
  // strings do not lie within it, finds nothing.
  explicit MoCatalog(std::span<const std::uint8_t> bytes);

  bool valid() const { return count_ != 0; }

  // The translation of `messageId`, zero-terminated within the bytes; nullptr where there is none.
  const char* Find(std::string_view messageId) const;

 private:
  std::uint32_t Word(std::size_t at) const;
  std::string_view String(std::uint32_t table, std::uint32_t index) const;

  std::span<const std::uint8_t> bytes_;
  std::uint32_t count_ = 0;
  std::uint32_t originals_ = 0;
  std::uint32_t translations_ = 0;
};

}  // namespace updater
