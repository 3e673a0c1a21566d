#include <gtest/gtest.h>

#include <cstdlib>

#include <map>
#include <string>
#include <vector>

#include "fakes/fake_cli_platform.h"
#include "fakes/fake_lines.h"
#include "model/localized.h"
#include "support/temp_dir.h"
#include "ui/station/journal_time.h"
#include "ui/station/report.h"
#include "ui/station/station_config.h"
#include "ui/station/station_status.h"
#include "ui/station/station_system.h"

namespace {

using namespace updater::station;

TEST(StationConfig, ReadsTheStationAndNamesTheLineOfAnyMistake) {
  const std::string sha(64, 'A');
  const std::string good = "# station\nimage = /srv/FW.QMZ\n  sha256 = " + sha +
                           "\nadapter = 0403:6001\nadapter=067b:2303\nserial = A5\nserial = B7\n"
                           "by_path = pci-*-usb-0:1:1.0-port0\nwait = 30\n";
  StationConfig config;
  std::string error;
  EXPECT_EQ(ParseStationConfig("", config, error), StationState::kOff);
  EXPECT_EQ(ParseStationConfig("# only comments\n\n   \n", config, error), StationState::kOff);
  ASSERT_EQ(ParseStationConfig(good, config, error), StationState::kOn) << error;
  EXPECT_EQ(config.sha256, std::string(64, 'a'));
  EXPECT_EQ(config.adapters.size(), 2u);
  EXPECT_EQ(config.waitSeconds, 30u);
  EXPECT_EQ(config.log, kDefaultLog);
  EXPECT_EQ(config.serials.size(), 2u);

  const struct {
    std::string text;
    const char* says;
  } bad[] = {
      {"sha256 = " + sha + "\nadapter = 0403:6001\n", "falta la l\xEDnea 'image = RUTA'"},
      {"image = /x\nsha256 = 12ab\nadapter = 0403:6001\n", "l\xEDnea 2: sha256: '12ab'"},
      {"image = /x\n\n# c\nimagen = /y\n", "l\xEDnea 4: clave desconocida 'imagen'"},
      {"image = /x\nsha256 = " + sha + "\nadapter = 0403\n", "l\xEDnea 3: adapter: '0403'"},
      {"image = FW.QMZ\n", "l\xEDnea 1: image: 'FW.QMZ' no es una ruta absoluta"},
      {"image /x\n", "l\xEDnea 1: se esperaba 'clave = valor'"},
      // Two keys joined on one line, as an uncommented example would leave them.
      {"image = /x\nserial = A50285BI   by_path = pci-*\n",
       "l\xEDnea 2: 'serial' con otra clave en la misma l\xEDnea"},
      {"image = /x\n# c\nimage = /y\n", "l\xEDnea 3: 'image' repetida (ya en la l\xEDnea 1)"},
      {"image = /x\nlog = /srv/station.jsonl\n",
       "l\xEDnea 2: log: '/srv/station.jsonl' no est\xE1"},
      {"log = /var/lib/actualizador/../x\n", "l\xEDnea 1: log:"},
  };
  for (const auto& b : bad) {
    EXPECT_EQ(ParseStationConfig(b.text, config, error), StationState::kError) << b.text;
    EXPECT_EQ(error.rfind(b.says, 0), 0u) << error;
  }

  ASSERT_EQ(ParseStationConfig(good, config, error), StationState::kOn);
  AdapterFacts adapter{
      0x0403, 0x6001, "A5", {"/dev/serial/by-path/pci-0000:00:04.0-usb-0:1:1.0-port0"}};
  EXPECT_TRUE(StationMatches(config, adapter));
  AdapterFacts otherSocket = adapter;
  otherSocket.byPaths = {"/dev/serial/by-path/pci-0000:00:04.0-usb-0:2:1.0-port0"};
  AdapterFacts otherSerial = adapter;
  otherSerial.serial = "C9";
  AdapterFacts otherId = adapter;
  otherId.product = 0x6010;
  EXPECT_FALSE(StationMatches(config, otherSocket));
  EXPECT_FALSE(StationMatches(config, otherSerial));
  EXPECT_FALSE(StationMatches(config, otherId));
}

// The station's machine: a configuration, ports, the journal's last results and the units'
// states as each test sets them; the time is microseconds as a number.
class FakeStation final : public StationSystem, public fakes::FakeLines {
 public:
  updater::cli::Platform& platform() override { return platform_; }
  bool ReadConfig(const char*, ConfigFile& file) override {
    file.text = config;
    file.changedUsec = configChanged;
    file.othersMayWrite = othersMayWrite;
    return present;
  }
  std::string Property(const char* name) override { return properties[name]; }
  std::vector<ConnectedPort> SerialPorts() override { return ports; }
  JournalView LastResults() override { return journal; }
  UnitStatus Unit(const std::string& name) override { return units[name]; }
  void Notice(const std::string& text) override { notices.push_back(text); }
  std::string LocalTime(std::uint64_t usec) override { return "t" + std::to_string(usec); }
  std::uint64_t NowUsec() override { return now; }
  bool ReadRecords(const ReportSource& source, ReportSums& sums, std::string&) override {
    for (const ReportRecord& r : records) {
      if (r.usec >= source.since && r.usec <= source.until)
        sums.Add(r);
    }
    return true;
  }

