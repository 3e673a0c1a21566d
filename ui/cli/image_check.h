#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ui/cli/platform.h"

namespace updater::cli {

// Whether an image may be programmed: the same rule for the command line, before any port is
// touched, and for the station's status, which says why a run would refuse it.
enum class ImageVerdict {
  kGood,
  kUnreadable,  // the file would not open or read
  kEmpty,
  kTooLong,    // the device's length limit or more
  kUnsigned,   // a public key is given and the image has no good signature by it
  kNoDigest,   // a SHA-256 is pinned but could not be computed
  kOtherHash,  // a SHA-256 is pinned and the image has another
};

struct ImageCheck {
  ImageVerdict verdict = ImageVerdict::kUnreadable;
  std::uint32_t length = 0;
  char sha256[65] = {};  // lowercase hex; empty when not computed
  bool signatureChecked = false;
  SignatureCheck signature;                      // when checked
  FileProblem fileProblem = FileProblem::kNone;  // why the file would not open, when unreadable
};

// The minisign public key and signature an image must have: none when `publicKey` is nullptr;
// `signature` nullptr for IMAGE.minisig beside the image.
struct SignatureRequirement {
  const char* publicKey = nullptr;
  const char* signature = nullptr;
};

// Checks `length` bytes of the image at `path` (`read`: whether the file could be read at all)
// against the device's limit, then its signature when `required` names a key, then, unless
// `expected` is empty, its SHA-256 (lowercase hex). An unreadable image's file is asked why.
ImageCheck CheckImage(bool read, const char* path, const std::uint8_t* image, std::uint32_t length,
                      std::string_view expected, const SignatureRequirement& required,
                      Platform& platform);

// Why a signature was not good, in words (Spanish, Windows-1252; Localized() gives them in the
// chosen language).
const char* SignatureProblemText(SignatureVerdict verdict);

// Why `check` refuses the image, in words (Windows-1252, zero-terminated in `out`):
// "imagen demasiado larga para el equipo: 40000 bytes, como máximo 31743". Empty for a good
// image. In Spanish for the records, or in the chosen language when `localized` is true.
void DescribeImageProblem(const ImageCheck& check, char* out, std::size_t capacity,
                          bool localized = false);

// The reason a file would not open, in words (Spanish, Windows-1252; Localized() gives them in the
// chosen language): for an image when `append` is false, for a record file when it is true.
const char* FileProblemText(FileProblem problem, bool append);

// A failure text as the records keep it (Spanish, Windows-1252: FailureText's,
// DescribeImageProblem's with its figures and reason) in the chosen language; a text it does not
// know stays as it is.
std::string LocalizedFailure(std::string_view spanish);

// The digest as 64 lowercase hex digits and a terminating zero.
void HexDigest(const std::uint8_t digest[32], char out[65]);

}  // namespace updater::cli
