#include "ui/station/station_status.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

#include "download/downloader.h"
#include "download/image_file.h"
#include "model/localized.h"
#include "ui/cli/exit_status.h"
#include "ui/cli/image_check.h"
#include "ui/cli/json_writer.h"
#include "ui/cli/translated.h"
#include "ui/station/report.h"

namespace updater::station {

namespace {

// Whether a run would take the configured image, and why not.
struct ImageState {
  cli::ImageCheck check;
  std::string problem;       // Windows-1252, Spanish (for JSON); empty for a good image
  std::string shownProblem;  // the same in the chosen language
};

ImageState CheckStationImage(const StationConfig& config, cli::Platform& platform) {
  static std::uint8_t image[Downloader::kImageSize];
  ImageFile file;
  std::uint32_t length = 0;
  const bool read = file.Open(config.image.c_str()) && file.ReadAll(image, sizeof image, length);
  ImageState state;
  state.check = cli::CheckImage(
      read, config.image.c_str(), image, length, config.sha256,
      {config.publicKey.empty() ? nullptr : config.publicKey.c_str(), nullptr}, platform);
  char text[256];
  cli::DescribeImageProblem(state.check, text, sizeof text);
  state.problem = text;
  cli::DescribeImageProblem(state.check, text, sizeof text, true);
  state.shownProblem = text;
  return state;
}

// A connected port and what the station makes of it.
struct AdapterView {
  ConnectedPort port;
  bool matches = false;
  UnitStatus unit;
  const LastResult* last = nullptr;  // the newest result since it was plugged in
  bool pluggedBeforeConfig = false;  // nothing ran since, and the configuration is newer
};

// A result belongs to the adapter connected now when it came after the plug and, where both
// have one, from the same USB serial number: the port's name is reused by the next adapter.
const LastResult* ResultSincePlug(const JournalView& journal, const ConnectedPort& port) {
  for (const std::string& key : {port.byPath, port.device}) {
    const auto found = key.empty() ? journal.last.end() : journal.last.find(key);
    if (found == journal.last.end())
      continue;
    const LastResult& r = found->second;
    const bool sameSerial = r.usbSerial.empty() || port.port.serialNumber[0] == '\0' ||
                            r.usbSerial == port.port.serialNumber;
    if (sameSerial && (port.pluggedUsec == 0 || r.usec >= port.pluggedUsec))
      return &r;
  }
  return nullptr;
}

std::vector<AdapterView> LookAtPorts(const LoadedConfig& loaded, const JournalView& journal,
                                     StationSystem& system) {
  std::vector<AdapterView> views;
  for (const ConnectedPort& port : system.SerialPorts()) {
    AdapterView v;
    v.port = port;
    AdapterFacts facts{port.port.vendorId, port.port.productId, port.port.serialNumber, {}};
    if (!port.byPath.empty())
      facts.byPaths.push_back(port.byPath);
    v.matches = loaded.state == StationState::kOn && StationMatches(loaded.config, facts);
    if (v.matches) {
      v.unit = system.Unit(kUnitPrefix + port.kernelName + kUnitSuffix);
      // A service that failed before this adapter was plugged in ran for another one.
      if (v.unit.state == UnitStatus::State::kFailed && v.unit.changedUsec != 0 &&
          port.pluggedUsec != 0 && v.unit.changedUsec < port.pluggedUsec) {
        v.unit.state = UnitStatus::State::kInactive;
      }
      v.last = ResultSincePlug(journal, port);
      v.pluggedBeforeConfig = v.last == nullptr && v.unit.state != UnitStatus::State::kRunning &&
                              v.unit.state != UnitStatus::State::kFailed && port.pluggedUsec != 0 &&
                              loaded.changedUsec > port.pluggedUsec;
    }
    views.push_back(v);
  }
  return views;
}

std::string Hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(value));
  return text;
}

std::string UsbIds(const StationConfig& c, const char* separator) {
  std::string ids;
  for (const auto& id : c.adapters)
    ids += (ids.empty() ? "" : separator) + Hex4(id.vendor) + ":" + Hex4(id.product);
  return ids;
}

