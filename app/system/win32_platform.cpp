// The command line on Windows: the Win32 serial driver (any COMn), the system's port list,
// BCrypt's SHA-256, an append-only record file, and text to the console in its own characters.
#include <windows.h>

#include <bcrypt.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/system/system_platform.h"
#include "serial/com_name.h"
#include "serial/port_list.h"
#include "serial/win32_port_driver.h"
#include "ui/cli/exit_status.h"
#include "ui/cli/port_name.h"

namespace updater::cli {

namespace {

constexpr UINT kWindows1252 = 1252;

std::atomic<bool>* g_stop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (g_stop->exchange(true))
    ExitProcess(kExitInterrupted);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    // The process ends when this returns: give the run time to close its port.
    Sleep(1500);
  }
  return TRUE;
}

bool IsConsole(HANDLE h) {
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && h != nullptr && GetConsoleMode(h, &mode) != FALSE;
}

void WriteAll(HANDLE h, const char* data, std::size_t length) {
  while (length > 0) {
    DWORD written = 0;
    const DWORD piece = length > 65536 ? 65536 : static_cast<DWORD>(length);
    if (!WriteFile(h, data, piece, &written, nullptr) || written == 0)
      return;
    data += written;
    length -= written;
  }
}

// Windows-1252 text to a console in UTF-16, whatever its code page, and to a file or pipe in the
// console's code page (the ANSI code page when there is no console).
void WriteText(HANDLE h, std::string_view text) {
  while (!text.empty()) {
    const int piece = text.size() < 2048 ? static_cast<int>(text.size()) : 2048;
    wchar_t wide[2048];
    const int n = MultiByteToWideChar(kWindows1252, 0, text.data(), piece, wide, 2048);
    text.remove_prefix(static_cast<std::size_t>(piece));
    if (n <= 0)
      continue;
    if (IsConsole(h)) {
      DWORD written = 0;
      WriteConsoleW(h, wide, static_cast<DWORD>(n), &written, nullptr);
      continue;
    }
    UINT codePage = GetConsoleOutputCP();
    if (codePage == 0)
      codePage = GetACP();
    char out[8192];
    const int m = WideCharToMultiByte(codePage, 0, wide, n, out, sizeof out, nullptr, nullptr);
    if (m > 0)
      WriteAll(h, out, static_cast<std::size_t>(m));
  }
}

class Win32Console final : public Console {
 public:
  Win32Console()
      : out_(GetStdHandle(STD_OUTPUT_HANDLE)),
        error_(GetStdHandle(STD_ERROR_HANDLE)),
        errorTerminal_(IsConsole(error_)) {}

  void Error(std::string_view text) override { WriteText(error_, text); }
  void Output(std::string_view text) override { WriteText(out_, text); }
  void OutputBytes(std::string_view bytes) override {
    // Raw, so that a line ends in "\n" alone on every platform.
    WriteAll(out_, bytes.data(), bytes.size());
  }
  bool ErrorIsTerminal() override { return errorTerminal_; }
  int ErrorColumns() override {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!errorTerminal_ || !GetConsoleScreenBufferInfo(error_, &info))
      return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
  }

 private:
  HANDLE out_;
  HANDLE error_;
  bool errorTerminal_;
};

}  // namespace

void InstallStopHandlers(std::atomic<bool>& stop) {
  g_stop = &stop;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

struct SystemPlatform::Machine {
  Win32Console console;
  Win32PortDriver com;
};

SystemPlatform::SystemPlatform(const std::atomic<bool>& stop, const char* const* /*comPaths*/)
    : machine_(std::make_unique<Machine>()), clock_(system_, stop) {}

SystemPlatform::~SystemPlatform() = default;

Console& SystemPlatform::console() {
  return machine_->console;
}

PortDriver& SystemPlatform::ports() {
  return machine_->com;
}

PortDriver* SystemPlatform::NamePort(const char* value, NamedPort& port) {
  port = NamedPort{};
  // "\\.\COM12" as well as "COM12".
  if (std::strncmp(value, "\\\\.\\", 4) == 0)
    value += 4;
  const int number = ComNumber(value, kMaxComNumber);
  if (number == 0)
    return nullptr;
  FormatComName(number, port.open);
  FormatComName(number, port.shown);
  return &machine_->com;
}

int SystemPlatform::ListPorts(PortInfo* out, int capacity) {
  return ListSerialPorts(out, capacity);
}

bool SystemPlatform::Sha256(const std::uint8_t* data, std::size_t length, std::uint8_t digest[32]) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
    return false;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool done = BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
  if (done) {
    done = BCRYPT_SUCCESS(
               BCryptHashData(hash, const_cast<PUCHAR>(data), static_cast<ULONG>(length), 0)) &&
           BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, 32, 0));
    BCryptDestroyHash(hash);
  }
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return done;
}

bool SystemPlatform::AppendRecord(const char* path, std::string_view line) {
  // Append-only access: every write goes whole to the end, after any other program's line.
  HANDLE h = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return false;
  bool written = true;
  if (!line.empty()) {
    DWORD n = 0;
    // On the disk before the run says it is done.
    written = WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &n, nullptr) != FALSE &&
              n == line.size() && FlushFileBuffers(h) != FALSE;
  }
  return CloseHandle(h) != FALSE && written;
}

FileProblem SystemPlatform::ExplainFile(const char* path, bool append) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    switch (GetLastError()) {
      case ERROR_FILE_NOT_FOUND:
        if (!append)
          return FileProblem::kAbsent;
        break;  // created when missing: the question is its folder
      case ERROR_PATH_NOT_FOUND:
      case ERROR_INVALID_NAME:
        return append ? FileProblem::kFolderAbsent : FileProblem::kAbsent;
      case ERROR_ACCESS_DENIED:
        return FileProblem::kNoPermission;
      default:
        return FileProblem::kOther;
    }
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return FileProblem::kFolder;
  }
  HANDLE h = CreateFileA(path, append ? FILE_APPEND_DATA : GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         append ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return FileProblem::kNone;
  }
  switch (GetLastError()) {
    case ERROR_ACCESS_DENIED:
      return FileProblem::kNoPermission;
    case ERROR_WRITE_PROTECT:
      return FileProblem::kReadOnly;
    case ERROR_PATH_NOT_FOUND:
      return FileProblem::kFolderAbsent;
    default:
      return FileProblem::kOther;
  }
}

// Windows has no systemd journal; --journal is refused there.
bool SystemPlatform::JournalAvailable() {
  return false;
}

bool SystemPlatform::JournalRecord(const RunRecord&, const DeviceDescription&) {
  return false;
}

DeviceDescription SystemPlatform::DescribePort(const char*) {
  return {};
}

// Debian has no libsodium built for Windows: this build checks no signature and says so.
SignatureCheck SystemPlatform::CheckSignature(const std::uint8_t*, std::size_t, const char*,
                                              const char*) {
  return {};
}

void SystemPlatform::UtcNow(char* out, std::size_t capacity) {
  SYSTEMTIME t{};
  GetSystemTime(&t);
  std::snprintf(out, capacity, "%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond);
}

void SystemPlatform::SystemTextToUtf8(const char* text, char* out, std::size_t capacity) {
  if (capacity == 0)
    return;
  out[0] = '\0';
  // Arguments and file names come in the ANSI code page.
  wchar_t wide[8192];
  const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 8192);
  if (n <= 0)
    return;
  const int m =
      WideCharToMultiByte(CP_UTF8, 0, wide, n, out, static_cast<int>(capacity), nullptr, nullptr);
  if (m <= 0)
    out[0] = '\0';
}

}  // namespace updater::cli
