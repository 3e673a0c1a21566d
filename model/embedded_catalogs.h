#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace updater {

// A compiled catalog carried inside the program, by its language ("en").
struct EmbeddedCatalog {
  std::string_view language;
  std::span<const std::uint8_t> bytes;
};

// The build's catalogs, generated from po/*.po.
std::span<const EmbeddedCatalog> EmbeddedCatalogs();

}  // namespace updater
