#include "ui/station/station_config.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "ui/cli/options.h"
#include "ui/cli/translated.h"

namespace updater::station {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool Hex(std::string_view text, std::uint32_t& value) {
  value = 0;
  if (text.empty() || text.size() > 4)
    return false;
  for (const char c : text) {
    std::uint32_t digit = 0;
    if (c >= '0' && c <= '9')
      digit = static_cast<std::uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f')
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    else
      return false;
    value = value * 16 + digit;
  }
  return true;
}

constexpr const char* kKeys[] = {"image",  "sha256",  "public_key", "adapter",
                                 "serial", "by_path", "log",        "wait"};
// The keys that take one value; the others may be given on several lines.
constexpr const char* kSingleKeys[] = {"image", "sha256", "public_key", "log", "wait"};

// Whether `value` holds a second "key =" after a blank, as a line that joins two would.
bool HoldsAnotherKey(std::string_view value) {
  for (const char* key : kKeys) {
    const std::string_view k(key);
    for (std::size_t at = value.find(k); at != std::string_view::npos; at = value.find(k, at + 1)) {
      if (at == 0 || (value[at - 1] != ' ' && value[at - 1] != '\t'))
        continue;
      const std::string_view rest = Trim(value.substr(at + k.size()));
      if (!rest.empty() && rest.front() == '=')
        return true;
    }
  }
  return false;
}

// Whether `path` names a file inside the service's state folder.
bool InStateFolder(std::string_view path) {
  const std::string_view folder(kStateFolder);
  if (path.size() <= folder.size() + 1 || path.substr(0, folder.size()) != folder ||
      path[folder.size()] != '/') {
    return false;
  }
  return path.find("/../") == std::string_view::npos && path.substr(path.size() - 3) != "/..";
}

// '*' any run of characters, '?' any one.
bool Glob(std::string_view pattern, std::string_view text) {
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t star = std::string_view::npos;
  std::size_t resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*')
    ++p;
  return p == pattern.size();
}

// "línea 3: " and `format` (marked Translatable) with `what`, in both languages.
cli::Translated Line(int number, const char* format, std::string_view what) {
  return cli::Translate(Translatable("l\xEDnea %d: "), number) +
         cli::Translate(format, static_cast<int>(what.size()), what.data());
}

}  // namespace

bool ParseUsbId(std::string_view text, StationConfig::UsbId& id) {
  const std::size_t colon = text.find(':');
  std::uint32_t vendor = 0;
  std::uint32_t product = 0;
  if (colon == std::string_view::npos || !Hex(text.substr(0, colon), vendor) ||
      !Hex(text.substr(colon + 1), product)) {
    return false;
  }
  id.vendor = static_cast<std::uint16_t>(vendor);
  id.product = static_cast<std::uint16_t>(product);
  return true;
}

