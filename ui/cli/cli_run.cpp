#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "download/updater_core.h"
#include "model/app_info.h"
#include "model/localized.h"
#include "model/windows1252.h"
#include "ui/cli/exit_status.h"
#include "ui/cli/image_check.h"
#include "ui/cli/json_writer.h"
#include "ui/cli/options.h"
#include "ui/cli/platform.h"
#include "ui/cli/terminal_displays.h"
#include "ui/cli/translated.h"

namespace updater::cli {

namespace {

constexpr char kProgramName[] = "actualizador-cli";
// Between two probes of a device that is still there after its run.
constexpr std::uint32_t kGonePauseMs = 1000;
// Between two looks at the port list for a USB device that is still there: short enough to see
// its port missing before another adapter plugged in at once takes its COM name.
constexpr std::uint32_t kGoneListPauseMs = 100;
constexpr int kMaxListedPorts = 64;

void PrintError(Console& console, const char* text) {
  char line[1024];
  const int n = std::snprintf(line, sizeof line, "%s: %s\n", kProgramName, text);
  if (n > 0)
    console.Error(std::string_view(line, std::strlen(line)));
}

// One line of --list-ports: "COM1  /dev/ttyUSB0  ftdi_sio, FTDI, FT232R USB UART, USB 0403:6001,
// serie A50285BI".
void PrintPort(Console& console, const PortInfo& port) {
  char line[1024];
  int n = std::snprintf(line, sizeof line, "%-6s %s", port.name, port.path);
  const auto add = [&](const char* format, auto... values) {
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof line)
      return;
    const int m =
        std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), format, values...);
    if (m > 0)
      n += m;
  };
  const char* separator = "  ";
  const auto text = [&](const char* format, const char* value) {
    if (value[0] == '\0')
      return;
    add("%s", separator);
    add(format, value);
    separator = ", ";
  };
  text("%s", port.driver);
  text("%s", port.manufacturer);
  text("%s", port.product);
  if (port.vendorId != 0 || port.productId != 0) {
    add("%sUSB %04x:%04x", separator, static_cast<unsigned>(port.vendorId),
        static_cast<unsigned>(port.productId));
    separator = ", ";
  }
  text(Localized("serie %s"), port.serialNumber);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof line - 1)
    n = static_cast<int>(std::strlen(line));
  line[n++] = '\n';
  // The system's own texts, as the system gave them.
  console.OutputBytes(std::string_view(line, static_cast<std::size_t>(n)));
}

int ListPorts(const Options& options, Platform& platform) {
  PortInfo ports[kMaxListedPorts];
  const int count = platform.ListPorts(ports, kMaxListedPorts);
  Console& console = platform.console();
  for (int i = 0; i < count; ++i) {
    if (!options.json) {
      PrintPort(console, ports[i]);
      continue;
    }
    JsonLine json;
    json.Utf8("event", "port");
    json.Utf8("name", ports[i].name);
    json.Utf8("path", ports[i].path);
    json.Utf8("driver", ports[i].driver);
    json.Utf8("manufacturer", ports[i].manufacturer);
    json.Utf8("product", ports[i].product);
    json.Utf8("serial_number", ports[i].serialNumber);
    json.Integer("vendor_id", ports[i].vendorId);
    json.Integer("product_id", ports[i].productId);
    console.OutputBytes(json.Finish());
  }
  if (count == 0 && !options.quiet)
    console.Error(Localized("No hay puertos serie\n"));
  return kExitSuccess;
}

// One invocation that programs: the image, then one device, or one after another with --loop.
class Session {
 public:
  Session(const Options& options, Platform& platform, PortDriver& driver, const NamedPort* named)
      : options_(options),
        platform_(platform),
        clock_(platform.clock()),
        named_(named),
        displays_(platform.console(), platform.clock(), options.quiet, options.json),
        core_(std::make_unique<UpdaterCore>(displays_, driver, platform.clock())) {
    core_->InitState();
  }

  int Run() {
    const int loaded = LoadImage();
    if (loaded != kExitSuccess)
      return loaded;
    return options_.loop ? Loop() : ProgramDevice();
  }

