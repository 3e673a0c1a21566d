// actualizador-station: the plug-and-flash station. udev asks it which adapters to act on
// (match), systemd runs it on one adapter (run), the operator asks it what the station does
// (status). The configuration is /etc/actualizador/station.conf; without it nothing happens.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/cli/journal.h"
#include "app/cli/system_platform.h"
#include "app/station/station_system.h"
#include "download/downloader.h"
#include "download/image_file.h"
#include "serial/port_list.h"
#include "ui/cli/exit_status.h"
#include "ui/cli/json_writer.h"
#include "ui/cli/station_config.h"

namespace {

using namespace updater;
using namespace updater::cli;

constexpr char kDefaultConfig[] = "/etc/actualizador/station.conf";
constexpr char kUsage[] =
    "Uso: actualizador-station status [--json] [--config ARCHIVO]\n"
    "     actualizador-station run DISPOSITIVO [--config ARCHIVO]\n"
    "     actualizador-station match [ENLACE]... [--config ARCHIVO]\n"
    "La estaci\xF3n programa cada adaptador USB que station.conf nombra en cuanto se conecta:\n"
    "udev pregunta con 'match', systemd ejecuta 'run' por adaptador\n"
    "(actualizador-station@DISPOSITIVO.service), 'status' muestra la configuraci\xF3n, los\n"
    "adaptadores conectados y el \xFAltimo resultado de cada uno (del diario del sistema).\n";

struct Loaded {
  StationState state = StationState::kOff;
  StationConfig config;
  std::string error;  // Windows-1252
  bool present = false;
};

Loaded Load(const char* path) {
  Loaded l;
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return l;
  l.present = true;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  l.state = ParseStationConfig(text, l.config, l.error);
  return l;
}

// The journal's UTF-8 as the console's Windows-1252 (the Spanish letters are all in Latin-1).
std::string ToWindows1252(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size() && c <= 0xC3) {
      out += static_cast<char>(((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
    } else if ((c & 0xC0) != 0x80) {
      out += '?';
    }
  }
  return out;
}

std::string Hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(value));
  return text;
}

// udev's IMPORT{program}: the adapter's USB properties come in the environment, its links as
// arguments (relative to /dev). Prints ACTUALIZADOR_STATION=1 for an adapter to act on.
int Match(const Loaded& loaded, const std::vector<std::string>& links) {
  if (loaded.state == StationState::kError) {
    std::fprintf(stderr, "actualizador-station: station.conf: %s\n", loaded.error.c_str());
    return 0;
  }
  if (loaded.state != StationState::kOn)
    return 0;
  AdapterFacts adapter;
  StationConfig::UsbId id;
  const char* vendor = std::getenv("ID_VENDOR_ID");
  const char* product = std::getenv("ID_MODEL_ID");
  if (vendor == nullptr || product == nullptr ||
      !ParseUsbId(std::string(vendor) + ":" + product, id)) {
    return 0;
  }
  adapter.vendor = id.vendor;
  adapter.product = id.product;
  const char* serial = std::getenv("ID_SERIAL_SHORT");
  adapter.serial = serial != nullptr ? serial : "";
  for (const std::string& link : links) {
    if (link.rfind("serial/by-path/", 0) == 0)
      adapter.byPaths.push_back("/dev/" + link);
  }
  if (StationMatches(loaded.config, adapter))
    std::printf("ACTUALIZADOR_STATION=1\n");
  return 0;
}

// The service's run on one adapter: the command line's program with the station's options.
int Run(const Loaded& loaded, const char* device, SystemPlatform& platform) {
  Console& console = platform.console();
  if (loaded.state != StationState::kOn) {
    const std::string line = loaded.state == StationState::kError
                                 ? "actualizador-station: station.conf: " + loaded.error + "\n"
                                 : std::string(
                                       "actualizador-station: la estaci\xF3n est\xE1 desactivada "
                                       "(station.conf ausente o vac\xEDo)\n");
    console.Error(line);
    return kExitUsage;
  }
  const StationConfig& c = loaded.config;
  std::string port = device;
  if (port.find('/') == std::string::npos)
    port = "/dev/" + port;
  const std::string wait = "--wait=" + std::to_string(c.waitSeconds);
  std::vector<std::string> args = {"actualizador-cli",
                                   "--port",
                                   port,
                                   "--expect-sha256",
                                   c.sha256,
                                   "--log",
                                   c.log,
                                   "--journal",
                                   wait,
                                   "--",
                                   c.image};
  console.Error("Estaci\xF3n: programando " + port + " con " + c.image + "\n");
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  return RunCli(static_cast<int>(argv.size()) - 1, argv.data(), platform);
}

