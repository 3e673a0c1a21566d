#include "ui/cli/image_check.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "download/downloader.h"
#include "ui/cli/translated.h"

namespace updater::cli {

namespace {

// DescribeImageProblem's texts with a figure or a reason, which LocalizedFailure reads back.
constexpr const char* kUnreadable = Translatable("no se puede leer la imagen: %s");
constexpr const char* kTooLong =
    Translatable("imagen demasiado larga para el equipo: %u bytes, como m\xE1ximo %u");
constexpr const char* kUnsigned = Translatable("imagen sin firma v\xE1lida: %s");

// Whether `text` is `format` (its conversions %s and %u alone) filled in; the values in `values`.
bool Fills(std::string_view format, std::string_view text, std::vector<std::string>& values) {
  values.clear();
  while (!format.empty()) {
    if (format.size() >= 2 && format[0] == '%' && (format[1] == 's' || format[1] == 'u')) {
      const bool number = format[1] == 'u';
      format.remove_prefix(2);
      // Up to the next conversion's literal text, or to the end.
      const std::string_view literal = format.substr(0, format.find('%'));
      std::size_t end = text.size();
      if (!literal.empty()) {
        end = format.size() == literal.size() ? text.rfind(literal) : text.find(literal);
        if (end == std::string_view::npos)
          return false;
      }
      const std::string_view value = text.substr(0, end);
      if (value.empty() ||
          (number && value.find_first_not_of("0123456789") != std::string_view::npos)) {
        return false;
      }
      values.emplace_back(value);
      text.remove_prefix(end);
      continue;
    }
    if (text.empty() || text[0] != format[0])
      return false;
    format.remove_prefix(1);
    text.remove_prefix(1);
  }
  return text.empty();
}

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
    check.fileProblem = platform.ExplainFile(path, false);
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

void DescribeImageProblem(const ImageCheck& check, char* out, std::size_t capacity,
                          bool localized) {
  if (capacity == 0)
    return;
  const auto L = [localized](const char* spanish) { return InLanguage(spanish, localized); };
  out[0] = '\0';
  switch (check.verdict) {
    case ImageVerdict::kGood:
      break;
    case ImageVerdict::kUnreadable:
      std::snprintf(out, capacity, L(kUnreadable), L(FileProblemText(check.fileProblem, false)));
      break;
    case ImageVerdict::kEmpty:
      std::snprintf(out, capacity, "%s",
                    L(Translatable("la imagen est\xE1 vac\xED"
                                   "a")));
      break;
    case ImageVerdict::kTooLong:
      std::snprintf(out, capacity, L(kTooLong), static_cast<unsigned>(check.length),
                    static_cast<unsigned>(Downloader::kLengthLimit - 1));
      break;
    case ImageVerdict::kUnsigned:
      std::snprintf(out, capacity, L(kUnsigned), L(SignatureProblemText(check.signature.verdict)));
      break;
    case ImageVerdict::kNoDigest:
      std::snprintf(out, capacity, "%s",
                    L(Translatable("no se pudo calcular el SHA-256 de la imagen")));
      break;
    case ImageVerdict::kOtherHash:
      std::snprintf(out, capacity, "%s",
                    L(Translatable("la imagen no es la esperada: otro SHA-256")));
      break;
  }
}

const char* SignatureProblemText(SignatureVerdict verdict) {
  switch (verdict) {
    case SignatureVerdict::kGood:
      return Translatable("firma correcta");
    case SignatureVerdict::kUnsupported:
      return Translatable("este programa no comprueba firmas en este sistema");
    case SignatureVerdict::kNoKey:
      return Translatable(
          "no se puede leer la clave p\xFA"
          "blica");
    case SignatureVerdict::kMalformedKey:
      return Translatable(
          "la clave p\xFA"
          "blica no es de minisign");
    case SignatureVerdict::kNoSignature:
      return Translatable("no se puede leer la firma");
    case SignatureVerdict::kMalformedSignature:
      return Translatable("la firma no es de minisign");
    case SignatureVerdict::kOtherKey:
      return Translatable("la firma es de otra clave");
    case SignatureVerdict::kBadSignature:
      return Translatable("la imagen no es la firmada");
    case SignatureVerdict::kBadComment:
      return Translatable("el comentario de confianza se cambi\xF3 tras firmar");
  }
  return Translatable("firma incorrecta");
}

const char* FileProblemText(FileProblem problem, bool append) {
  switch (problem) {
    case FileProblem::kAbsent:
      return Translatable("no existe");
    case FileProblem::kFolderAbsent:
      return Translatable("la carpeta no existe");
    case FileProblem::kFolder:
      return Translatable("es una carpeta, no un archivo");
    case FileProblem::kNoPermission:
      return append ? Translatable("sin permiso de escritura")
                    : Translatable("sin permiso de lectura");
    case FileProblem::kNotAFile:
      return Translatable("no es un archivo normal");
    case FileProblem::kReadOnly:
      return Translatable("sistema de archivos de solo lectura");
    case FileProblem::kNone:
    case FileProblem::kOther:
      break;
  }
  return Translatable("error del sistema");
}

std::string LocalizedFailure(std::string_view spanish) {
  const std::string text(spanish);
  // An empty id would find the catalog's header.
  if (text.empty())
    return text;
  const char* whole = Localized(text.c_str());
  if (whole != text.c_str() || InSpanish())
    return whole;
  std::vector<std::string> values;
  for (const char* format : {kUnreadable, kTooLong, kUnsigned}) {
    if (!Fills(format, text, values))
      continue;
    // The localized format filled in with the same values in order, a reason localized too.
    std::string out;
    std::size_t next = 0;
    for (const char* p = Localized(format); *p != '\0'; ++p) {
      if (p[0] == '%' && (p[1] == 's' || p[1] == 'u') && next < values.size()) {
        out += p[1] == 's' ? Localized(values[next].c_str()) : values[next];
        ++next;
        ++p;
      } else {
        out += *p;
      }
    }
    return out;
  }
  return text;
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