 private:
  struct Result {
    int status = kExitInternal;
    // In Spanish, for the records (the same in every language); nullptr for a success.
    const char* failure = nullptr;
    const char* port = nullptr;
    std::uint32_t milliseconds = 0;
    // Said on standard error in place of `failure`, in the chosen language, when set: the
    // failure with the file it names. Otherwise `failure` is said localized.
    const char* said = nullptr;
  };

  int LoadImage() {
    const bool read = core_->LoadImage(options_.image);
    const ImageCheck check =
        CheckImage(read, options_.image, core_->m_download.m_image, core_->m_download.m_nFileLength,
                   options_.expectSha256, {options_.publicKey, options_.signature}, platform_);
    std::memcpy(sha256_, check.sha256, sizeof sha256_);
    haveDigest_ = sha256_[0] != '\0';
    signed_ = check.signatureChecked && check.signature.verdict == SignatureVerdict::kGood;
    signature_ = check.signature;
    if (check.verdict == ImageVerdict::kGood) {
      if (signed_)
        SayGoodSignature();
      return kExitSuccess;
    }
    Result result;
    result.status = kExitImage;
    // An image error names the port it kept from being touched.
    result.port = named_ != nullptr ? named_->shown : nullptr;
    char text[256];
    DescribeImageProblem(check, text, sizeof text);
    result.failure = text;
    // What standard error says names the file, and both hashes.
    char said[NamedPort::kNameSize + 256];
    if (check.verdict == ImageVerdict::kUnreadable) {
      std::snprintf(said, sizeof said, Localized("no se puede leer la imagen '%s': %s"),
                    options_.image, Localized(FileProblemText(check.fileProblem, false)));
    } else if (check.verdict == ImageVerdict::kUnsigned && check.signature.keyId[0] != '\0') {
      std::snprintf(said, sizeof said,
                    Localized("la imagen '%s' no tiene una firma v\xE1lida de la clave %s: %s"),
                    options_.image, check.signature.keyId,
                    Localized(SignatureProblemText(check.signature.verdict)));
    } else if (check.verdict == ImageVerdict::kUnsigned) {
      std::snprintf(said, sizeof said, Localized("la imagen '%s' no tiene una firma v\xE1lida: %s"),
                    options_.image, Localized(SignatureProblemText(check.signature.verdict)));
    } else if (check.verdict == ImageVerdict::kOtherHash) {
      std::snprintf(said, sizeof said,
                    Localized("la imagen '%s' no es la esperada: su SHA-256 es %s, se esperaba %s"),
                    options_.image, sha256_, options_.expectSha256);
    } else {
      DescribeImageProblem(check, said, sizeof said, true);
    }
    result.said = said;
    platform_.UtcNow(started_, sizeof started_);
    Finish(result);
    return result.status;
  }

  // "Firma correcta de la clave 9A73CC8229D06A63: FW 1.2", the signer's words as text.
  void SayGoodSignature() {
    char comment[sizeof signature_.trustedComment];
    Utf8ToPrintableWindows1252(signature_.trustedComment, comment, sizeof comment);
    char line[sizeof comment + 64];
    std::snprintf(line, sizeof line, Localized("Firma correcta de la clave %s: %s\n"),
                  signature_.keyId, comment);
    if (!options_.quiet)
      platform_.console().Error(line);
  }

  void Program() {
    if (named_ != nullptr)
      core_->Program(named_->open, named_->shown);
    else
      core_->OnProgram();
  }