namespace {

// Takes one "key = value" line into `config`; false with `error` set when it is wrong.
bool ReadSetting(std::string_view key, std::string_view value, int number, StationConfig& config,
                 cli::Translated& error) {
  if (key == "image") {
    if (value.front() != '/') {
      error = Line(number, Translatable("image: '%.*s' no es una ruta absoluta"), value);
      return false;
    }
    config.image = value;
  } else if (key == "sha256") {
    char hex[65];
    if (!cli::ParseSha256(value, hex)) {
      error = Line(
          number, Translatable("sha256: '%.*s' no es un SHA-256 (64 cifras hexadecimales)"), value);
      return false;
    }
    config.sha256 = hex;
  } else if (key == "public_key") {
    if (value.front() != '/') {
      error = Line(number, Translatable("public_key: '%.*s' no es una ruta absoluta"), value);
      return false;
    }
    config.publicKey = value;
  } else if (key == "adapter") {
    StationConfig::UsbId id;
    if (!ParseUsbId(value, id)) {
      error = Line(number,
                   Translatable("adapter: '%.*s' no son los identificadores USB "
                                "'fabricante:producto' (por ejemplo 0403:6001)"),
                   value);
      return false;
    }
    config.adapters.push_back(id);
  } else if (key == "serial") {
    config.serials.emplace_back(value);
  } else if (key == "by_path") {
    config.byPaths.emplace_back(value);
  } else if (key == "log") {
    if (!InStateFolder(value)) {
      error =
          Line(number, Translatable("log: '%.*s' no est\xE1 en "), value) + kStateFolder +
          cli::Translate(Translatable("/, la \xFAnica carpeta donde el servicio puede escribir"));
      return false;
    }
    config.log = value;
  } else if (!cli::ParseSeconds(value, config.waitSeconds)) {
    error = Line(number, Translatable("wait: '%.*s' no es un n\xFAmero de segundos"), value);
    return false;
  }
  return true;
}

// Why a line that reads "key = value" is still wrong, or nothing: an unknown key, no value, a
// second key on the line, a key that takes one value given again.
cli::Translated LineProblem(std::string_view key, std::string_view value, int number,
                            std::vector<std::pair<std::string_view, int>>& seen) {
  bool known = false;
  for (const char* k : kKeys)
    known = known || key == k;
  if (!known) {
    return Line(number,
                Translatable("clave desconocida '%.*s' (se admiten image, sha256, public_key, "
                             "adapter, serial, by_path, log, wait)"),
                key);
  }
  if (value.empty())
    return Line(number, Translatable("'%.*s' sin valor"), key);
  if (HoldsAnotherKey(value))
    return Line(number,
                Translatable("'%.*s' con otra clave en la misma l\xEDnea: una clave por l\xEDnea"),
                key);
  for (const char* single : kSingleKeys) {
    if (key != single)
      continue;
    for (const auto& [k, line] : seen) {
      if (k == key) {
        return Line(number, Translatable("'%.*s' repetida"), key) +
               cli::Translate(Translatable(" (ya en la l\xEDnea %d)"), line);
      }
    }
    seen.emplace_back(key, number);
  }
  return {};
}

}  // namespace

StationState ParseStationConfig(std::string_view text, StationConfig& config, std::string& error) {
  cli::Translated both;
  const StationState state = ParseStationConfig(text, config, both);
  error = both.spanish;
  return state;
}

StationState ParseStationConfig(std::string_view text, StationConfig& config,
                                cli::Translated& error) {
  config = StationConfig{};
  error = cli::Translated();
  bool any = false;
  std::vector<std::pair<std::string_view, int>> seen;
  for (int number = 1; !text.empty(); ++number) {
    const std::size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == '#')
      continue;
    any = true;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      error = Line(number, Translatable("se esperaba 'clave = valor', no '%.*s'"), line);
      return StationState::kError;
    }
    const std::string_view key = Trim(line.substr(0, equals));
    const std::string_view value = Trim(line.substr(equals + 1));
    error = LineProblem(key, value, number, seen);
    if (!error.empty() || !ReadSetting(key, value, number, config, error))
      return StationState::kError;
  }
  if (!any)
    return StationState::kOff;
  if (config.image.empty())
    error =
        cli::Translate(Translatable("falta la l\xEDnea 'image = RUTA' (la imagen que programar)"));
  else if (config.sha256.empty() && config.publicKey.empty())
    error =
        cli::Translate(Translatable("falta la l\xEDnea 'sha256 = HEX' (el SHA-256 de la imagen) o "
                                    "'public_key = RUTA' (la clave que la firma)"));
  else if (config.adapters.empty())
    error = cli::Translate(
        Translatable("falta una l\xEDnea 'adapter = FABRICANTE:PRODUCTO' (los adaptadores USB)"));
  return error.empty() ? StationState::kOn : StationState::kError;
}

bool StationMatches(const StationConfig& config, const AdapterFacts& adapter) {
  bool id = false;
  for (const StationConfig::UsbId& usb : config.adapters)
    id = id || (usb.vendor == adapter.vendor && usb.product == adapter.product);
  if (!id)
    return false;
  if (!config.serials.empty()) {
    bool serial = false;
    for (const std::string& s : config.serials)
      serial = serial || (!adapter.serial.empty() && s == adapter.serial);
    if (!serial)
      return false;
  }
  if (config.byPaths.empty())
    return true;
  for (const std::string& pattern : config.byPaths) {
    for (const std::string& link : adapter.byPaths) {
      const std::size_t slash = link.find_last_of('/');
      const std::string_view name =
          pattern.find('/') != std::string::npos || slash == std::string::npos
              ? std::string_view(link)
              : std::string_view(link).substr(slash + 1);
      if (Glob(pattern, name))
        return true;
    }
  }
  return false;
}

}  // namespace updater::station
