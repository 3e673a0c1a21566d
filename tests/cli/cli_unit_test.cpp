#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fakes/fake_cli_platform.h"
#include "fakes/fake_lines.h"
#include "model/resource.h"
#include "serial/com_name.h"
#include "support/temp_dir.h"
#include "ui/cli/exit_status.h"
#include "ui/cli/json_writer.h"
#include "ui/cli/options.h"
#include "ui/cli/platform.h"
#include "ui/cli/port_name.h"
#include "ui/cli/stoppable_clock.h"
#include "ui/cli/terminal_displays.h"

namespace {

using namespace updater::cli;
using fakes::FakeConsole;
using fakes::FakePlatform;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
    ++n;
  return n;
}

TEST(CliOptions, ReadsEveryOptionAndRefusesBadCommandLines) {
  const auto parse = [](std::vector<const char*> args, Options& options) {
    args.insert(args.begin(), "actualizador-cli");
    char error[256];
    return ParseCommandLine(static_cast<int>(args.size()), const_cast<char**>(args.data()), options,
                            error, sizeof error);
  };
  Options o;
  EXPECT_EQ(
      parse({"--port", "COM3", "-q", "--json", "--log=r.jsonl", "--wait=30", "--loop", "FW.QMZ"},
            o),
      Command::kRun);
  EXPECT_STREQ(o.port, "COM3");
  EXPECT_STREQ(o.log, "r.jsonl");
  EXPECT_STREQ(o.image, "FW.QMZ");
  EXPECT_TRUE(o.quiet && o.json && o.wait && o.loop);
  EXPECT_EQ(o.waitSeconds, 30u);
  EXPECT_EQ(parse({"--wait", "--", "-x.QMZ"}, o), Command::kRun);
  EXPECT_TRUE(o.wait);
  EXPECT_EQ(o.waitSeconds, 0u);
  EXPECT_STREQ(o.image, "-x.QMZ");
  EXPECT_EQ(parse({"--list-ports", "--json"}, o), Command::kListPorts);
  EXPECT_EQ(parse({"FW.QMZ", "--help"}, o), Command::kHelp);
  EXPECT_EQ(parse({"--version"}, o), Command::kVersion);
  for (const auto& bad : std::vector<std::vector<const char*>>{{},
                                                               {"a.QMZ", "b.QMZ"},
                                                               {"--bogus", "a.QMZ"},
                                                               {"--port"},
                                                               {"--port=", "a.QMZ"},
                                                               {"--wait=1x", "a.QMZ"},
                                                               {"--wait=999999999", "a.QMZ"},
                                                               {"--list-ports", "a.QMZ"}}) {
    EXPECT_EQ(parse(bad, o), Command::kUsageError) << (bad.empty() ? "(none)" : bad[0]);
  }
  // A spaced --wait takes a number after it; with nothing left for the image it says so.
  EXPECT_EQ(parse({"--wait", "30", "FW.QMZ"}, o), Command::kRun);
  EXPECT_EQ(o.waitSeconds, 30u);
  EXPECT_STREQ(o.image, "FW.QMZ");
  const std::string hex(64, 'A');
  EXPECT_EQ(parse({"--expect-sha256", hex.c_str(), "FW.QMZ"}, o), Command::kRun);
  EXPECT_EQ(std::string(o.expectSha256), std::string(64, 'a'));
  char error[256];
  std::vector<const char*> spaced{"actualizador-cli", "--wait", "30"};
  EXPECT_EQ(ParseCommandLine(3, const_cast<char**>(spaced.data()), o, error, sizeof error),
            Command::kUsageError);
  EXPECT_NE(std::string(error).find("--wait=30"), std::string::npos) << error;
  const std::string tooLong = hex + "0";  // lives through the loop, unlike a temporary
  for (const auto& bad :
       std::vector<std::vector<const char*>>{{"--list-ports", "--port", "COM1"},
                                             {"--expect-sha256", "abc", "a.QMZ"},
                                             {"--expect-sha256", tooLong.c_str(), "a.QMZ"}}) {
    EXPECT_EQ(parse(bad, o), Command::kUsageError) << bad[1];
  }
  EXPECT_EQ(ComNumber("com12", 255), 12);
  EXPECT_EQ(ComNumber("COM0", 255), 0);
  EXPECT_EQ(ComNumber("COM256", 255), 0);
  EXPECT_EQ(ComNumber("COM3x", 255), 0);
}