  // Discovery (repeated while waiting) and the download; the run's record.
  int ProgramDevice() {
    const bool waiting = options_.wait || options_.loop;
    const std::uint32_t waitStart = clock_.TickCount();
    bool repeated = false;
    std::uint32_t roundStart = 0;
    for (;;) {
      displays_.BeginRound(repeated);
      roundStart = clock_.TickCount();
      platform_.UtcNow(started_, sizeof started_);
      Program();
      if (core_->last_outcome() != RunOutcome::kNoDevice || !waiting || clock_.Interrupted())
        break;
      if (options_.waitSeconds > 0 &&
          clock_.TickCount() - waitStart >= options_.waitSeconds * 1000u) {
        break;
      }
      if (!repeated) {
        const Translated note =
            named_ != nullptr
                ? Translate(Translatable("Esperando un equipo en %s ..."), named_->shown)
                : Translate(Translatable("Esperando un equipo en COM1 a COM4 ..."));
        displays_.Note(note.shown, note.spanish);
        repeated = true;
      }
    }
    const RunOutcome outcome = core_->last_outcome();
    const OpenFailure portFailure =
        named_ != nullptr ? core_->m_link.named_open_error().failure : OpenFailure::kNone;
    Result result;
    result.status = ExitStatusFor(outcome, portFailure);
    result.failure = FailureText(outcome, portFailure);
    result.port = core_->m_link.connected_port();
    if (result.port == nullptr && named_ != nullptr)
      result.port = named_->shown;
    result.milliseconds = clock_.TickCount() - roundStart;
    connected_ = core_->m_link.connected_port() != nullptr;
    if (connected_) {
      std::snprintf(lastPort_, sizeof lastPort_, "%s", core_->m_link.connected_port());
    }
    // With --loop only devices count: a wait that ended finds none to record.
    if (!options_.loop || connected_)
      Finish(result);
    return result.status;
  }

  int Loop() {
    int succeeded = 0;
    int failed = 0;
    int lastFailure = kExitSuccess;
    bool cut = false;
    while (!clock_.Interrupted()) {
      const int status = ProgramDevice();
      if (!connected_)
        break;  // interrupted or out of time while waiting
      if (status == kExitInterrupted) {
        cut = true;
        break;
      }
      if (status == kExitSuccess) {
        ++succeeded;
      } else {
        ++failed;
        lastFailure = status;
      }
      WaitUntilGone();
    }
    const Translated summary = Translate(
        Translatable("Equipos programados: %d correctos, %d con fallo"), succeeded, failed);
    displays_.Note(summary.shown, summary.spanish);
    if (options_.json) {
      JsonLine json;
      json.Utf8("event", "summary");
      json.Integer("succeeded", succeeded);
      json.Integer("failed", failed);
      platform_.console().OutputBytes(json.Finish());
    }
    if (cut)
      return kExitInterrupted;
    return failed > 0 ? lastFailure : (logFailed_ ? kExitInternal : kExitSuccess);
  }

  // Waits, without a word, until the last device has gone: until it no longer answers the
  // probe. A USB adapter's port comes and goes with it, and its COM name can pass at once to the
  // next adapter plugged in, which would take the probe's byte as part of an exchange and hang.
  // Such a port is also watched in the machine's port list between the probes: once it is
  // missing or another device holds its name, the device is gone without another probe. A probe
  // in flight holds the old device's handle, which its pulling leaves hung up.
  void WaitUntilGone() {
    PortInfo programmed;
    const bool removable = ListedPort(programmed) && programmed.vendorId != 0;
    const Translated note =
        Translate(Translatable("Retire el equipo de %s para programar el siguiente"), lastPort_);
    displays_.Note(note.shown, note.spanish);
    const char* open = named_ != nullptr ? named_->open : lastPort_;
    displays_.SetMuted(true);
    for (;;) {
      if (removable) {
        PortInfo now;
        for (std::uint32_t waited = 0; waited < kGonePauseMs; waited += kGoneListPauseMs) {
          if (clock_.Interrupted() || !ListedPort(now) || !SameDevice(now, programmed))
            break;
          clock_.Sleep(kGoneListPauseMs);
        }
        if (!ListedPort(now) || !SameDevice(now, programmed))
          break;
      }
      if (clock_.Interrupted() || !core_->m_link.FindDeviceOn(open, lastPort_))
        break;
      core_->m_link.ClosePort();
      if (!removable)
        clock_.Sleep(kGonePauseMs);
    }
    displays_.SetMuted(false);
  }

  // The machine's entry for the last device's port: by its path when named so, else by COM name.
  bool ListedPort(PortInfo& found) {
    const int count = platform_.ListPorts(listed_, kMaxListedPorts);
    for (int i = 0; i < count; ++i) {
      if (std::strcmp(lastPort_, lastPort_[0] == '/' ? listed_[i].path : listed_[i].name) == 0) {
        found = listed_[i];
        return true;
      }
    }
    return false;
  }

  static bool SameDevice(const PortInfo& a, const PortInfo& b) {
    return std::strcmp(a.path, b.path) == 0 && std::strcmp(a.serialNumber, b.serialNumber) == 0 &&
           a.vendorId == b.vendorId && a.productId == b.productId;
  }

