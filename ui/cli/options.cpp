#include "ui/cli/options.h"

#include <cstdio>
#include <cstring>

#include "model/localized.h"
#include "ui/cli/exit_status.h"

namespace updater::cli {

namespace {

// Up to the exit codes, which the table of exit statuses gives.
constexpr const char* kHelpBeforeExitCodes = Translatable(
    "Uso: actualizador-cli [OPCI\xD3N]... IMAGEN\n"
    "Programa IMAGEN (un archivo .QMZ, del que se leen los primeros 65.536 bytes) en un\n"
    "equipo 47.913 conectado a un puerto serie, con los mensajes de la ventana. El equipo\n"
    "admite im\xE1genes de 31.743 bytes como m\xE1ximo.\n"
    "\n"
    "Opciones:\n"
    "  --port PUERTO      usar solo PUERTO: COM1 a COM4 o cualquier COMn de --list-ports;\n"
    "                     en Linux tambi\xE9n la ruta del dispositivo (/dev/ttyUSB0). Sin\n"
    "                     --port se busca el equipo en COM1 a COM4, como la ventana\n"
    "  --list-ports       mostrar los puertos serie del sistema y terminar\n"
    "  -q, --quiet        mostrar solo los errores\n"
    "  --json             escribir en la salida est\xE1ndar un objeto JSON por l\xEDnea\n"
    "                     (mensajes, progreso y resultado)\n"
    "  --log ARCHIVO      a\xF1"
    "adir a ARCHIVO el resultado de cada programaci\xF3n (una l\xEDnea JSON)\n"
    "  --expect-sha256 HEX\n"
    "                     programar solo si el SHA-256 de la imagen es HEX (64 cifras\n"
    "                     hexadecimales); si no, terminar con el c\xF3"
    "digo 3 sin tocar\n"
    "                     ning\xFAn puerto\n"
    "  --public-key CLAVE\n"
    "                     programar solo una imagen firmada con la clave p\xFA"
    "blica de\n"
    "                     minisign CLAVE; si no, terminar con el c\xF3"
    "digo 3 sin tocar\n"
    "                     ning\xFAn puerto\n"
    "  --signature FIRMA  la firma de la imagen (por omisi\xF3n IMAGEN.minisig)\n"
    "  --journal          a\xF1"
    "adir tambi\xE9n cada resultado al diario del sistema (systemd,\n"
    "                     solo Linux)\n"
    "  --wait[=SEGUNDOS]  si ning\xFAn equipo responde, seguir buscando (sin l\xEDmite o\n"
    "                     durante SEGUNDOS; tambi\xE9n --wait SEGUNDOS)\n"
    "  --loop             tras cada equipo, esperar a que se retire y programar el\n"
    "                     siguiente; termina con Ctrl+C y muestra la cuenta\n"
    "  -h, --help         mostrar esta ayuda y terminar\n"
    "  --version          mostrar la versi\xF3n y terminar\n"
    "\n"
    "C\xF3"
    "digos de salida:\n");

// After the exit codes.
constexpr const char* kHelpAfterExitCodes = Translatable(
    "Con --loop: 0 si todos los equipos se programaron bien, si no el c\xF3"
    "digo del \xFAltimo\n"
    "fallo; 130 si Ctrl+C cort\xF3 una programaci\xF3n.\n");

bool AllDigits(const char* text) {
  if (*text == '\0')
    return false;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9')
      return false;
  }
  return true;
}

}  // namespace

// The value of "--name=value" or "--name value"; nullptr when `arg` is not that option.
const char* OptionValue(const char* name, int argc, char** argv, int& i, bool& missing) {
  const char* arg = argv[i];
  const std::size_t n = std::strlen(name);
  if (std::strncmp(arg, name, n) != 0)
    return nullptr;
  if (arg[n] == '=')
    return arg + n + 1;
  if (arg[n] != '\0')
    return nullptr;
  if (i + 1 >= argc) {
    missing = true;
    return nullptr;
  }
  return argv[++i];
}

bool ParseSha256(std::string_view text, char out[65]) {
  if (text.size() != 64)
    return false;
  for (std::size_t n = 0; n < text.size(); ++n) {
    const char c = text[n];
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))
      out[n] = c;
    else if (c >= 'A' && c <= 'F')
      out[n] = static_cast<char>(c - 'A' + 'a');
    else
      return false;
  }
  out[64] = '\0';
  return true;
}

bool ParseSeconds(std::string_view text, std::uint32_t& seconds) {
  if (text.empty())
    return false;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9')
      return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > kMaxWaitSeconds)
      return false;
  }
  seconds = static_cast<std::uint32_t>(value);
  return true;
}

const char* HelpText() {
  struct Text {
    char bytes[8192];
  };
  // In the chosen language, which main chooses before anything asks for the help.
  static const Text help = [] {
    Text text{};
    const int before =
        std::snprintf(text.bytes, sizeof text.bytes, "%s", Localized(kHelpBeforeExitCodes));
    std::size_t length = before < 0 ? 0 : static_cast<std::size_t>(before);
    if (length >= sizeof text.bytes)
      length = sizeof text.bytes - 1;
    length += FormatExitCodes(text.bytes + length, sizeof text.bytes - length);
    std::snprintf(text.bytes + length, sizeof text.bytes - length, "%s",
                  Localized(kHelpAfterExitCodes));
    return text;
  }();
  return help.bytes;
}