TEST(CliJson, EscapesConvertsAndStaysWholeWhenTooLong) {
  JsonLine json;
  json.Text("text", "tama\xF1o \"a\"\\\x01\x80");
  json.Utf8("path", "/tmp/\xC3\xA1\xFF");
  json.Milli("seconds", 68123);
  json.Null("port");
  EXPECT_EQ(json.Finish(),
            "{\"text\":\"tama\xC3\xB1o \\\"a\\\"\\\\\\u0001\xE2\x82\xAC\","
            "\"path\":\"/tmp/\xC3\xA1\xEF\xBF\xBD\",\"seconds\":68.123,\"port\":null}\n");

  JsonLine full;
  full.Utf8("event", "result");
  const std::string huge(JsonLine::kCapacity, '"');
  full.Text("image", huge);  // cut inside the string, never inside an escape
  full.Boolean("ok", true);  // no room left: left out whole
  const std::string line(full.Finish());
  ASSERT_LE(line.size(), JsonLine::kCapacity);
  EXPECT_EQ(line.substr(line.size() - 3), "\"}\n");
  EXPECT_EQ(line.find("\"ok\""), std::string::npos);
  const std::size_t open = line.find("\"image\":\"") + 9;
  const std::string cut = line.substr(open, line.size() - 3 - open);
  ASSERT_EQ(cut.size() % 2, 0u);
  for (std::size_t i = 0; i < cut.size(); i += 2)
    ASSERT_EQ(cut.substr(i, 2), "\\\"") << i;
}

TEST(CliDisplays, ProgressIsPlainLinesOffATerminalAndOneRedrawnLineOnIt) {
  fakes::FakeClock clock;
  FakeConsole plain;
  TerminalDisplays lines(plain, clock, false, false);
  lines.SetNumber(IDC_SIZE, 1000);
  for (int sent = 128; sent < 1000; sent += 128)
    lines.SetText(IDC_SENT, std::to_string(sent));
  lines.SetText(IDC_SENT, "1000");
  lines.SetText(IDC_INFO, "Descarga correcta\n");
  EXPECT_EQ(plain.error.find('\r'), std::string::npos);
  EXPECT_EQ(Count(plain.error, "Enviado "), 8);  // a line a tenth passed: 128 ... 896, 1000
  EXPECT_NE(plain.error.find("Enviado 512 de 1000 bytes (51 %)\n"), std::string::npos);
  EXPECT_NE(plain.error.find("Enviado 1000 de 1000 bytes (100 %)\nDescarga correcta\n"),
            std::string::npos);

  FakeConsole tty;
  tty.terminal = true;
  TerminalDisplays bar(tty, clock, false, false);
  bar.SetNumber(IDC_SIZE, 1000);
  bar.SetText(IDC_SENT, "128");
  clock.Advance(1000);
  bar.SetText(IDC_SENT, "512");
  bar.SetText(IDC_INFO, "Descarga correcta\n");
  EXPECT_EQ(Count(tty.error, "\r["), 2);
  EXPECT_NE(tty.error.find("384 B/s  quedan 0:02"), std::string::npos);
  EXPECT_NE(tty.error.find("\nDescarga correcta\n"), std::string::npos);  // the bar ends first

  // On a narrow terminal the line never reaches the last column, however it is cut.
  for (const int columns : {60, 40, 20, 8}) {
    FakeConsole narrow;
    narrow.terminal = true;
    narrow.columns = columns;
    TerminalDisplays fitted(narrow, clock, false, false);
    fitted.SetNumber(IDC_SIZE, 31743);
    fitted.SetText(IDC_SENT, "128");
    clock.Advance(1000);
    fitted.SetText(IDC_SENT, "31743");
    for (std::size_t at = 0; (at = narrow.error.find('\r', at)) != std::string::npos; ++at) {
      const std::size_t end = narrow.error.find('\r', at + 1);
      const std::string drawn = narrow.error.substr(at + 1, end - at - 1);
      EXPECT_LT(drawn.size(), static_cast<std::size_t>(columns)) << drawn;
      EXPECT_NE(drawn.find('%'), std::string::npos) << drawn;  // the percentage stays
    }
  }

  FakeConsole quiet;
  TerminalDisplays none(quiet, clock, true, true);
  none.SetNumber(IDC_SIZE, 1000);
  none.SetText(IDC_SENT, "128");
  none.ShowMessageBox("Error de comunicaci\xF3n");
  EXPECT_EQ(quiet.error, "");
  EXPECT_EQ(quiet.output,
            "{\"event\":\"progress\",\"sent\":128,\"total\":1000}\n"
            "{\"event\":\"error\",\"text\":\"Error de comunicaci\xC3\xB3n\"}\n");
}