std::string Code(int status) {
  return Localized(
             "c\xF3"
             "digo ") +
         std::to_string(status);
}

// An exit status in the product's words: "código 3: imagen ilegible, ...".
std::string ExitWords(int status) {
  std::string words = Code(status);
  for (const cli::ExitCode& code : cli::kExitCodes) {
    if (code.status != status)
      continue;
    words += ": ";
    for (const char* p = Localized(code.meaning); *p != '\0'; ++p)
      words += *p == '\n' ? ' ' : *p;
  }
  return words;
}

int ExitFor(const LoadedConfig& loaded, const ImageState& image) {
  if (loaded.state == StationState::kOff)
    return kStatusOff;
  if (loaded.state == StationState::kError)
    return kStatusConfigError;
  return image.problem.empty() ? kStatusActive : kStatusImageRefused;
}

const char* UnitWord(UnitStatus::State state) {
  switch (state) {
    case UnitStatus::State::kRunning:
      return "running";
    case UnitStatus::State::kInactive:
      return "inactive";
    case UnitStatus::State::kFailed:
      return "failed";
    case UnitStatus::State::kUnknown:
      break;
  }
  return "unknown";
}

}  // namespace

namespace {

// " (9A73CC8229D06A63): firma correcta, FW 1.2" for the status's key line.
std::string KeyLine(const cli::ImageCheck& check) {
  if (!check.signatureChecked)
    return "";
  const cli::SignatureCheck& s = check.signature;
  std::string line = s.keyId[0] != '\0' ? std::string(" (") + s.keyId + ")" : "";
  line += std::string(": ") + Localized(cli::SignatureProblemText(s.verdict));
  if (s.verdict == cli::SignatureVerdict::kGood)
    line += ", " + TerminalText(s.trustedComment, 200);
  return line;
}

// "  Imagen:       ": the labels of the station's lines, one column wide in every language.
class Labels {
 public:
  Labels() {
    for (const char* label : kLabels)
      width_ = std::max(width_, std::string_view(Localized(label)).size());
  }
  std::string operator()(const char* label) const {
    const std::string text = Localized(label);
    return "  " + text + std::string(width_ + 2 - text.size(), ' ');
  }

  static constexpr const char* kLabels[] = {Translatable("Imagen:"),   Translatable("SHA-256:"),
                                            Translatable("Clave:"),    Translatable("Adaptadores:"),
                                            Translatable("Registro:"), Translatable("Espera:")};

