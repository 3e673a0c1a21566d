#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "serial/clock.h"
#include "ui/cli/platform.h"
#include "ui/cli/stoppable_clock.h"

namespace updater::cli {

// Sets `stop` on Ctrl-C (SIGINT and SIGTERM; the console's Ctrl-C, Ctrl-Break and close on
// Windows). A second one ends the program at once with status 130.
void InstallStopHandlers(std::atomic<bool>& stop);

// The machine as the command line sees it: standard output and error, the clock that `stop`
// interrupts, the platform's port driver and port list, SHA-256, the record file and the time.
// One source file per platform.
class SystemPlatform final : public Platform {
 public:
  // `comPaths`, when given, are the devices of COM1 to COM4 in place of the machine's (four
  // entries, nullptr for an absent port): the tests' pseudo-terminals. Only where ports are
  // opened by path (POSIX); elsewhere it is ignored.
  explicit SystemPlatform(const std::atomic<bool>& stop, const char* const* comPaths = nullptr);
  ~SystemPlatform() override;
  SystemPlatform(const SystemPlatform&) = delete;
  SystemPlatform& operator=(const SystemPlatform&) = delete;

  Console& console() override;
  Clock& clock() override { return clock_; }
  PortDriver& ports() override;
  PortDriver* NamePort(const char* value, NamedPort& port) override;
  int ListPorts(PortInfo* out, int capacity) override;
  bool Sha256(const std::uint8_t* data, std::size_t length, std::uint8_t digest[32]) override;
  SignatureCheck CheckSignature(const std::uint8_t* image, std::size_t length,
                                const char* publicKeyPath, const char* signaturePath) override;
  bool AppendRecord(const char* path, std::string_view line) override;
  FileProblem ExplainFile(const char* path, bool append) override;
  bool JournalAvailable() override;
  bool JournalRecord(const RunRecord& record, const DeviceDescription& device) override;
  DeviceDescription DescribePort(const char* port) override;
  void UtcNow(char* out, std::size_t capacity) override;
  void SystemTextToUtf8(const char* text, char* out, std::size_t capacity) override;

 private:
  struct Machine;  // the platform's console, drivers and port list
  std::unique_ptr<Machine> machine_;
  SystemClock system_;
  StoppableClock clock_;
};

}  // namespace updater::cli
