#pragma once

// The command line's platform over fake ports and a fake clock, for the command line's and the
// station's tests.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/fake_port_driver.h"
#include "serial/com_name.h"
#include "ui/cli/platform.h"
#include "ui/cli/port_name.h"
#include "ui/cli/stoppable_clock.h"

namespace fakes {

using updater::cli::Console;
using updater::cli::FileProblem;
using updater::cli::NamedPort;
using updater::cli::Platform;
using updater::cli::RunRecord;
using updater::cli::StoppableClock;

class FakeConsole final : public Console {
 public:
  void Error(std::string_view text) override {
    error.append(text);
    if (onError)
      onError(text);
  }
  void Output(std::string_view text) override { output.append(text); }
  void OutputBytes(std::string_view bytes) override { output.append(bytes); }
  bool ErrorIsTerminal() override { return terminal; }
  int ErrorColumns() override { return columns; }

  std::string error;
  std::string output;
  bool terminal = false;
  int columns = 0;
  std::function<void(std::string_view)> onError;
};

// Four fake ports on a fake clock; Ctrl-C is `stop`.
class FakePlatform final : public Platform {
 public:
  FakePlatform(FakeClock& clock, FakePortDriver& ports) : base(clock), driver(ports) {}
  Console& console() override { return out; }
  updater::Clock& clock() override { return clock_; }
  updater::PortDriver& ports() override { return driver; }
  updater::PortDriver* NamePort(const char* value, NamedPort& port) override {
    const int n = updater::cli::ComNumber(value, 4);
    if (n == 0)
      return nullptr;
    updater::FormatComName(n, port.open);
    updater::FormatComName(n, port.shown);
    return &driver;
  }
  int ListPorts(updater::PortInfo* list, int capacity) override {
    if (usbSerials) {
      // The fake ports as USB adapters: only the present ones, each with its serial number.
      int count = 0;
      for (int i = 0; i < 4 && count < capacity; ++i) {
        if (!driver.port(i).present)
          continue;
        updater::PortInfo& info = list[count++];
        info = updater::PortInfo{i + 1,    "", "/dev/ttyUSB0", "ftdi_sio", "FTDI",
                                 "FT232R", "", 0x0403,         0x6001};
        updater::FormatComName(i + 1, info.name);
        std::snprintf(info.serialNumber, sizeof info.serialNumber, "%s", usbSerials[i]);
      }
      return count;
    }
    if (capacity < 1)
      return 0;
    list[0] = updater::PortInfo{1,        "COM1", "/dev/ttyUSB0", "ftdi_sio", "FTDI",
                                "FT232R", "A5",   0x0403,         0x6001};
    return 1;
  }
  bool Sha256(const std::uint8_t*, std::size_t, std::uint8_t digest[32]) override {
    for (int i = 0; i < 32; ++i)
      digest[i] = 0xAB;
    return true;
  }
  // A signature is good unless its file is named "bad.minisig".
  updater::cli::SignatureCheck CheckSignature(const std::uint8_t*, std::size_t, const char*,
                                              const char* signature) override {
    updater::cli::SignatureCheck check;
    check.verdict = std::string(signature).find("bad.minisig") != std::string::npos
                        ? updater::cli::SignatureVerdict::kBadSignature
                        : updater::cli::SignatureVerdict::kGood;
    std::snprintf(check.keyId, sizeof check.keyId, "9A73CC8229D06A63");
    std::snprintf(check.trustedComment, sizeof check.trustedComment, "FW 1.2 \xC3\xB1");
    return check;
  }
  bool AppendRecord(const char* path, std::string_view line) override {
    if (std::string(path) == "unwritable" || (!line.empty() && failAppend))
      return false;
    if (!line.empty())
      records.emplace_back(line);
    return true;
  }
  FileProblem ExplainFile(const char* path, bool) override {
    return std::string(path) == "unwritable" ? FileProblem::kFolderAbsent : FileProblem::kAbsent;
  }
  bool JournalAvailable() override { return true; }
  updater::cli::DeviceDescription DescribePort(const char* port) override {
    // The USB ports' adapters as they are now; nothing for the others.
    updater::cli::DeviceDescription d;
    const int n = updater::cli::ComNumber(port, 4);
    if (usbSerials != nullptr && n > 0) {
      std::snprintf(d.usbSerial, sizeof d.usbSerial, "%s", usbSerials[n - 1]);
      std::snprintf(d.byPath, sizeof d.byPath, "/dev/serial/by-path/usb-%d", n);
    }
    return d;
  }
  bool JournalRecord(const RunRecord& record, const updater::cli::DeviceDescription&) override {
    journal.push_back(std::string(record.message) + "|" + (record.port ? record.port : "-"));
    return true;
  }
  void UtcNow(char* text, std::size_t capacity) override {
    std::snprintf(text, capacity, "2026-01-02T03:04:05Z");
  }
  void SystemTextToUtf8(const char* text, char* utf8, std::size_t capacity) override {
    std::snprintf(utf8, capacity, "%s", text);
  }

  FakeClock& base;
  std::atomic<bool> stop{false};
  FakeConsole out;
  FakePortDriver& driver;
  std::vector<std::string> records;
  std::vector<std::string> journal;
  bool failAppend = false;
  const char** usbSerials = nullptr;  // when set, ListPorts lists the present ports as USB ones

 private:
  StoppableClock clock_{base, stop};
};

}  // namespace fakes
