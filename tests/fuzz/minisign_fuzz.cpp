// minisign's public keys and signatures as a maker's files, or anyone's, could hold them: the
// input is tried as both.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/system/minisign.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  updater::cli::MinisignKey key;
  updater::cli::MinisignSignature signature;
  updater::cli::ParseMinisignKey(text, key);
  updater::cli::ParseMinisignSignature(text, signature);
  return 0;
}