  // The run's record in the log (--log) and on standard output (--json), and its failure. A
  // record the log did not take turns a success into an internal failure.
  void Finish(Result& result) {
    displays_.EndProgress();
    device_ = result.port != nullptr ? platform_.DescribePort(result.port) : DeviceDescription{};
    if (options_.log != nullptr && !platform_.AppendRecord(options_.log, Record(result))) {
      char message[NamedPort::kNameSize + 128];
      std::snprintf(message, sizeof message,
                    Localized("no se pudo a\xF1"
                              "adir el registro a %s: %s"),
                    options_.log,
                    Localized(FileProblemText(platform_.ExplainFile(options_.log, true), true)));
      PrintError(platform_.console(), message);
      logFailed_ = true;
      if (result.status == kExitSuccess) {
        result.status = kExitInternal;
        result.failure = Translatable("el registro no se pudo escribir");
      }
    }
    if (options_.journal && !platform_.JournalRecord(JournalEntry(result), device_)) {
      PrintError(platform_.console(), Localized("no se pudo a\xF1"
                                                "adir el resultado al diario del sistema"));
      logFailed_ = true;
      if (result.status == kExitSuccess) {
        result.status = kExitInternal;
        result.failure = Translatable("el registro no se pudo escribir");
      }
    }
    if (options_.json)
      platform_.console().OutputBytes(Record(result));
    if (result.failure != nullptr) {
      char message[NamedPort::kNameSize + 512];
      std::snprintf(message, sizeof message,
                    Localized("%s (c\xF3"
                              "digo %d)"),
                    result.said != nullptr ? result.said : Localized(result.failure),
                    result.status);
      PrintError(platform_.console(), message);
    }
  }

  // The journal's entry: the record's fields, and one line in words for a person, Spanish in every
  // language like the record's error (the report and the status read them back).
  RunRecord JournalEntry(const Result& result) {
    RunRecord entry;
    entry.ok = result.status == kExitSuccess;
    entry.exitCode = result.status;
    if (result.port != nullptr) {
      platform_.SystemTextToUtf8(result.port, journalPort_, sizeof journalPort_);
      entry.port = journalPort_;
    }
    platform_.SystemTextToUtf8(options_.image, journalImage_, sizeof journalImage_);
    entry.image = journalImage_;
    entry.sha256 = haveDigest_ ? sha256_ : nullptr;
    entry.bytes = core_->m_download.m_nFileLength;
    entry.sent = displays_.sent();
    entry.milliseconds = result.milliseconds;
    if (result.failure != nullptr) {
      Windows1252ToUtf8(result.failure, journalError_, sizeof journalError_);
      entry.error = journalError_;
    }
    entry.version = kApplicationVersion;
    if (signed_) {
      entry.keyId = signature_.keyId;
      entry.trustedComment = signature_.trustedComment;
    }
    const char* port = entry.port != nullptr ? entry.port : "-";
    if (entry.ok) {
      std::snprintf(journalMessage_, sizeof journalMessage_,
                    "%s: correcto, %s (%u bytes) en %u,%u s", port, entry.image,
                    static_cast<unsigned>(entry.bytes),
                    static_cast<unsigned>(entry.milliseconds / 1000),
                    static_cast<unsigned>(entry.milliseconds % 1000 / 100));
    } else {
      std::snprintf(journalMessage_, sizeof journalMessage_,
                    "%s: fallo (c\xC3\xB3"
                    "digo %d): %s",
                    port, entry.exitCode, entry.error);
    }
    entry.message = journalMessage_;
    return entry;
  }