TEST(CliDisplays, ARepeatedRoundShowsOnlyWhatChanged) {
  fakes::FakeClock clock;
  FakeConsole console;
  TerminalDisplays displays(console, clock, false, false);
  displays.BeginRound(false);
  displays.SetText(IDC_INFO, "Probando COM1 ...\n");
  displays.SetText(IDC_INFO, "No abierto COM1\n");
  displays.BeginRound(true);
  displays.SetText(IDC_INFO, "Probando COM1 ...\n");
  displays.SetText(IDC_INFO, "COM1 abierto\n");
  EXPECT_EQ(console.error, "Probando COM1 ...\nNo abierto COM1\nCOM1 abierto\n");
}

TEST(CliClock, APauseEndsWithinASliceOfAStop) {
  fakes::FakeClock base;
  std::atomic<bool> stop{false};
  StoppableClock clock(base, stop);
  clock.Sleep(1000);
  EXPECT_EQ(base.total_slept(), 1000u);
  base.SetPumpHook(
      [](void* flag) {
        static_cast<std::atomic<bool>*>(flag)->store(true);
        return updater::kPumpWhenever;
      },
      &stop);
  clock.Pump();
  EXPECT_TRUE(clock.Interrupted());
  clock.Sleep(1000);
  EXPECT_EQ(base.total_slept(), 1000u);
}

// Whole invocations over four fake ports: COM1 to COM4 absent unless a test attaches a device.
struct Harness : fakes::FakeLines {
  static std::string Image(std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i)
      bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return support::WriteImage(
        support::ProcessTempDir().File("cli_unit_" + std::to_string(length) + ".QMZ"), bytes);
  }
  int Invoke(std::vector<std::string> args) {
    args.insert(args.begin(), "actualizador-cli");
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    return RunCli(static_cast<int>(argv.size()), argv.data(), platform);
  }
  std::string Result() const {
    const auto lines = Lines(platform.out.output);
    return lines.empty() ? std::string() : lines.back();
  }

  FakePlatform platform{clock, driver};
};

class RunCliTest : public ::testing::Test, public Harness {};

TEST_F(RunCliTest, AWholeRunReportsAndRecordsItsResult) {
  auto& device = AttachDevice(2);
  EXPECT_EQ(Invoke({"--json", "--log", "r.jsonl", Image(300)}), kExitSuccess);
  EXPECT_TRUE(device.model().complete());
  EXPECT_EQ(platform.driver.open_port_count(), 0);
  for (const auto& line : Lines(platform.out.output))
    EXPECT_EQ(line.rfind("{\"event\":\"", 0), 0u) << line;
  const std::string result = Result();
  EXPECT_EQ(result.rfind("{\"event\":\"result\",\"ok\":true,\"exit_code\":0,\"port\":\"COM3\"", 0),
            0u)
      << result;
  EXPECT_NE(result.find("\"bytes\":300,\"sent\":300,\"sha256\":\"abababab"), std::string::npos);
  EXPECT_NE(result.find("\"error\":null"), std::string::npos);
  ASSERT_EQ(platform.records.size(), 1u);
  EXPECT_EQ(platform.records[0], result + "\n");
  EXPECT_NE(platform.out.error.find("Conectado a equipo en COM3\nInicio descarga\n"),
            std::string::npos);
}

TEST_F(RunCliTest, EachFailureHasItsExitStatus) {
  struct Case {
    const char* name;
    sim::DeviceFaults faults;
    int status;
  };
  sim::DeviceFaults reject, echo, ack, silent;
  reject.rejectLength = true;
  echo.wrongEchoOffset = 200;
  ack.noBlockAck = true;
  silent.silent = true;
  for (const Case& c :
       {Case{"reject", reject, kExitLengthRejected}, Case{"echo", echo, kExitEchoMismatch},
        Case{"ack", ack, kExitProtocol}, Case{"silent", silent, kExitNoDevice}}) {
    auto run = std::make_unique<Harness>();
    run->AttachDevice(1, c.faults);
    EXPECT_EQ(run->Invoke({"--json", Image(300)}), c.status) << c.name;
    EXPECT_NE(run->Result().find("\"exit_code\":" + std::to_string(c.status)), std::string::npos);
    EXPECT_EQ(run->platform.driver.open_port_count(), 0) << c.name;
  }
}