Command ParseCommandLine(int argc, char** argv, Options& options, char* error,
                         std::size_t capacity) {
  options = Options{};
  if (capacity > 0)
    error[0] = '\0';
  bool help = false;
  bool version = false;
  bool optionsEnded = false;
  // "--wait 30": the seconds, taken from the argument after a spaced --wait.
  const char* spacedWait = nullptr;
  // Options that --list-ports has no use for: named in its refusal rather than ignored.
  const char* notForList = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
      if (options.image != nullptr) {
        std::snprintf(error, capacity,
                      Localized("sobra el argumento '%s': se programa una sola imagen"), arg);
        return Command::kUsageError;
      }
      options.image = arg;
      continue;
    }
    bool missing = false;
    const char* value = nullptr;
    if (std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
      help = true;
    } else if (std::strcmp(arg, "--version") == 0) {
      version = true;
    } else if (std::strcmp(arg, "-q") == 0 || std::strcmp(arg, "--quiet") == 0) {
      options.quiet = true;
    } else if (std::strcmp(arg, "--json") == 0) {
      options.json = true;
    } else if (std::strcmp(arg, "--list-ports") == 0) {
      options.listPorts = true;
    } else if (std::strcmp(arg, "--journal") == 0) {
      options.journal = true;
      notForList = arg;
    } else if (std::strcmp(arg, "--loop") == 0) {
      options.loop = true;
      notForList = arg;
    } else if (std::strcmp(arg, "--wait") == 0) {
      options.wait = true;
      options.waitSeconds = 0;
      notForList = arg;
      if (i + 1 < argc && AllDigits(argv[i + 1])) {
        spacedWait = argv[++i];
        if (!ParseSeconds(spacedWait, options.waitSeconds)) {
          std::snprintf(error, capacity,
                        Localized("--wait: '%s' no es un n\xFAmero de segundos (0 a %u)"),
                        spacedWait, static_cast<unsigned>(kMaxWaitSeconds));
          return Command::kUsageError;
        }
      }
    } else if (std::strncmp(arg, "--wait=", 7) == 0) {
      notForList = "--wait";
      if (!ParseSeconds(arg + 7, options.waitSeconds)) {
        std::snprintf(error, capacity,
                      Localized("--wait: '%s' no es un n\xFAmero de segundos (0 a %u)"), arg + 7,
                      static_cast<unsigned>(kMaxWaitSeconds));
        return Command::kUsageError;
      }
      options.wait = true;
    } else if ((value = OptionValue("--port", argc, argv, i, missing)) != nullptr) {
      if (*value == '\0') {
        std::snprintf(error, capacity, Localized("--port: falta el nombre del puerto"));
        return Command::kUsageError;
      }
      options.port = value;
      notForList = "--port";
    } else if ((value = OptionValue("--log", argc, argv, i, missing)) != nullptr) {
      if (*value == '\0') {
        std::snprintf(error, capacity, Localized("--log: falta el nombre del archivo"));
        return Command::kUsageError;
      }
      options.log = value;
      notForList = "--log";
    } else if ((value = OptionValue("--expect-sha256", argc, argv, i, missing)) != nullptr) {
      if (!ParseSha256(value, options.expectSha256)) {
        std::snprintf(
            error, capacity,
            Localized("--expect-sha256: '%.80s' no es un SHA-256 (64 cifras hexadecimales)"),
            value);
        return Command::kUsageError;
      }
      notForList = "--expect-sha256";
    } else if ((value = OptionValue("--public-key", argc, argv, i, missing)) != nullptr ||
               (!missing &&
                (value = OptionValue("--signature", argc, argv, i, missing)) != nullptr)) {
      const bool key = std::strncmp(arg, "--public-key", 12) == 0;
      if (*value == '\0') {
        std::snprintf(error, capacity, Localized("%s: falta el nombre del archivo"),
                      key ? "--public-key" : "--signature");
        return Command::kUsageError;
      }
      (key ? options.publicKey : options.signature) = value;
      notForList = key ? "--public-key" : "--signature";
    } else if (missing) {
      std::snprintf(error, capacity, Localized("%s: falta su valor"), arg);
      return Command::kUsageError;
    } else {
      std::snprintf(error, capacity, Localized("opci\xF3n desconocida '%s'"), arg);
      return Command::kUsageError;
    }
  }
  if (help)
    return Command::kHelp;
  if (version)
    return Command::kVersion;
  if (options.listPorts) {
    if (options.image != nullptr) {
      std::snprintf(error, capacity, Localized("--list-ports no programa ninguna imagen"));
      return Command::kUsageError;
    }
    if (notForList != nullptr) {
      std::snprintf(error, capacity,
                    Localized("--list-ports muestra todos los puertos y no admite %s"), notForList);
      return Command::kUsageError;
    }
    return Command::kListPorts;
  }
  if (options.image == nullptr && spacedWait != nullptr) {
    std::snprintf(error, capacity,
                  Localized("falta la IMAGEN que programar ('%s' se tom\xF3 como los segundos de "
                            "--wait=%s; una imagen con ese nombre se da como ./%s)"),
                  spacedWait, spacedWait, spacedWait);
    return Command::kUsageError;
  }
  if (options.image == nullptr) {
    std::snprintf(error, capacity, Localized("falta la IMAGEN que programar"));
    return Command::kUsageError;
  }
  if (options.signature != nullptr && options.publicKey == nullptr) {
    std::snprintf(error, capacity,
                  Localized("--signature sin --public-key: no hay clave con que comprobarla"));
    return Command::kUsageError;
  }
  return Command::kRun;
}

}  // namespace updater::cli
