#include "ui/cli/station_config.h"

#include <cstdio>

namespace updater::cli {

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

bool Sha256(std::string_view text, std::string& out) {
  if (text.size() != 64)
    return false;
  out.clear();
  for (const char c : text) {
    if (c >= '0' && c <= '9')
      out += c;
    else if (c >= 'a' && c <= 'f')
      out += c;
    else if (c >= 'A' && c <= 'F')
      out += static_cast<char>(c - 'A' + 'a');
    else
      return false;
  }
  return true;
}

bool Seconds(std::string_view text, std::uint32_t& seconds) {
  if (text.empty() || text.size() > 6)
    return false;
  seconds = 0;
  for (const char c : text) {
    if (c < '0' || c > '9')
      return false;
    seconds = seconds * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return seconds <= 7 * 24 * 3600;
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

std::string Line(int number, const char* format, std::string_view what) {
  char text[512];
  std::snprintf(text, sizeof text, "l\xEDnea %d: ", number);
  std::string out = text;
  std::snprintf(text, sizeof text, format, static_cast<int>(what.size()), what.data());
  return out + text;
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

StationState ParseStationConfig(std::string_view text, StationConfig& config, std::string& error) {
  config = StationConfig{};
  error.clear();
  bool any = false;
  int imageLine = 0;
  int number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view raw = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    const std::string_view line = Trim(raw);
    if (line.empty() || line.front() == '#')
      continue;
    any = true;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      error = Line(number, "se esperaba 'clave = valor', no '%.*s'", line);
      return StationState::kError;
    }
    const std::string_view key = Trim(line.substr(0, equals));
    const std::string_view value = Trim(line.substr(equals + 1));
    if (value.empty()) {
      error = Line(number, "'%.*s' sin valor", key);
      return StationState::kError;
    }
    if (key == "image") {
      if (value.front() != '/') {
        error = Line(number, "image: '%.*s' no es una ruta absoluta", value);
        return StationState::kError;
      }
      config.image = value;
      imageLine = number;
    } else if (key == "sha256") {
      if (!Sha256(value, config.sha256)) {
        error = Line(number, "sha256: '%.*s' no es un SHA-256 (64 cifras hexadecimales)", value);
        return StationState::kError;
      }
    } else if (key == "adapter") {
      StationConfig::UsbId id;
      if (!ParseUsbId(value, id)) {
        error = Line(number,
                     "adapter: '%.*s' no son los identificadores USB 'fabricante:producto' "
                     "(por ejemplo 0403:6001)",
                     value);
        return StationState::kError;
      }
      config.adapters.push_back(id);
    } else if (key == "serial") {
      config.serials.emplace_back(value);
    } else if (key == "by_path") {
      config.byPaths.emplace_back(value);
    } else if (key == "log") {
      if (value.front() != '/') {
        error = Line(number, "log: '%.*s' no es una ruta absoluta", value);
        return StationState::kError;
      }
      config.log = value;
    } else if (key == "wait") {
      if (!Seconds(value, config.waitSeconds)) {
        error = Line(number, "wait: '%.*s' no es un n\xFAmero de segundos", value);
        return StationState::kError;
      }
    } else {
      error = Line(number,
                   "clave desconocida '%.*s' (se admiten image, sha256, adapter, serial, "
                   "by_path, log, wait)",
                   key);
      return StationState::kError;
    }
  }
  if (!any)
    return StationState::kOff;
  if (imageLine == 0)
    error = "falta la l\xEDnea 'image = RUTA' (la imagen que programar)";
  else if (config.sha256.empty())
    error = "falta la l\xEDnea 'sha256 = HEX' (el SHA-256 de la imagen)";
  else if (config.adapters.empty())
    error = "falta una l\xEDnea 'adapter = FABRICANTE:PRODUCTO' (los adaptadores USB)";
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

}  // namespace updater::cli