TEST_F(RunCliTest, ANamedPortIsTheOnlyOneProbedAndSaysWhyItWouldNotOpen) {
  AttachDevice(0);
  platform.driver.port(2).present = true;
  platform.driver.port(2).busy = true;
  EXPECT_EQ(Invoke({"--port", "com3", Image(300)}), kExitPortBlocked);
  EXPECT_EQ(platform.driver.port(0).opens, 0);
  EXPECT_NE(platform.out.error.find("ocupado por otro programa (c\xF3"
                                    "digo 5)"),
            std::string::npos);

  platform.driver.port(2).busy = false;
  platform.driver.port(2).forbidden = true;
  EXPECT_EQ(Invoke({"--port=COM3", Image(300)}), kExitPortBlocked);
  EXPECT_EQ(Invoke({"--port=COM4", Image(300)}), kExitNoDevice);
  EXPECT_EQ(Invoke({"--port=/dev/x", Image(300)}), kExitUsage);
  EXPECT_EQ(platform.driver.port(0).opens, 0);
}

TEST_F(RunCliTest, ABadImageEndsBeforeAnyPortIsTouched) {
  AttachDevice(0);
  EXPECT_EQ(Invoke({"--json", Image(0)}), kExitImage);
  EXPECT_EQ(Invoke({Image(31744)}), kExitImage);
  EXPECT_EQ(Invoke({support::ProcessTempDir().File("missing.QMZ")}), kExitImage);
  EXPECT_EQ(Invoke({"--log", "unwritable", Image(300)}), kExitUsage);
  EXPECT_EQ(Invoke({"--wait=x", Image(300)}), kExitUsage);
  EXPECT_EQ(Invoke({"--public-key", "k.pub", "--signature", "bad.minisig", Image(300)}),
            kExitImage);
  EXPECT_EQ(Invoke({"--signature", "x.minisig", Image(300)}), kExitUsage);
  EXPECT_EQ(platform.driver.port(0).opens, 0);
  EXPECT_NE(Lines(platform.out.output)[0].find("\"exit_code\":3"), std::string::npos);
  EXPECT_NE(platform.out.error.find("no tiene una firma v\xE1lida de la clave 9A73CC8229D06A63: "
                                    "la imagen no es la firmada (c\xF3"
                                    "digo 3)"),
            std::string::npos);
}

TEST_F(RunCliTest, AGoodSignatureIsShownAndRecorded) {
  AttachDevice(0);
  EXPECT_EQ(Invoke({"--json", "--public-key", "k.pub", Image(300)}), kExitSuccess);
  EXPECT_NE(platform.out.error.find("Firma correcta de la clave 9A73CC8229D06A63: FW 1.2 \xF1\n"),
            std::string::npos);
  EXPECT_NE(
      Result().find("\"key_id\":\"9A73CC8229D06A63\",\"trusted_comment\":\"FW 1.2 \xC3\xB1\""),
      std::string::npos)
      << Result();
}

