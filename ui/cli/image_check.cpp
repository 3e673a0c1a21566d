#include "ui/cli/image_check.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "download/downloader.h"

namespace updater::cli {

namespace {

bool SignatureGood(const char* path, const std::uint8_t* image, std::uint32_t length,
                   const SignatureRequirement& required, Platform& platform, ImageCheck& check) {
  const std::string beside = std::string(path) + ".minisig";
  check.signatureChecked = true;
  check.signature =
      platform.CheckSignature(image, length, required.publicKey,
                              required.signature != nullptr ? required.signature : beside.c_str());
  return check.signature.verdict == SignatureVerdict::kGood;
}

}  // namespace

ImageCheck CheckImage(bool read, const char* path, const std::uint8_t* image, std::uint32_t length,
                      std::string_view expected, const SignatureRequirement& required,
                      Platform& platform) {
  ImageCheck check;
  check.length = read ? length : 0;
  std::uint8_t digest[32];
  if (read && length > 0 && platform.Sha256(image, length, digest))
    HexDigest(digest, check.sha256);
  if (!read)
    check.verdict = ImageVerdict::kUnreadable;
  else if (length == 0)
    check.verdict = ImageVerdict::kEmpty;
  else if (length >= Downloader::kLengthLimit)
    check.verdict = ImageVerdict::kTooLong;
  else if (required.publicKey != nullptr &&
           !SignatureGood(path, image, length, required, platform, check))
    check.verdict = ImageVerdict::kUnsigned;
  else if (!expected.empty() && check.sha256[0] == '\0')
    check.verdict = ImageVerdict::kNoDigest;
  else if (!expected.empty() && expected != check.sha256)
    check.verdict = ImageVerdict::kOtherHash;
  else
    check.verdict = ImageVerdict::kGood;
  return check;
}

void DescribeImageProblem(const ImageCheck& check, const char* unreadable, char* out,
                          std::size_t capacity) {
  if (capacity == 0)
    return;
  out[0] = '\0';
  switch (check.verdict) {
    case ImageVerdict::kGood:
      break;
    case ImageVerdict::kUnreadable:
      std::snprintf(out, capacity, "no se puede leer la imagen: %s", unreadable);
      break;
    case ImageVerdict::kEmpty:
      std::snprintf(out, capacity,
                    "la imagen est\xE1 vac\xED"
                    "a");
      break;
    case ImageVerdict::kTooLong:
      std::snprintf(
          out, capacity, "imagen demasiado larga para el equipo: %u bytes, como m\xE1ximo %u",
          static_cast<unsigned>(check.length), static_cast<unsigned>(Downloader::kLengthLimit - 1));
      break;
    case ImageVerdict::kUnsigned:
      std::snprintf(out, capacity, "imagen sin firma v\xE1lida: %s",
                    SignatureProblemText(check.signature.verdict));
      break;
    case ImageVerdict::kNoDigest:
      std::snprintf(out, capacity, "no se pudo calcular el SHA-256 de la imagen");
      break;
    case ImageVerdict::kOtherHash:
      std::snprintf(out, capacity, "la imagen no es la esperada: otro SHA-256");
      break;
  }
}

const char* SignatureProblemText(SignatureVerdict verdict) {
  switch (verdict) {
    case SignatureVerdict::kGood:
      return "firma correcta";
    case SignatureVerdict::kUnsupported:
      return "este programa no comprueba firmas en este sistema";
    case SignatureVerdict::kNoKey:
      return "no se puede leer la clave p\xFA"
             "blica";
    case SignatureVerdict::kMalformedKey:
      return "la clave p\xFA"
             "blica no es de minisign";
    case SignatureVerdict::kNoSignature:
      return "no se puede leer la firma";
    case SignatureVerdict::kMalformedSignature:
      return "la firma no es de minisign";
    case SignatureVerdict::kOtherKey:
      return "la firma es de otra clave";
    case SignatureVerdict::kBadSignature:
      return "la imagen no es la firmada";
    case SignatureVerdict::kBadComment:
      return "el comentario de confianza se cambi\xF3 tras firmar";
  }
  return "firma incorrecta";
}

const char* FileProblemText(FileProblem problem, bool append) {
  switch (problem) {
    case FileProblem::kAbsent:
      return "no existe";
    case FileProblem::kFolderAbsent:
      return "la carpeta no existe";
    case FileProblem::kFolder:
      return "es una carpeta, no un archivo";
    case FileProblem::kNoPermission:
      return append ? "sin permiso de escritura" : "sin permiso de lectura";
    case FileProblem::kNotAFile:
      return "no es un archivo normal";
    case FileProblem::kReadOnly:
      return "sistema de archivos de solo lectura";
    case FileProblem::kNone:
    case FileProblem::kOther:
      break;
  }
  return "error del sistema";
}

void HexDigest(const std::uint8_t digest[32], char out[65]) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 32; ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 0x0F];
  }
  out[64] = '\0';
}

}  // namespace updater::cli
