#include <glob.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/system/minisign.h"
#include "app/system/signed_image_gate.h"
#include "model/localized.h"
#include "ui/cli/image_check.h"

namespace updater {

std::string SignedImageGate::KeyFolder() {
  return "/etc/actualizador/keys";
}

bool SignedImageGate::Admit(const char* path, const std::uint8_t* image, std::uint32_t length,
                            char* reason, std::size_t capacity) {
  std::vector<std::string> keys;
  glob_t found{};
  if (glob((folder_ + "/*.pub").c_str(), 0, nullptr, &found) == 0)
    keys.assign(found.gl_pathv, found.gl_pathv + found.gl_pathc);
  globfree(&found);
  if (keys.empty())
    return true;
  const std::string signature = std::string(path) + ".minisig";
  cli::SignatureVerdict first = cli::SignatureVerdict::kNoKey;
  for (const std::string& key : keys) {
    const cli::SignatureCheck check =
        cli::CheckMinisign(image, length, key.c_str(), signature.c_str());
    if (check.verdict == cli::SignatureVerdict::kGood)
      return true;
    if (&key == &keys.front())
      first = check.verdict;
  }
  // Shown in the window's message box, in the chosen language.
  std::snprintf(reason, capacity,
                Localized("Imagen rechazada: no tiene una firma v\xE1lida de una clave instalada "
                          "en %s (%s)"),
                folder_.c_str(), Localized(cli::SignatureProblemText(first)));
  return false;
}

}  // namespace updater