TEST_F(RunCliTest, AnImageErrorNamesTheFileItsReasonAndTheNamedPort) {
  AttachDevice(2);
  const std::string missing = support::ProcessTempDir().File("missing.QMZ");
  EXPECT_EQ(Invoke({"--json", "--port", "COM3", missing}), kExitImage);
  EXPECT_NE(platform.out.error.find("no se puede leer la imagen '" + missing +
                                    "': no existe (c\xF3"
                                    "digo 3)"),
            std::string::npos)
      << platform.out.error;
  EXPECT_NE(Result().find("\"port\":\"COM3\""), std::string::npos);
  EXPECT_EQ(Invoke({"--log", "unwritable", Image(300)}), kExitUsage);
  EXPECT_NE(platform.out.error.find("la carpeta no existe (c\xF3"
                                    "digo 2)"),
            std::string::npos);

  // A hash other than the expected one ends the run before any port is opened.
  platform.out.error.clear();
  EXPECT_EQ(Invoke({"--journal", "--expect-sha256", std::string(64, '0'), Image(300)}), kExitImage);
  EXPECT_EQ(platform.driver.port(2).opens, 0);
  EXPECT_NE(platform.out.error.find("se esperaba 0000"), std::string::npos);
  ASSERT_EQ(platform.journal.size(), 1u);
  EXPECT_EQ(platform.journal[0].rfind("-: fallo (c\xC3\xB3"
                                      "digo 3)",
                                      0),
            0u)
      << platform.journal[0];

  std::string fakeDigest;
  for (int i = 0; i < 32; ++i)
    fakeDigest += "AB";
  EXPECT_EQ(Invoke({"--journal", "--expect-sha256", fakeDigest, "--port", "COM3", Image(300)}),
            kExitSuccess);
  ASSERT_EQ(platform.journal.size(), 2u);
  EXPECT_EQ(platform.journal[1].rfind("COM3: correcto", 0), 0u) << platform.journal[1];
}

TEST_F(RunCliTest, CtrlCMidBlockClosesThePortAndReportsNoSuccess) {
  AttachDevice(0);
  platform.out.onError = [&](std::string_view text) {
    if (text.find("Enviado") != std::string_view::npos)
      platform.stop = true;
  };
  EXPECT_EQ(Invoke({"--json", Image(3000)}), kExitInterrupted);
  EXPECT_EQ(platform.driver.open_port_count(), 0);
  EXPECT_EQ(platform.out.error.find("Descarga correcta"), std::string::npos);
  EXPECT_EQ(platform.out.error.find("PROGRAM_STATE_ERROR"), std::string::npos);
  EXPECT_NE(Result().find("\"ok\":false,\"exit_code\":130"), std::string::npos);
  EXPECT_LT(platform.base.now(), 1000u + 10000u);
}

TEST_F(RunCliTest, WaitKeepsLookingQuietlyUntilADeviceAnswersOrTimeIsUp) {
  platform.out.onError = [&](std::string_view text) {
    if (text.find("Esperando") != std::string_view::npos)
      AttachDevice(1);
  };
  EXPECT_EQ(Invoke({"--wait", Image(300)}), kExitSuccess);
  EXPECT_EQ(Count(platform.out.error, "Probando COM1"), 1);
  EXPECT_EQ(Count(platform.out.error, "Esperando un equipo en COM1 a COM4"), 1);
  EXPECT_NE(platform.out.error.find("COM2 abierto"), std::string::npos);

  auto bounded = std::make_unique<Harness>();
  const std::uint32_t start = bounded->platform.base.now();
  EXPECT_EQ(bounded->Invoke({"--wait=20", Image(300)}), kExitNoDevice);
  EXPECT_GE(bounded->platform.base.now() - start, 20000u);
  EXPECT_LT(bounded->platform.base.now() - start, 30000u);

  auto stopped = std::make_unique<Harness>();
  stopped->platform.out.onError = [&](std::string_view text) {
    if (text.find("Esperando") != std::string_view::npos)
      stopped->platform.stop = true;
  };
  EXPECT_EQ(stopped->Invoke({"--wait", Image(300)}), kExitInterrupted);
}

TEST_F(RunCliTest, LoopFlashesOneDeviceAfterAnotherAndCountsThem) {
  AttachDevice(2);
  int removals = 0;
  platform.out.onError = [&](std::string_view text) {
    if (text.find("Retire el equipo") == std::string_view::npos)
      return;
    // The device goes away; after the first, another comes on COM1, with a wrong echo.
    platform.driver.port(2).present = false;
    platform.driver.port(0).present = false;
    if (++removals == 1) {
      sim::DeviceFaults echo;
      echo.wrongEchoOffset = 5;
      AttachDevice(0, echo);
    } else {
      platform.stop = true;
    }
  };
  EXPECT_EQ(Invoke({"--loop", "--json", "--log", "r", Image(300)}), kExitEchoMismatch);
  ASSERT_EQ(platform.records.size(), 2u);
  EXPECT_NE(platform.records[0].find("\"port\":\"COM3\""), std::string::npos);
  EXPECT_NE(platform.records[1].find("\"port\":\"COM1\",\"image\""), std::string::npos);
  EXPECT_NE(platform.out.error.find("Equipos programados: 1 correctos, 1 con fallo"),
            std::string::npos);
  EXPECT_EQ(Result(), "{\"event\":\"summary\",\"succeeded\":1,\"failed\":1}");
}