 private:
  std::size_t width_ = 0;
};

std::string StationLines(const LoadedConfig& loaded, const char* path, const ImageState& image) {
  if (loaded.state == StationState::kOff) {
    return loaded.present
               ? cli::Say(Translatable("Estaci\xF3n: desactivada (%s est\xE1 vac\xED"
                                       "o o solo tiene comentarios)\n"),
                          path)
               : cli::Say(Translatable("Estaci\xF3n: desactivada (%s no existe)\n"), path);
  }
  if (loaded.state == StationState::kError) {
    return cli::Say(Translatable("Estaci\xF3n: desactivada por un error en %s, %s\n"), path,
                    loaded.error.shown.c_str());
  }
  const StationConfig& c = loaded.config;
  const Labels label;
  std::string out =
      image.problem.empty()
          ? cli::Say(Translatable("Estaci\xF3n: activa (%s)\n"), path)
          : std::string(Localized("Estaci\xF3n: desactivada, cada programaci\xF3n rechazar\xED"
                                  "a la imagen\n"));
  const std::string size = std::to_string(image.check.length) + " bytes";
  out += label(Translatable("Imagen:")) + c.image + " (" +
         (!image.problem.empty() ? Localized("RECHAZADA: ") + image.shownProblem
          : c.sha256.empty()     ? size
                                 : Localized("coincide, ") + size) +
         ")\n";
  if (!c.sha256.empty())
    out += label(Translatable("SHA-256:")) + c.sha256 + "\n";
  if (!c.publicKey.empty())
    out += label(Translatable("Clave:")) + c.publicKey + KeyLine(image.check) + "\n";
  out += label(Translatable("Adaptadores:")) + "USB " + UsbIds(c, ", ");
  if (!c.serials.empty()) {
    out += Localized("; n\xFAmeros de serie");
    for (const std::string& s : c.serials)
      out += " " + s;
  }
  if (!c.byPaths.empty()) {
    out += Localized("; tomas");
    for (const std::string& s : c.byPaths)
      out += " " + s;
  }
  out += "\n" + label(Translatable("Registro:")) +
         cli::Say(Translatable("%s y el diario del sistema\n"), c.log.c_str());
  out += label(Translatable("Espera:")) +
         cli::Say(Translatable("%u s a que el equipo responda\n"), c.waitSeconds);
  return out;
}

std::string LastLine(const AdapterView& v, bool readable, StationSystem& system) {
  constexpr char kIndent[] = "            ";
  const std::string last = std::string(kIndent) + Localized("\xFAltimo: ");
  if (v.last != nullptr && v.last->result == "ok") {
    return last + cli::Say(Translatable("correcto, %s, %s bytes en %s s\n"),
                           system.LocalTime(v.last->usec).c_str(), v.last->bytes.c_str(),
                           v.last->seconds.c_str());
  }
  if (v.last != nullptr) {
    return last + cli::Say(Translatable("FALLO (c\xF3"
                                        "digo %d), %s: %s\n"),
                           v.last->exitCode, system.LocalTime(v.last->usec).c_str(),
                           ShownRecordText(v.last->error, 1000).c_str());
  }
  if (v.unit.state == UnitStatus::State::kFailed) {
    return last + cli::Say(Translatable("FALLO (%s), sin resultado en el diario\n"),
                           ExitWords(v.unit.exitStatus).c_str());
  }
  if (!readable)
    return last + Localized("desconocido (sin permiso para leer el diario del sistema)\n");
  if (v.pluggedBeforeConfig) {
    return std::string(kIndent) +
           Localized(
               "sin programar: conectado antes de la \xFAltima configuraci\xF3n de la "
               "estaci\xF3n; descon\xE9"
               "ctelo y vuelva a conectarlo\n");
  }
  return last + Localized("ninguno desde que se conect\xF3\n");
}

std::string AdapterLines(const AdapterView& v, bool readable, StationSystem& system) {
  const PortInfo& p = v.port.port;
  const std::size_t slash = v.port.byPath.find_last_of('/');
  char head[512];
  std::snprintf(head, sizeof head, "  %-9s USB %04x:%04x%s%s%s%s\n", v.port.kernelName.c_str(),
                static_cast<unsigned>(p.vendorId), static_cast<unsigned>(p.productId),
                p.serialNumber[0] != '\0' ? Localized(", serie ") : "", p.serialNumber,
                v.port.byPath.empty() ? "" : ", ", v.port.byPath.c_str() + slash + 1);
  std::string out = head;
  if (v.unit.state == UnitStatus::State::kRunning)
    out += Localized("            ahora: programando\n");
  else if (v.unit.state == UnitStatus::State::kUnknown)
    out += Localized("            ahora: desconocido (systemd no responde)\n");
  return out + LastLine(v, readable, system);
}

std::string StatusText(const LoadedConfig& loaded, const char* path, const ImageState& image,
                       const std::vector<AdapterView>& views, bool readable,
                       StationSystem& system) {
  std::string out = StationLines(loaded, path, image);
  int matching = 0;
  std::string others;
  for (const AdapterView& v : views) {
    if (v.matches) {
      ++matching;
      out += AdapterLines(v, readable, system);
    } else {
      others += (others.empty() ? "" : ", ") + v.port.kernelName;
    }
  }
  if (loaded.state == StationState::kOn) {
    out += matching == 0
               ? std::string(Localized("Ning\xFAn adaptador de la estaci\xF3n conectado\n"))
               : cli::Say(Translatable("Adaptadores de la estaci\xF3n conectados: %d\n"), matching);
  }
  if (!others.empty()) {
    out += cli::Say(Translatable("Otros puertos serie (la estaci\xF3n no los toca): %s\n"),
                    others.c_str());
  }
  if (!readable) {
    out += Localized(
        "Sin permiso para leer el diario del sistema: use sudo o el grupo systemd-journal\n");
  }
  return out;
}

void StationJson(const LoadedConfig& loaded, const char* path, const ImageState& image,
                 bool readable, cli::Console& console) {
  const char* state = loaded.state == StationState::kOff     ? "off"
                      : loaded.state == StationState::kError ? "error"
                      : image.problem.empty()                ? "on"
                                                             : "refused";
  cli::JsonLine line;
  line.Utf8("event", "station");
  line.Utf8("state", state);
  line.Utf8("config", path);
  if (loaded.state == StationState::kError)
    line.Text("error", loaded.error.spanish);
  if (loaded.state == StationState::kOn) {
    const StationConfig& c = loaded.config;
    line.Utf8("image", c.image);
    line.Utf8("sha256", c.sha256);
    line.Utf8("public_key", c.publicKey);
    if (image.check.signatureChecked) {
      line.Utf8("key_id", image.check.signature.keyId);
      line.Boolean("signature_ok", image.check.signature.verdict == cli::SignatureVerdict::kGood);
      line.Utf8("trusted_comment", image.check.signature.trustedComment);
    }
    line.Boolean("image_ok", image.problem.empty());
    if (!image.problem.empty())
      line.Text("image_error", image.problem);
    line.Integer("image_bytes", image.check.length);
    line.Utf8("adapters", UsbIds(c, " "));
    line.Utf8("log", c.log);
    line.Integer("wait", c.waitSeconds);
  }
  line.Boolean("journal_readable", readable);
  console.OutputBytes(line.Finish());
}

void AdapterJson(const AdapterView& v, StationSystem& system) {
  const PortInfo& p = v.port.port;
  cli::JsonLine a;
  a.Utf8("event", "adapter");
  a.Utf8("device", v.port.device.empty() ? p.path : v.port.device);
  a.Utf8("by_path", v.port.byPath);
  a.Utf8("usb_serial", p.serialNumber);
  a.Utf8("vendor_id", Hex4(p.vendorId));
  a.Utf8("product_id", Hex4(p.productId));
  a.Boolean("station", v.matches);
  if (v.matches) {
    a.Utf8("unit_state", UnitWord(v.unit.state));
    if (v.unit.state == UnitStatus::State::kFailed)
      a.Integer("unit_exit_code", v.unit.exitStatus);
    a.Boolean("plugged_before_config", v.pluggedBeforeConfig);
    if (v.last != nullptr) {
      a.Utf8("last_result", v.last->result);
      a.Integer("last_exit_code", v.last->exitCode);
      a.Utf8("last_time", system.LocalTime(v.last->usec));
      a.Utf8("last_error", v.last->error);
      a.Utf8("last_seconds", v.last->seconds);
    } else {
      a.Null("last_result");
    }
  }
  system.platform().console().OutputBytes(a.Finish());
}

}  // namespace