  std::string_view Record(const Result& result) {
    JsonLine& json = record_;
    char text[NamedPort::kNameSize * 2];
    json.Reset();
    json.Utf8("event", "result");
    json.Boolean("ok", result.status == kExitSuccess);
    json.Integer("exit_code", result.status);
    if (result.port != nullptr) {
      platform_.SystemTextToUtf8(result.port, text, sizeof text);
      json.Utf8("port", text);
    } else {
      json.Null("port");
    }
    platform_.SystemTextToUtf8(options_.image, text, sizeof text);
    json.Utf8("image", text);
    json.Integer("bytes", core_->m_download.m_nFileLength);
    json.Integer("sent", displays_.sent());
    if (haveDigest_)
      json.Utf8("sha256", sha256_);
    else
      json.Null("sha256");
    json.Milli("seconds", result.milliseconds);
    json.Utf8("started", started_);
    if (result.failure != nullptr)
      json.Text("error", result.failure);
    else
      json.Null("error");
    json.Utf8("program", kProgramName);
    json.Utf8("version", kApplicationVersion);
    if (signed_) {
      json.Utf8("key_id", signature_.keyId);
      json.Utf8("trusted_comment", signature_.trustedComment);
    } else {
      json.Null("key_id");
      json.Null("trusted_comment");
    }
    // The adapter, as the journal's entry names it too.
    for (const auto& [name, value] :
         {std::pair{"by_path", device_.byPath}, std::pair{"usb_serial", device_.usbSerial}}) {
      if (value[0] != '\0')
        json.Utf8(name, value);
      else
        json.Null(name);
    }
    return json.Finish();
  }

  const Options& options_;
  Platform& platform_;
  Clock& clock_;
  const NamedPort* named_;
  TerminalDisplays displays_;
  std::unique_ptr<UpdaterCore> core_;
  char sha256_[65] = {};
  bool haveDigest_ = false;
  DeviceDescription device_;  // the last run's port, for its record
  bool signed_ = false;       // the image's signature was checked and is good
  SignatureCheck signature_;
  char started_[32] = {};
  bool connected_ = false;
  char lastPort_[NamedPort::kNameSize] = {};
  PortInfo listed_[kMaxListedPorts];
  bool logFailed_ = false;
  JsonLine record_;
  char journalPort_[NamedPort::kNameSize * 2] = {};
  char journalImage_[NamedPort::kNameSize * 2] = {};
  char journalError_[512] = {};
  char journalMessage_[NamedPort::kNameSize * 4 + 1024] = {};
};

}  // namespace

int RunCli(int argc, char** argv, Platform& platform) {
  Console& console = platform.console();
  Options options;
  char error[512];
  switch (ParseCommandLine(argc, argv, options, error, sizeof error)) {
    case Command::kUsageError: {
      PrintError(console, error);
      console.Error(Localized("Pruebe 'actualizador-cli --help'.\n"));
      return kExitUsage;
    }
    case Command::kHelp:
      console.Output(HelpText());
      return kExitSuccess;
    case Command::kVersion: {
      char line[96];
      std::snprintf(line, sizeof line, "%s (%s) %s\n", kProgramName, kApplicationName,
                    kApplicationVersion);
      console.Output(line);
      return kExitSuccess;
    }
    case Command::kListPorts:
      return ListPorts(options, platform);
    case Command::kRun:
      break;
  }

  if (options.log != nullptr && !platform.AppendRecord(options.log, std::string_view())) {
    std::snprintf(error, sizeof error,
                  Localized("--log: no se puede escribir en '%s': %s (c\xF3"
                            "digo %d)"),
                  options.log,
                  Localized(FileProblemText(platform.ExplainFile(options.log, true), true)),
                  kExitUsage);
    PrintError(console, error);
    return kExitUsage;
  }
  if (options.journal && !platform.JournalAvailable()) {
    std::snprintf(error, sizeof error,
                  Localized("--journal: este sistema no tiene el diario de systemd (c\xF3"
                            "digo %d)"),
                  kExitUsage);
    PrintError(console, error);
    return kExitUsage;
  }
  NamedPort named;
  PortDriver* driver = &platform.ports();
  if (options.port != nullptr) {
    driver = platform.NamePort(options.port, named);
    if (driver == nullptr) {
      std::snprintf(error, sizeof error, Localized("--port: '%s' no nombra ning\xFAn puerto"),
                    options.port);
      PrintError(console, error);
      console.Error(Localized("Pruebe 'actualizador-cli --help'.\n"));
      return kExitUsage;
    }
  }
  // The core's buffers are large; they live on the heap, once for the whole invocation.
  auto session = std::make_unique<Session>(options, platform, *driver,
                                           options.port != nullptr ? &named : nullptr);
  return session->Run();
}

}  // namespace updater::cli