TEST_F(RunCliTest, LoopTakesAnotherAdapterUnderTheSameComNameForTheNextDevice) {
  const char* serials[4] = {"", "A", "", ""};
  platform.usbSerials = serials;
  AttachDevice(1);
  int removals = 0;
  platform.out.onError = [&](std::string_view text) {
    if (text.find("Esperando") != std::string_view::npos)
      platform.stop = true;
    if (text.find("Retire el equipo de COM2") == std::string_view::npos)
      return;
    if (++removals == 1) {
      // Pulled, and at once another adapter takes COM2 and the same device path.
      serials[1] = "B";
      AttachDevice(1);
    } else {
      // Unplugged from its adapter, which stays: only the probe can tell.
      platform.driver.port(1).peer = nullptr;
    }
  };
  EXPECT_EQ(Invoke({"--loop", "--json", "--log", "r", Image(300)}), kExitSuccess);
  ASSERT_EQ(platform.records.size(), 2u);
  for (const std::string& record : platform.records)
    EXPECT_NE(record.find("\"ok\":true,\"exit_code\":0,\"port\":\"COM2\""), std::string::npos)
        << record;
  // Each record names its own adapter.
  EXPECT_NE(
      platform.records[0].find("\"by_path\":\"/dev/serial/by-path/usb-2\",\"usb_serial\":\"A\"}"),
      std::string::npos)
      << platform.records[0];
  EXPECT_NE(platform.records[1].find("\"usb_serial\":\"B\"}"), std::string::npos);
  // A search for each device, and one more that waits after the second was unplugged.
  EXPECT_EQ(Count(platform.out.error, "Probando COM2"), 3);
  EXPECT_EQ(Count(platform.out.error, "Esperando un equipo"), 1);
  EXPECT_NE(platform.out.error.find("Equipos programados: 2 correctos, 0 con fallo"),
            std::string::npos);
}

TEST_F(RunCliTest, AFailedRecordTurnsASuccessIntoAnInternalFailure) {
  AttachDevice(0);
  platform.failAppend = true;
  EXPECT_EQ(Invoke({"--log", "r", Image(300)}), kExitInternal);
}

TEST_F(RunCliTest, ListsPortsAsTextOrJson) {
  EXPECT_EQ(Invoke({"--list-ports"}), kExitSuccess);
  EXPECT_EQ(platform.out.output,
            "COM1   /dev/ttyUSB0  ftdi_sio, FTDI, FT232R, USB 0403:6001, serie A5\n");
  platform.out.output.clear();
  EXPECT_EQ(Invoke({"--list-ports", "--json"}), kExitSuccess);
  EXPECT_EQ(platform.out.output.rfind("{\"event\":\"port\",\"name\":\"COM1\"", 0), 0u);
}

TEST_F(RunCliTest, ALostLineEndsTheRunAtOnceWithStatusEightAndSaysSo) {
  sim::DeviceFaults dropping;
  dropping.hangUpAfterHostBytes = 60;  // mid-block
  AttachDevice(1, dropping);
  const std::uint32_t start = platform.clock().TickCount();
  EXPECT_EQ(Invoke({"--json", Image(300)}), kExitProtocol);
  // Discovery's pauses (COM1 absent, COM2 opened and probed) and the one after "Inicio descarga".
  EXPECT_LE(platform.clock().TickCount() - start, 1000u + 1100u + 1000u + 10u);
  const std::string result = Result();
  EXPECT_NE(result.find("\"ok\":false,\"exit_code\":8,\"port\":\"COM2\""), std::string::npos)
      << result;
  EXPECT_NE(result.find("\"error\":\"se perdi\xC3\xB3 la conexi\xC3\xB3n con el puerto\""),
            std::string::npos)
      << result;
  EXPECT_NE(platform.out.error.find("Se perdi\xF3 la conexi\xF3n con COM2\n"), std::string::npos);
  EXPECT_EQ(platform.out.error.find("el eco difiere"), std::string::npos);
  EXPECT_EQ(platform.driver.open_port_count(), 0);
}

}  // namespace
