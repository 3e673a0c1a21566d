// An image's minisign signature checked with libsodium: the files' formats as minisign writes
// them, the key's identifier, the prehashed (BLAKE2b-512, "ED") and the legacy ("Ed") signatures,
// and the global signature over the signature and its trusted comment.
#include <sodium.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "app/system/minisign.h"
#include "app/system/system_platform.h"

namespace updater::cli {

namespace {

constexpr std::size_t kMaxFile = 64 * 1024;  // a key or a signature is a few hundred bytes
constexpr char kTrustedPrefix[] = "trusted comment: ";

bool ReadText(const char* path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return text.size() <= kMaxFile;
}

// The file's lines without their line ends.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    lines.push_back(line);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return lines;
}

// Base64 of exactly `size` bytes.
bool Decode(std::string_view text, std::uint8_t* out, std::size_t size) {
  std::size_t length = 0;
  return sodium_base642bin(out, size, text.data(), text.size(), nullptr, &length, nullptr,
                           sodium_base64_VARIANT_ORIGINAL) == 0 &&
         length == size;
}

}  // namespace

bool ParseMinisignKey(std::string_view text, MinisignKey& key) {
  const std::vector<std::string_view> lines = Lines(text);
  std::uint8_t raw[2 + sizeof key.id + sizeof key.key];
  if (lines.size() < 2 || lines[0].rfind("untrusted comment:", 0) != 0 ||
      !Decode(lines[1], raw, sizeof raw) || raw[0] != 'E' || raw[1] != 'd') {
    return false;
  }
  std::memcpy(key.id, raw + 2, sizeof key.id);
  std::memcpy(key.key, raw + 2 + sizeof key.id, sizeof key.key);
  return true;
}

bool ParseMinisignSignature(std::string_view text, MinisignSignature& s) {
  const std::vector<std::string_view> lines = Lines(text);
  std::uint8_t raw[2 + sizeof s.keyId + sizeof s.signature];
  if (lines.size() < 4 || lines[0].rfind("untrusted comment:", 0) != 0 ||
      !Decode(lines[1], raw, sizeof raw) || raw[0] != 'E' || (raw[1] != 'd' && raw[1] != 'D') ||
      lines[2].rfind(kTrustedPrefix, 0) != 0 || !Decode(lines[3], s.global, sizeof s.global)) {
    return false;
  }
  s.prehashed = raw[1] == 'D';
  std::memcpy(s.keyId, raw + 2, sizeof s.keyId);
  std::memcpy(s.signature, raw + 2 + sizeof s.keyId, sizeof s.signature);
  s.trustedComment = lines[2].substr(std::strlen(kTrustedPrefix));
  return true;
}

SignatureCheck SystemPlatform::CheckSignature(const std::uint8_t* image, std::size_t length,
                                              const char* publicKeyPath,
                                              const char* signaturePath) {
  return CheckMinisign(image, length, publicKeyPath, signaturePath);
}

SignatureCheck CheckMinisign(const std::uint8_t* image, std::size_t length,
                             const char* publicKeyPath, const char* signaturePath) {
  SignatureCheck check;
  std::string keyText;
  std::string signatureText;
  MinisignKey key{};
  MinisignSignature s;
  if (sodium_init() < 0)
    return check;
  if (!ReadText(publicKeyPath, keyText)) {
    check.verdict = SignatureVerdict::kNoKey;
  } else if (!ParseMinisignKey(keyText, key)) {
    check.verdict = SignatureVerdict::kMalformedKey;
  } else if (!ReadText(signaturePath, signatureText)) {
    check.verdict = SignatureVerdict::kNoSignature;
  } else if (!ParseMinisignSignature(signatureText, s)) {
    check.verdict = SignatureVerdict::kMalformedSignature;
  } else if (std::memcmp(s.keyId, key.id, sizeof key.id) != 0) {
    check.verdict = SignatureVerdict::kOtherKey;
  } else {
    std::uint8_t digest[crypto_generichash_BYTES_MAX];
    const std::uint8_t* message = image;
    std::size_t messageLength = length;
    if (s.prehashed) {
      crypto_generichash(digest, sizeof digest, image, length, nullptr, 0);
      message = digest;
      messageLength = sizeof digest;
    }
    std::string signedComment(reinterpret_cast<const char*>(s.signature), sizeof s.signature);
    signedComment.append(s.trustedComment);
    if (crypto_sign_verify_detached(s.signature, message, messageLength, key.key) != 0) {
      check.verdict = SignatureVerdict::kBadSignature;
    } else if (crypto_sign_verify_detached(
                   s.global, reinterpret_cast<const std::uint8_t*>(signedComment.data()),
                   signedComment.size(), key.key) != 0) {
      check.verdict = SignatureVerdict::kBadComment;
    } else {
      check.verdict = SignatureVerdict::kGood;
      std::snprintf(check.trustedComment, sizeof check.trustedComment, "%.*s",
                    static_cast<int>(s.trustedComment.size()), s.trustedComment.data());
    }
  }
  if (check.verdict != SignatureVerdict::kNoKey &&
      check.verdict != SignatureVerdict::kMalformedKey) {
    // minisign shows the identifier as a little-endian number.
    std::uint64_t id = 0;
    for (int i = 7; i >= 0; --i)
      id = (id << 8) | key.id[i];
    std::snprintf(check.keyId, sizeof check.keyId, "%016" PRIX64, id);
  }
  return check;
}

}  // namespace updater::cli
