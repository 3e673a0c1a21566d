#pragma once

#include <cstdint>
#include <string_view>

#include "ui/cli/platform.h"

namespace updater::cli {

// minisign's files as minisign writes them (base64 lines under an untrusted comment).
struct MinisignKey {
  std::uint8_t id[8];
  std::uint8_t key[32];  // Ed25519
};

struct MinisignSignature {
  bool prehashed = false;  // "ED": of the file's BLAKE2b-512; "Ed": of the file itself
  std::uint8_t keyId[8];
  std::uint8_t signature[64];
  std::string_view trustedComment;  // within the text parsed
  std::uint8_t global[64];          // of the signature and the trusted comment
};

// The public key: an untrusted comment, then "Ed", the key's identifier and the key.
bool ParseMinisignKey(std::string_view text, MinisignKey& key);
// The signature: an untrusted comment, the algorithm, key identifier and signature, the trusted
// comment, and the global signature.
bool ParseMinisignSignature(std::string_view text, MinisignSignature& signature);

// Checks the signature in the file `signaturePath` of `length` bytes of `image` against the
// public key in the file `publicKeyPath` (libsodium).
SignatureCheck CheckMinisign(const std::uint8_t* image, std::size_t length,
                             const char* publicKeyPath, const char* signaturePath);

}  // namespace updater::cli
