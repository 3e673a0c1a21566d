// actualizador-station: udev asks it which adapters to act on (match), systemd runs it on one
// adapter (run), the operator asks it what the station does (status).
#include <cstring>
#include <string>
#include <vector>

#include "model/localized.h"
#include "ui/cli/exit_status.h"
#include "ui/cli/options.h"
#include "ui/cli/translated.h"
#include "ui/station/journal_time.h"
#include "ui/station/report.h"
#include "ui/station/station_status.h"
#include "ui/station/station_system.h"

namespace updater::station {

namespace {

// Shown in the chosen language.
constexpr const char* kUsage = Translatable(
    "Uso: actualizador-station status [--json] [--config ARCHIVO]\n"
    "     actualizador-station run DISPOSITIVO [--config ARCHIVO]\n"
    "     actualizador-station match [ENLACE]... [--config ARCHIVO]\n"
    "     actualizador-station report [--json | --csv] [--since CUANDO] [--until CUANDO]\n"
    "                                 [--directory CARPETA]... [--file PATR\xD3N]...\n"
    "La estaci\xF3n programa cada adaptador USB que station.conf nombra en cuanto se conecta:\n"
    "udev pregunta con 'match', systemd ejecuta 'run' por adaptador\n"
    "(actualizador-station@DISPOSITIVO.service), 'status' muestra la configuraci\xF3n, los\n"
    "adaptadores conectados y el \xFAltimo resultado de cada uno (del diario del sistema).\n"
    "'status' termina con 0 si la estaci\xF3n est\xE1 activa, 1 si est\xE1 desactivada, 2 si\n"
    "station.conf tiene un error y 3 si cada programaci\xF3n rechazar\xED"
    "a la imagen.\n"
    "'report' suma los resultados de cada estaci\xF3n e imagen: los de este equipo y los que\n"
    "systemd-journal-remote ha reunido en /var/log/journal/remote, o los de las carpetas y\n"
    "archivos del diario indicados; CUANDO como en journalctl (2026-12-08, \"2026-12-08 10:00\",\n"
    "today, yesterday, -2h, \"3d ago\").\n");

// udev's IMPORT{program}: the adapter's USB properties come from udev, its links as arguments
// (relative to /dev). Prints ACTUALIZADOR_STATION=1 for an adapter to act on. A configuration
// in error is said in the journal, once a plug, since udev keeps what a program prints to itself.
int Match(const LoadedConfig& loaded, const std::vector<std::string>& links,
          StationSystem& system) {
  if (loaded.state == StationState::kError) {
    system.Notice(cli::Say(
        Translatable("la estaci\xF3n est\xE1 desactivada por un error en station.conf, %s"),
        loaded.error.shown.c_str()));
    return cli::kExitSuccess;
  }
  StationConfig::UsbId id;
  if (loaded.state != StationState::kOn ||
      !ParseUsbId(system.Property("ID_VENDOR_ID") + ":" + system.Property("ID_MODEL_ID"), id)) {
    return cli::kExitSuccess;
  }
  AdapterFacts adapter{id.vendor, id.product, system.Property("ID_SERIAL_SHORT"), {}};
  for (const std::string& link : links) {
    if (link.rfind("serial/by-path/", 0) == 0)
      adapter.byPaths.push_back("/dev/" + link);
  }
  if (StationMatches(loaded.config, adapter))
    system.platform().console().OutputBytes("ACTUALIZADOR_STATION=1\n");
  return cli::kExitSuccess;
}

// The service's run on one adapter: the command line's program with the station's options.
int Run(const LoadedConfig& loaded, const char* device, cli::Platform& platform) {
  cli::Console& console = platform.console();
  if (loaded.state != StationState::kOn) {
    console.Error(loaded.state == StationState::kError
                      ? "actualizador-station: station.conf: " + loaded.error.shown + "\n"
                      : "actualizador-station: " +
                            std::string(Localized("la estaci\xF3n est\xE1 desactivada "
                                                  "(station.conf ausente o vac\xEDo)\n")));
    return cli::kExitUsage;
  }
  const StationConfig& c = loaded.config;
  std::string port = device;
  if (port.find('/') == std::string::npos)
    port = "/dev/" + port;
  std::vector<std::string> args = {"actualizador-cli",
                                   "--port",
                                   port,
                                   "--log",
                                   c.log,
                                   "--journal",
                                   "--wait=" + std::to_string(c.waitSeconds)};
  if (!c.sha256.empty())
    args.insert(args.end(), {"--expect-sha256", c.sha256});
  if (!c.publicKey.empty())
    args.insert(args.end(), {"--public-key", c.publicKey});
  args.insert(args.end(), {"--", c.image});
  console.Error(cli::Say(Translatable("Estaci\xF3n: programando %s con %s\n"), port.c_str(),
                         c.image.c_str()));
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  return cli::RunCli(static_cast<int>(argv.size()) - 1, argv.data(), platform);
}

// `report`: every station's and image's sums, as a table, JSON lines or CSV.
int Report(const std::vector<std::string>& rest, bool json, StationSystem& system) {
  cli::Console& console = system.platform().console();
  ReportSource source;
  bool csv = false;
  const auto readTime = [&](const std::string& value, std::uint64_t& usec) {
    if (ParseJournalTime(value, system.NowUsec(), usec))
      return true;
    console.Error("actualizador-station: " +
                  cli::Say(Translatable("fecha u hora incorrecta: '%s'\n"), value.c_str()));
    return false;
  };
  // The command line's own reading of "--name value" and "--name=value".
  std::vector<char*> argv = {nullptr};
  for (const std::string& arg : rest)
    argv.push_back(const_cast<char*>(arg.c_str()));
  const int argc = static_cast<int>(argv.size());
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[static_cast<std::size_t>(i)];
    bool missing = false;
    const char* value = nullptr;
    if (arg == "--csv") {
      csv = true;
    } else if ((value = cli::OptionValue("--directory", argc, argv.data(), i, missing)) !=
               nullptr) {
      source.directories.emplace_back(value);
    } else if ((value = cli::OptionValue("--file", argc, argv.data(), i, missing)) != nullptr) {
      source.files.emplace_back(value);
    } else if ((value = cli::OptionValue("--since", argc, argv.data(), i, missing)) != nullptr) {
      if (!readTime(value, source.since))
        return cli::kExitUsage;
    } else if (!missing &&
               (value = cli::OptionValue("--until", argc, argv.data(), i, missing)) != nullptr) {
      if (!readTime(value, source.until))
        return cli::kExitUsage;
    } else if (!missing) {
      console.Error(
          "actualizador-station: " +
          cli::Say(Translatable("opci\xF3n incorrecta para report: '%s'\n"), arg.c_str()) +
          Localized(kUsage));
      return cli::kExitUsage;
    }
    if (missing) {
      console.Error("actualizador-station: " +
                    cli::Say(Translatable("falta el valor de %s\n"), arg.c_str()));
      return cli::kExitUsage;
    }
  }
  ReportSums sums;
  std::string error;
  if (!system.ReadRecords(source, sums, error)) {
    console.Error("actualizador-station: " + error + "\n");
    return cli::kExitInternal;
  }
  const std::vector<ReportGroup> groups = sums.Groups();
  if (json)
    console.OutputBytes(ReportJson(groups));
  else if (csv)
    console.OutputBytes(ReportCsv(groups));
  else
    console.Output(ReportTable(groups, [&](std::uint64_t usec) { return system.LocalTime(usec); }));
  return cli::kExitSuccess;
}

}  // namespace

int RunStation(int argc, char** argv, StationSystem& system) {
  cli::Console& console = system.platform().console();
  const char* config = kConfigPath;
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
  const std::string what = command != nullptr ? command : "status";
  if (what == "help") {
    console.Output(Localized(kUsage));
    return cli::kExitSuccess;
  }
  if (what == "report")
    return Report(rest, json, system);
  const LoadedConfig loaded = LoadConfig(config, system);
  if (what == "match")
    return Match(loaded, rest, system);
  if (what == "run" && rest.size() == 1)
    return Run(loaded, rest[0].c_str(), system.platform());
  if (what == "status" && rest.empty())
    return ShowStatus(loaded, config, json, system);
  console.Error("actualizador-station: " + std::string(Localized("orden incorrecta\n")) +
                Localized(kUsage));
  return cli::kExitUsage;
}

}  // namespace updater::station
