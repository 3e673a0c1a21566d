#include "model/mo_catalog.h"

namespace updater {

namespace {
constexpr std::uint32_t kMagic = 0x950412de;
constexpr std::size_t kHeaderBytes = 28;
}  // namespace

MoCatalog::MoCatalog(std::span<const std::uint8_t> bytes) : bytes_(bytes) {
  if (bytes_.size() < kHeaderBytes || Word(0) != kMagic || Word(4) != 0)
    return;
  const std::uint32_t count = Word(8);
  originals_ = Word(12);
  translations_ = Word(16);
  // Both tables, and every string they point to with its terminating zero, inside the file.
  for (std::uint32_t table : {originals_, translations_}) {
    if (table > bytes_.size() || count > (bytes_.size() - table) / 8)
      return;
  }
  count_ = count;
  for (std::uint32_t index = 0; index < count && count_ != 0; ++index) {
    for (std::uint32_t table : {originals_, translations_}) {
      const std::uint32_t length = Word(table + index * 8);
      const std::uint32_t offset = Word(table + index * 8 + 4);
      if (offset >= bytes_.size() || length >= bytes_.size() - offset ||
          bytes_[offset + length] != 0) {
        count_ = 0;
      }
    }
  }
}

std::uint32_t MoCatalog::Word(std::size_t at) const {
  return static_cast<std::uint32_t>(bytes_[at]) | static_cast<std::uint32_t>(bytes_[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes_[at + 2]) << 16 |
         static_cast<std::uint32_t>(bytes_[at + 3]) << 24;
}

std::string_view MoCatalog::String(std::uint32_t table, std::uint32_t index) const {
  const std::uint32_t length = Word(table + index * 8);
  const std::uint32_t offset = Word(table + index * 8 + 4);
  return {reinterpret_cast<const char*>(bytes_.data()) + offset, length};
}

const char* MoCatalog::Find(std::string_view messageId) const {
  // msgfmt writes the originals sorted by their bytes.
  std::uint32_t low = 0;
  std::uint32_t high = count_;
  while (low < high) {
    const std::uint32_t middle = low + (high - low) / 2;
    const int order = String(originals_, middle).compare(messageId);
    if (order == 0) {
      const std::string_view text = String(translations_, middle);
      return text.empty() ? nullptr : text.data();
    }
    if (order < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return nullptr;
}

}  // namespace updater