  // A station for an image of `length` bytes with the fake platform's hash, or another.
  void Configure(std::size_t length, bool rightHash = true) {
    const std::string image = support::WriteImage(dir.File("FW" + std::to_string(length) + ".QMZ"),
                                                  std::vector<std::uint8_t>(length, 7));
    config = "image = " + image + "\nsha256 = " + std::string(64, rightHash ? 'a' : 'c') +
             "\nadapter = 0403:6001\n";
    for (std::size_t i = 0; i < 64; i += 2)
      config[config.find("sha256 = ") + 9 + i + 1] = 'b';
    present = true;
  }
  ConnectedPort& Plug(const char* name, const char* serial, std::uint64_t when) {
    ConnectedPort p;
    p.port.vendorId = 0x0403;
    p.port.productId = 0x6001;
    std::snprintf(p.port.serialNumber, sizeof p.port.serialNumber, "%s", serial);
    p.device = std::string("/dev/") + name;
    p.byPath = std::string("/dev/serial/by-path/pci-usb-0:1-") + name;
    p.kernelName = name;
    p.pluggedUsec = when;
    ports.push_back(p);
    return ports.back();
  }
  int Status(bool json = false) {
    platform_.out.output.clear();
    return ShowStatus(LoadConfig(kConfigPath, *this), kConfigPath, json, *this);
  }
  const std::string& Output() const { return platform_.out.output; }

  support::TempDir dir;
  std::string config;
  bool present = false;
  std::uint64_t configChanged = 0;
  std::string othersMayWrite;
  std::map<std::string, std::string> properties;
  std::vector<ConnectedPort> ports;
  JournalView journal{true, {}};
  std::map<std::string, UnitStatus> units;
  std::vector<std::string> notices;
  std::vector<ReportRecord> records;
  std::uint64_t now = 0;