// Whether the image is there with the configured hash, in words.
std::string ImageCheck(const StationConfig& c, SystemPlatform& platform, bool& ok) {
  ok = false;
  ImageFile file;
  static std::uint8_t image[Downloader::kImageSize];
  std::uint32_t length = 0;
  if (!file.Open(c.image.c_str()) || !file.ReadAll(image, sizeof image, length))
    return "no se puede leer";
  std::uint8_t digest[32];
  if (!platform.Sha256(image, length, digest))
    return "sin SHA-256";
  char hex[65];
  for (int i = 0; i < 32; ++i)
    std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  if (c.sha256 != hex)
    return std::string("\xA1otro SHA-256! (") + hex + ")";
  ok = true;
  return "coincide, " + std::to_string(length) + " bytes";
}

struct Present {
  PortInfo port;
  DeviceDescription description;
  std::string kernelName;  // "ttyUSB0"
  bool matches = false;
};

int Status(const Loaded& loaded, const char* path, bool json, SystemPlatform& platform) {
  Console& console = platform.console();
  const StationConfig& c = loaded.config;
  bool imageOk = false;
  const std::string imageCheck =
      loaded.state == StationState::kOn ? ImageCheck(c, platform, imageOk) : std::string();

  static PortInfo ports[64];
  const int count = ListSerialPorts(ports, 64);
  std::vector<Present> present;
  for (int i = 0; i < count; ++i) {
    Present p;
    p.port = ports[i];
    p.description = DescribeDevice(ports[i].path);
    const char* slash = std::strrchr(p.description.device, '/');
    p.kernelName = slash != nullptr ? slash + 1 : ports[i].path;
    AdapterFacts facts;
    facts.vendor = ports[i].vendorId;
    facts.product = ports[i].productId;
    facts.serial = ports[i].serialNumber;
    if (p.description.byPath[0] != '\0')
      facts.byPaths.push_back(p.description.byPath);
    p.matches = loaded.state == StationState::kOn && StationMatches(c, facts);
    present.push_back(p);
  }
  const station::JournalView journal = station::ReadLastResults();
  const auto lastOf = [&](const Present& p) -> const station::LastResult* {
    for (const char* key : {p.description.byPath, p.description.device}) {
      const auto found = journal.last.find(key);
      if (key[0] != '\0' && found != journal.last.end())
        return &found->second;
    }
    return nullptr;
  };
  const char* state = loaded.state == StationState::kOn      ? "on"
                      : loaded.state == StationState::kError ? "error"
                                                             : "off";
  if (json) {
    JsonLine line;
    line.Utf8("event", "station");
    line.Utf8("state", state);
    line.Utf8("config", path);
    if (loaded.state == StationState::kError)
      line.Text("error", loaded.error);
    if (loaded.state == StationState::kOn) {
      line.Utf8("image", c.image);
      line.Utf8("sha256", c.sha256);
      line.Boolean("image_ok", imageOk);
      std::string ids;
      for (const auto& id : c.adapters)
        ids += (ids.empty() ? "" : " ") + Hex4(id.vendor) + ":" + Hex4(id.product);
      line.Utf8("adapters", ids);
      line.Utf8("log", c.log);
      line.Integer("wait", c.waitSeconds);
    }
    line.Boolean("journal_readable", journal.readable);
    console.OutputBytes(line.Finish());
    for (const Present& p : present) {
      JsonLine a;
      a.Utf8("event", "adapter");
      a.Utf8("device", p.description.device[0] != '\0' ? p.description.device : p.port.path);
      a.Utf8("by_path", p.description.byPath);
      a.Utf8("usb_serial", p.port.serialNumber);
      a.Integer("vendor_id", p.port.vendorId);
      a.Integer("product_id", p.port.productId);
      a.Boolean("station", p.matches);
      if (p.matches) {
        a.Utf8("unit_state", station::UnitState(p.kernelName));
        if (const station::LastResult* last = lastOf(p)) {
          a.Utf8("last_result", last->result);
          a.Integer("last_exit_code", last->exitCode);
          a.Utf8("last_time", last->when);
          a.Utf8("last_error", last->error);
          a.Utf8("last_seconds", last->seconds);
        } else {
          a.Null("last_result");
        }
      }
      console.OutputBytes(a.Finish());
    }
    return kExitSuccess;
  }

  std::string out;
  if (loaded.state == StationState::kOff) {
    out += "Estaci\xF3n: desactivada (";
    out += path;
    out += loaded.present ? " est\xE1 vac\xED"
                            "o o solo tiene comentarios)\n"
                          : " no existe)\n";
  } else if (loaded.state == StationState::kError) {
    out += "Estaci\xF3n: desactivada por un error en ";
    out += path;
    out += ", " + loaded.error + "\n";
  } else {
    out += "Estaci\xF3n: activa (";
    out += path;
    out += ")\n";
    out += "  Imagen:       " + c.image + " (" + imageCheck + ")\n";
    out += "  SHA-256:      " + c.sha256 + "\n";
    out += "  Adaptadores:  USB";
    for (std::size_t i = 0; i < c.adapters.size(); ++i)
      out += (i == 0 ? " " : ", ") + Hex4(c.adapters[i].vendor) + ":" + Hex4(c.adapters[i].product);
    if (!c.serials.empty()) {
      out += "; n\xFAmeros de serie";
      for (const std::string& s : c.serials)
        out += " " + s;
    }
    if (!c.byPaths.empty()) {
      out += "; tomas";
      for (const std::string& s : c.byPaths)
        out += " " + s;
    }
    out += "\n  Registro:     " + c.log + " y el diario del sistema\n";
    out += "  Espera:       " + std::to_string(c.waitSeconds) + " s a que el equipo responda\n";
  }
  int matching = 0;
  std::string others;
  for (const Present& p : present) {
    if (!p.matches) {
      others += (others.empty() ? "" : ", ") + p.kernelName;
      continue;
    }
    ++matching;
    char head[512];
    std::snprintf(
        head, sizeof head, "  %-9s USB %04x:%04x%s%s%s%s\n", p.kernelName.c_str(),
        static_cast<unsigned>(p.port.vendorId), static_cast<unsigned>(p.port.productId),
        p.port.serialNumber[0] != '\0' ? ", serie " : "", p.port.serialNumber,
        p.description.byPath[0] != '\0' ? ", " : "",
        p.description.byPath[0] != '\0' ? std::strrchr(p.description.byPath, '/') + 1 : "");
    out += head;
    const std::string unit = station::UnitState(p.kernelName);
    if (unit == "active" || unit == "activating")
      out += "            ahora: programando\n";
    if (const station::LastResult* last = lastOf(p)) {
      if (last->result == "ok") {
        out += "            \xFAltimo: correcto, " + last->when + ", " + last->bytes +
               " bytes en " + last->seconds + " s\n";
      } else {
        out +=
            "            \xFAltimo: FALLO (c\xF3"
            "digo " +
            std::to_string(last->exitCode) + "), " + last->when + ": " +
            ToWindows1252(last->error) + "\n";
      }
    } else {
      out += "            \xFAltimo: ninguno en el diario\n";
    }
  }
  if (loaded.state == StationState::kOn) {
    out += matching == 0
               ? std::string("Ning\xFAn adaptador de la estaci\xF3n conectado\n")
               : "Adaptadores de la estaci\xF3n conectados: " + std::to_string(matching) + "\n";
  }
  if (!others.empty())
    out += "Otros puertos serie (la estaci\xF3n no los toca): " + others + "\n";
  if (!journal.readable)
    out += "Sin permiso para leer el diario del sistema: use sudo o el grupo systemd-journal\n";
  console.Output(out);
  return kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  static std::atomic<bool> stop{false};
  InstallStopHandlers(stop);
  SystemPlatform platform(stop);
  const char* config = kDefaultConfig;
  const char* command = nullptr;
  bool json = false;
  std::vector<std::string> rest;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--config") == 0 && i + 1 < argc)
      config = argv[++i];
    else if (std::strcmp(argv[i], "--json") == 0)
      json = true;
    else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
      command = "help";
    else if (command == nullptr)
      command = argv[i];
    else
      rest.emplace_back(argv[i]);
  }
  if (command == nullptr)
    command = "status";
  if (std::strcmp(command, "help") == 0) {
    platform.console().Output(kUsage);
    return kExitSuccess;
  }
  const Loaded loaded = Load(config);
  if (std::strcmp(command, "match") == 0)
    return Match(loaded, rest);
  if (std::strcmp(command, "run") == 0 && rest.size() == 1)
    return Run(loaded, rest[0].c_str(), platform);
  if (std::strcmp(command, "status") == 0 && rest.empty())
    return Status(loaded, config, json, platform);
  platform.console().Error(std::string("actualizador-station: orden incorrecta\n") + kUsage);
  return kExitUsage;
}