LoadedConfig LoadConfig(const char* path, StationSystem& system) {
  LoadedConfig l;
  ConfigFile file;
  if (!system.ReadConfig(path, file))
    return l;
  l.present = true;
  l.changedUsec = file.changedUsec;
  l.state = ParseStationConfig(file.text, l.config, l.error);
  if (!file.othersMayWrite.empty() && l.state != StationState::kOff) {
    // Whoever may write it may have root program any device with any image.
    l.state = StationState::kError;
    l.error = cli::Translate(Translatable("otro usuario que root puede cambiarlo (")) +
              file.othersMayWrite + ")";
  }
  return l;
}

int ShowStatus(const LoadedConfig& loaded, const char* path, bool json, StationSystem& system) {
  cli::Platform& platform = system.platform();
  ImageState image;
  if (loaded.state == StationState::kOn)
    image = CheckStationImage(loaded.config, platform);
  const JournalView journal = system.LastResults();
  const std::vector<AdapterView> views = LookAtPorts(loaded, journal, system);
  if (json) {
    StationJson(loaded, path, image, journal.readable, platform.console());
    for (const AdapterView& v : views)
      AdapterJson(v, system);
  } else {
    platform.console().Output(StatusText(loaded, path, image, views, journal.readable, system));
  }
  return ExitFor(loaded, image);
}

}  // namespace updater::station