 private:
  fakes::FakePlatform platform_{clock, driver};
};

TEST(StationStatus, AnImageEveryRunWouldRefuseKeepsTheStationOff) {
  FakeStation station;
  station.Configure(40000);
  EXPECT_EQ(station.Status(), kStatusImageRefused);
  EXPECT_EQ(station.Output().find("Estaci\xF3n: activa"), std::string::npos) << station.Output();
  EXPECT_NE(station.Output().find("RECHAZADA: imagen demasiado larga para el equipo: 40000 bytes, "
                                  "como m\xE1ximo 31743"),
            std::string::npos);
  EXPECT_EQ(station.Status(true), kStatusImageRefused);
  EXPECT_NE(station.Output().find("\"state\":\"refused\""), std::string::npos);

  station.Configure(300, false);
  EXPECT_EQ(station.Status(), kStatusImageRefused);
  EXPECT_NE(station.Output().find("otro SHA-256"), std::string::npos);
  station.Configure(0);
  EXPECT_EQ(station.Status(), kStatusImageRefused);
  station.Configure(300);
  EXPECT_EQ(station.Status(), kStatusActive);
  EXPECT_NE(station.Output().find("Estaci\xF3n: activa"), std::string::npos);
  EXPECT_NE(station.Output().find("(coincide, 300 bytes)"), std::string::npos);

  // A signing key in place of the hash: any image it signed.
  station.config = station.config.substr(0, station.config.find("sha256")) +
                   "public_key = /etc/actualizador/keys/fw.pub\nadapter = 0403:6001\n";
  EXPECT_EQ(station.Status(), kStatusActive) << station.Output();
  EXPECT_NE(
      station.Output().find("  Clave:        /etc/actualizador/keys/fw.pub (9A73CC8229D06A63): "
                            "firma correcta, FW 1.2 \xF1\n"),
      std::string::npos)
      << station.Output();

  // A configuration another user may change keeps the station off, whatever it says.
  station.othersMayWrite = "sus permisos son 0666";
  EXPECT_EQ(station.Status(), kStatusConfigError);
  EXPECT_NE(station.Output().find("otro usuario que root puede cambiarlo (sus permisos son 0666)"),
            std::string::npos);
  station.othersMayWrite.clear();
  station.config = "image = /x\nimage = /y\n";
  EXPECT_EQ(station.Status(), kStatusConfigError);
  station.present = false;
  EXPECT_EQ(station.Status(), kStatusOff);
}

TEST(StationStatus, ShowsOnlyWhatTheAdapterPluggedInNowDid) {
  FakeStation station;
  station.Configure(300);
  station.configChanged = 100;
  const ConnectedPort& fresh = station.Plug("ttyUSB1", "NEW1", 500);
  // The previous adapter on the same port failed before this one was plugged in.
  station.journal.last[fresh.byPath] = LastResult{"failed", 8, "fallo", "1.0", "300", "OLD0", 400};
  EXPECT_EQ(station.Status(), kStatusActive);
  EXPECT_EQ(station.Output().find("FALLO"), std::string::npos) << station.Output();
  EXPECT_NE(station.Output().find("\xFAltimo: ninguno desde que se conect\xF3"), std::string::npos);
  EXPECT_NE(station.Output().find("ahora: desconocido"), std::string::npos);

  station.units["actualizador-station@ttyUSB1.service"] = {UnitStatus::State::kRunning, 0};
  station.journal.last[fresh.byPath] = LastResult{"ok", 0, "", "3.5", "300", "NEW1", 600};
  station.Status();
  EXPECT_NE(station.Output().find("ahora: programando"), std::string::npos);
  EXPECT_NE(station.Output().find("\xFAltimo: correcto, t600, 300 bytes en 3.5 s"),
            std::string::npos);

  // A failed service with no record gives its exit code in the program's words; one that failed
  // before the plug was another adapter's.
  station.units["actualizador-station@ttyUSB1.service"] = {UnitStatus::State::kFailed, 3, 550};
  station.journal.last.clear();
  station.Status();
  EXPECT_NE(station.Output().find("FALLO (c\xF3"
                                  "digo 3: imagen ilegible"),
            std::string::npos)
      << station.Output();
  station.units["actualizador-station@ttyUSB1.service"].changedUsec = 450;
  station.Status();
  EXPECT_EQ(station.Output().find("FALLO"), std::string::npos);

  // Plugged in before the configuration was written: nothing will run until it is plugged again.
  station.units.clear();
  station.configChanged = 700;
  station.Status(true);
  EXPECT_NE(station.Output().find("\"vendor_id\":\"0403\",\"product_id\":\"6001\""),
            std::string::npos);
  EXPECT_NE(station.Output().find("\"plugged_before_config\":true"), std::string::npos);
  station.Status();
  EXPECT_NE(station.Output().find("sin programar: conectado antes"), std::string::npos);

  station.journal.readable = false;
  station.Status();
  EXPECT_NE(station.Output().find("\xFAltimo: desconocido (sin permiso"), std::string::npos);
  EXPECT_EQ(station.Output().find("ninguno"), std::string::npos);
}

TEST(StationMatch, AnswersForAConfiguredAdapterAndSaysOnceWhyABrokenStationIsOff) {
  FakeStation station;
  station.Configure(300);
  station.properties = {{"ID_VENDOR_ID", "0403"}, {"ID_MODEL_ID", "6001"}};
  char program[] = "actualizador-station";
  char match[] = "match";
  char link[] = "serial/by-path/pci-usb-0:1";
  char* argv[] = {program, match, link, nullptr};
  EXPECT_EQ(RunStation(3, argv, station), 0);
  EXPECT_EQ(station.Output(), "ACTUALIZADOR_STATION=1\n");
  station.properties["ID_MODEL_ID"] = "6010";
  station.config += "sha256 = " + std::string(64, 'a') + "\n";
  EXPECT_EQ(RunStation(3, argv, station), 0);
  EXPECT_EQ(station.Output(), "ACTUALIZADOR_STATION=1\n");
  ASSERT_EQ(station.notices.size(), 1u);
  EXPECT_NE(station.notices[0].find("l\xEDnea 4: 'sha256' repetida"), std::string::npos);
}

constexpr char kHashA[] = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
constexpr char kHashB[] = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";

TEST(StationReport, SumsEachStationAndImageAndCountsWhatItCannotRead) {
  ReportSums sums;
  const std::string huge(100000, 'x');  // a hostile station's error text, no space in it
  const ReportRecord records[] = {
      {"st1", kHashA, "FW1.QMZ", "ok", "0", "68.800", "", 3000000},
      {"st1", kHashA, "FW1.QMZ", "ok", "0", "70", "", 1000000},
      {"st1", kHashA, "FW1b.QMZ", "ok", "0", "69.9", "", 8500000},  // the newest name wins
      {"st1", kHashA, "FW1.QMZ", "ok", "0", "1.5", "", 4000000},
      {"st1", kHashA, "FW1.QMZ", "failed", "8", "12.000", "fallo del protocolo", 2000000},
      {"st1", kHashA, "FW1.QMZ", "failed", "8", "3.000", "otro", 6000000},
      {"st1", kHashA, "FW1.QMZ", "failed", "8", "3.000", "fallo del protocolo", 7000000},
      {"st1", kHashA, "FW1.QMZ", "failed", "4", "30.000", huge, 8000000},
      {"st2", kHashB, "FW2.QMZ", "ok", "0", "10.000", "", 9000000},
      // Unreadable: a field missing, a bad hash, result and code at odds, bad seconds, no time.
      {"st2", "", "FW2.QMZ", "ok", "0", "10.000", "", 9000000},
      {"st2", "12ab", "FW2.QMZ", "ok", "0", "10.000", "", 9000000},
      {"st2", kHashB, "FW2.QMZ", "ok", "3", "10.000", "", 9000000},
      {"st2", kHashB, "FW2.QMZ", "ok", "0", "1e9", "", 9000000},
      {"st2", kHashB, "FW2.QMZ", "failed", "999", "1", "", 9000000},
      {"st2", kHashB, "FW2.QMZ", "ok", "0", "10.000", "", 0},
      {"", kHashB, "FW2.QMZ", "ok", "0", "10.000", "", 9000000},
  };
  for (const ReportRecord& r : records)
    sums.Add(r);
  const std::vector<ReportGroup> groups = sums.Groups();
  ASSERT_EQ(groups.size(), 4u);  // "" unreadable, st1/A, st2 unreadable, st2/B
  const ReportGroup& a = groups[1];
  EXPECT_EQ(a.station, "st1");
  EXPECT_EQ(a.image, "FW1b.QMZ");
  EXPECT_EQ(a.ok, 4u);
  EXPECT_EQ(a.failed, 4u);
  EXPECT_EQ(a.medianMillis, 69350u);  // of 1.5, 68.8, 69.9 and 70
  EXPECT_EQ(a.first, 1000000u);
  EXPECT_EQ(a.last, 8500000u);
  EXPECT_EQ(a.failures, (std::map<int, std::uint32_t>{{4, 1}, {8, 3}}));
  EXPECT_EQ(a.topError.at(8), "fallo del protocolo");
  EXPECT_EQ(a.topError.at(4).size(), ReportSums::kMaxText);
  EXPECT_EQ(groups[0].unreadable, 1u);
  EXPECT_EQ(groups[2].unreadable, 6u);
  EXPECT_EQ(groups[3].ok, 1u);

  const std::string json = ReportJson(groups);
  EXPECT_NE(
      json.find("{\"station\":\"st1\",\"image\":\"FW1b.QMZ\",\"sha256\":\"" + std::string(kHashA) +
                "\",\"ok\":4,\"failed\":4,\"unreadable\":0,\"yield\":0.5000,"
                "\"median_seconds\":69.350,\"first\":\"1970-01-01T00:00:01Z\","
                "\"last\":\"1970-01-01T00:00:08Z\",\"failures\":{\"4\":1,\"8\":3},"
                "\"top_errors\":{\"4\":\"xxx"),
      std::string::npos)
      << json;
  const std::string csv = ReportCsv(groups);
  EXPECT_NE(csv.find("\"st1\",\"FW1b.QMZ\",\"" + std::string(kHashA) +
                     "\",4,4,0,0.5000,69.350,\"1970-01-01T00:00:01Z\",\"1970-01-01T00:00:08Z\","
                     "\"4:1 8:3\",\"4: xxx"),
            std::string::npos)
      << csv;
  const std::string table = ReportTable(groups, [](std::uint64_t) { return std::string("t"); });
  EXPECT_NE(table.find("4       4       50,0 %   69,4 s  t  t\n"), std::string::npos) << table;
  EXPECT_NE(table.find("fallos con c\xF3"
                       "digo 8: 3, sobre todo: fallo del protocolo"),
            std::string::npos);
  EXPECT_NE(table.find("Registros ilegibles (no contados): 7"), std::string::npos);
}

TEST(StationReport, KeepsARecordsTextAsTextInEveryForm) {
  ReportSums sums;
  sums.Add({"=cmd|' /C calc'!A0", kHashA, "\x1b[2J\"x\",\n.QMZ", "failed", "7", "1", "<b>eco</b>",
            1000000});
  const std::vector<ReportGroup> groups = sums.Groups();
  EXPECT_NE(ReportCsv(groups).find("\"'=cmd|' /C calc'!A0\",\"\x1b[2J\"\"x\"\",\n.QMZ\""),
            std::string::npos)
      << ReportCsv(groups);
  EXPECT_NE(ReportJson(groups).find("\"image\":\"\\u001B[2J\\\"x\\\",\\n.QMZ\""),
            std::string::npos);
  const std::string table = ReportTable(groups, [](std::uint64_t) { return std::string(); });
  EXPECT_EQ(table.find('\x1b'), std::string::npos);
  EXPECT_NE(table.find("?[2J\"x\",?.QMZ"), std::string::npos) << table;
}

TEST(StationReport, ReadsJournalctlsTimesAndItsOwnOptions) {
  setenv("TZ", "UTC", 1);
  tzset();
  const std::uint64_t now = 1765188672000000;  // 2025-12-08 10:11:12 UTC
  std::uint64_t usec = 0;
  const struct {
    const char* text;
    std::uint64_t expected;
  } good[] = {{"now", now},
              {"today", 1765152000000000},
              {"yesterday", 1765065600000000},
              {"-2h", now - 7200000000},
              {"3d ago", now - 3 * 86400000000},
              {"+30min", now + 1800000000},
              {"@1765188672", now},
              {"2025-12-08", 1765152000000000},
              {"2025-12-08 10:11", now - 12000000},
              {"2025-12-08 10:11:12 UTC", now},
              {"10:11:12", now}};
  for (const auto& g : good) {
    EXPECT_TRUE(ParseJournalTime(g.text, now, usec)) << g.text;
    EXPECT_EQ(usec, g.expected) << g.text;
  }
  for (const char* bad : {"", "soon", "2025-13-01", "25:00", "-2 fortnights", "10:11:12x", "@"})
    EXPECT_FALSE(ParseJournalTime(bad, now, usec)) << bad;

  FakeStation station;
  station.now = now;
  station.records = {{"st1", kHashA, "FW.QMZ", "ok", "0", "1", "", now - 3600000000},
                     {"st1", kHashA, "FW.QMZ", "ok", "0", "1", "", now - 60000000}};
  char program[] = "actualizador-station";
  std::vector<std::string> args = {"report", "--json", "--since=-30min"};
  std::vector<char*> argv = {program};
  for (std::string& a : args)
    argv.push_back(a.data());
  EXPECT_EQ(RunStation(static_cast<int>(argv.size()), argv.data(), station), 0);
  EXPECT_NE(station.Output().find("\"ok\":1,"), std::string::npos) << station.Output();
  argv.back() = args.back().data();
  args.back() = "--until";
  argv.back() = args.back().data();
  EXPECT_EQ(RunStation(static_cast<int>(argv.size()), argv.data(), station), 2);
}

// The language the station speaks from now on, as gettext's variables choose it, with the build's
// catalogs.
void Speak(const char* lang) {
  for (const char* variable : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
    unsetenv(variable);
  setenv("LANG", lang, 1);
  setenv("ACTUALIZADOR_LOCALEDIR", UPDATER_LOCALE_FOLDER, 1);
  updater::UseSystemLanguage();
}

// In English the report's table and the status speak English, with a decimal point, and show the
// records' Spanish failures in English; the JSON lines and the CSV are the same bytes as in
// Spanish.
TEST(StationLanguage, EnglishWordsForAPersonTheSameJsonForAProgram) {
  const std::string hash(64, 'a');
  ReportSums sums;
  sums.Add({"st1", hash, "/srv/FW1.QMZ", "ok", "0", "68.805", "", 1000000});
  sums.Add({"st1", hash, "/srv/FW1.QMZ", "failed", "3", "0.2",
            "imagen demasiado larga para el equipo: 40000 bytes, como m\xC3\xA1ximo 31743",
            2000000});
  sums.Add(
      {"st1", hash, "/srv/FW1.QMZ", "failed", "7", "12.5", "el eco difiere de la imagen", 3000000});
  const std::vector<ReportGroup> groups = sums.Groups();
  const auto table = [&] { return ReportTable(groups, [](std::uint64_t) { return "t"; }); };
  FakeStation station;
  station.Configure(40000);

  Speak("C");
  const std::string spanishTable = table();
  const std::string json = ReportJson(groups);
  const std::string csv = ReportCsv(groups);
  EXPECT_NE(spanishTable.find("33,3 %   68,8 s"), std::string::npos) << spanishTable;
  EXPECT_EQ(station.Status(true), kStatusImageRefused);
  const std::string statusJson = station.Output();

  Speak("en_US.UTF-8");
  const std::string english = table();
  EXPECT_NE(english.find("Station    Image    SHA-256       Succeeded  Failed    Yield   Median  "
                         "First                Last\n"),
            std::string::npos)
      << english;
  EXPECT_NE(english.find("33.3 %   68.8 s"), std::string::npos) << english;
  EXPECT_NE(english.find("    failures with code 3: 1, mostly: image too long for the device: "
                         "40000 bytes, at most 31743\n"),
            std::string::npos)
      << english;
  EXPECT_NE(english.find("    failures with code 7: 1, mostly: the echo differs from the image\n"),
            std::string::npos);
  EXPECT_EQ(ReportJson(groups), json);
  EXPECT_EQ(ReportCsv(groups), csv);

  EXPECT_EQ(station.Status(), kStatusImageRefused);
  EXPECT_NE(station.Output().find("Station: off, every run would refuse the image\n  Image:    "),
            std::string::npos)
      << station.Output();
  EXPECT_NE(station.Output().find("(REFUSED: image too long for the device: 40000 bytes, at most "
                                  "31743)\n  SHA-256:  "),
            std::string::npos);
  EXPECT_EQ(station.Status(true), kStatusImageRefused);
  EXPECT_EQ(station.Output(), statusJson);
  Speak("C");  // for the cases after this one when the suite runs in one process
}

}  // namespace
