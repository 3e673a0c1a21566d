// The command line on POSIX systems: termios ports (a device path names a port of its own),
// libudev's port list, libsodium's SHA-256, an O_APPEND record file, and the terminal's encoding
// from the locale.
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <signal.h>
#include <sodium.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/system/journal.h"
#include "app/system/system_platform.h"
#include "model/windows1252.h"
#include "serial/com_name.h"
#include "serial/port_list.h"
#include "serial/posix_port_driver.h"
#include "serial/posix_port_list.h"
#include "ui/cli/exit_status.h"
#include "ui/cli/port_name.h"

namespace updater::cli {

namespace {

std::atomic<bool>* g_stop = nullptr;

void OnStopSignal(int) {
  if (g_stop->exchange(true))
    _exit(kExitInterrupted);
}

bool WriteAll(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t n = write(fd, data, length);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

// Standard output and error in the encoding of the locale's character type.
class PosixConsole final : public Console {
 public:
  PosixConsole() {
    std::setlocale(LC_CTYPE, "");
    const char* codeset = nl_langinfo(CODESET);
    utf8_ = std::strcmp(codeset, "UTF-8") == 0;
    // Without transliteration: a character the encoding lacks stops the conversion, and its
    // ASCII stand-in takes its place (iconv's own would be '?' under the C locale).
    if (!utf8_)
      convert_ = iconv_open(codeset, "WINDOWS-1252");
    errorTerminal_ = isatty(STDERR_FILENO) == 1;
  }
  ~PosixConsole() override {
    if (convert_ != kNoConversion)
      iconv_close(convert_);
  }
  PosixConsole(const PosixConsole&) = delete;
  PosixConsole& operator=(const PosixConsole&) = delete;

  void Error(std::string_view text) override { Write(STDERR_FILENO, text); }
  void Output(std::string_view text) override { Write(STDOUT_FILENO, text); }
  void OutputBytes(std::string_view bytes) override {
    WriteAll(STDOUT_FILENO, bytes.data(), bytes.size());
  }
  bool ErrorIsTerminal() override { return errorTerminal_; }
  int ErrorColumns() override {
    winsize size{};
    if (!errorTerminal_ || ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0)
      return 0;
    return size.ws_col;
  }

 private:
  static inline const iconv_t kNoConversion = reinterpret_cast<iconv_t>(-1);

  // Converts in pieces of whole lines' worth; a message is one piece and one write.
  void Write(int fd, std::string_view text) {
    char out[8192];
    while (!text.empty()) {
      const std::size_t piece = text.size() < 2048 ? text.size() : 2048;
      const std::size_t n = Convert(text.substr(0, piece), out, sizeof out);
      WriteAll(fd, out, n);
      text.remove_prefix(piece);
    }
  }

  std::size_t Convert(std::string_view text, char* out, std::size_t capacity) {
    if (utf8_)
      return Windows1252ToUtf8(text, out, capacity);
    if (convert_ == kNoConversion) {
      // No converter for this encoding: ASCII is safe everywhere.
      std::size_t n = 0;
      for (const char c : text) {
        if (!PutAscii(static_cast<std::uint8_t>(c), out, capacity, n))
          break;
      }
      return n;
    }
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* next = out;
    std::size_t outLeft = capacity;
    iconv(convert_, nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0) {
      if (iconv(convert_, &in, &inLeft, &next, &outLeft) != static_cast<std::size_t>(-1))
        break;
      if (errno != EILSEQ || outLeft == 0)
        break;
      // A character the terminal cannot show: its ASCII stand-in ("\xF3" as "o").
      std::size_t n = 0;
      if (!PutAscii(static_cast<std::uint8_t>(*in), next, outLeft, n))
        break;
      next += n;
      outLeft -= n;
      ++in;
      --inLeft;
    }
    return static_cast<std::size_t>(next - out);
  }

  // Appends the ASCII form of one Windows-1252 byte; false when it does not fit.
  static bool PutAscii(std::uint8_t byte, char* out, std::size_t capacity, std::size_t& n) {
    const char* ascii = Windows1252ToAscii(byte);
    const std::size_t length = ascii != nullptr ? std::strlen(ascii) : 1;
    if (n + length + 1 > capacity)
      return false;
    if (ascii == nullptr)
      out[n++] = static_cast<char>(byte);
    else
      for (std::size_t i = 0; i < length; ++i)
        out[n++] = ascii[i];
    return true;
  }

  bool utf8_ = true;
  bool errorTerminal_ = false;
  iconv_t convert_ = kNoConversion;
};

}  // namespace

void InstallStopHandlers(std::atomic<bool>& stop) {
  g_stop = &stop;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A reader of standard output that went away must not end a run that holds a port.
  signal(SIGPIPE, SIG_IGN);
}

struct SystemPlatform::Machine {
  explicit Machine(const char* const* comPaths) {
    if (comPaths != nullptr) {
      table = {comPaths[0], comPaths[1], comPaths[2], comPaths[3]};
      injected = true;
      com = std::make_unique<PosixPortDriver>(table);
    } else {
      com = std::make_unique<PosixPortDriver>();
    }
  }

  PosixConsole console;
  PosixPortDriver::PathTable table{};
  bool injected = false;
  std::unique_ptr<PosixPortDriver> com;
  // A device named by its path: the driver's COM1, shown as the path.
  std::unique_ptr<PosixPortDriver> byPath;
  // That device as the system described it when it was named, for the journal.
  std::string namedPath;
  DeviceDescription named;
};

SystemPlatform::SystemPlatform(const std::atomic<bool>& stop, const char* const* comPaths)
    : machine_(std::make_unique<Machine>(comPaths)), clock_(system_, stop) {}

SystemPlatform::~SystemPlatform() = default;

Console& SystemPlatform::console() {
  return machine_->console;
}

PortDriver& SystemPlatform::ports() {
  return *machine_->com;
}

PortDriver* SystemPlatform::NamePort(const char* value, NamedPort& port) {
  port = NamedPort{};
  const int number = ComNumber(value, kMaxComNumber);
  if (number > 0) {
    FormatComName(number, port.open);
    FormatComName(number, port.shown);
    return machine_->com.get();
  }
  if (std::strchr(value, '/') == nullptr || std::strlen(value) >= sizeof port.shown)
    return nullptr;
  std::snprintf(port.open, sizeof port.open, "COM1");
  std::snprintf(port.shown, sizeof port.shown, "%s", value);
  machine_->namedPath = value;
  machine_->named = DescribeDevice(value);
  machine_->byPath = std::make_unique<PosixPortDriver>(
      PosixPortDriver::PathTable{port.shown, nullptr, nullptr, nullptr});
  return machine_->byPath.get();
}

int SystemPlatform::ListPorts(PortInfo* out, int capacity) {
  Machine& m = *machine_;
  if (!m.injected)
    return ListSerialPorts(out, capacity);
  // The table the tests gave stands for the machine's ports.
  int count = 0;
  for (int i = 0; i < 4 && count < capacity; ++i) {
    if (m.table[static_cast<std::size_t>(i)] == nullptr)
      continue;
    PortInfo& info = out[count];
    info = PortInfo{};
    info.number = i + 1;
    FormatComName(i + 1, info.name);
    std::snprintf(info.path, sizeof info.path, "%s", m.table[static_cast<std::size_t>(i)]);
    ++count;
  }
  return count;
}

bool SystemPlatform::Sha256(const std::uint8_t* data, std::size_t length, std::uint8_t digest[32]) {
  return sodium_init() >= 0 && crypto_hash_sha256(digest, data, length) == 0;
}

namespace {

int OpenRetrying(const char* path, int flags) {
  int fd = -1;
  do {
    fd = open(path, flags | O_CLOEXEC | O_NOCTTY, 0644);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The folder a file's path names: "." for a bare name, "/" for one at the root.
std::string FolderOf(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash == nullptr ? "." : std::string(path, slash == path ? 1 : slash - path);
}

// A new file's name is on the disk once its folder is synced.
bool SyncFolderOf(const char* path) {
  const int fd = OpenRetrying(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0)
    return false;
  const bool synced = fsync(fd) == 0;
  return close(fd) == 0 && synced;
}

}  // namespace

bool SystemPlatform::AppendRecord(const char* path, std::string_view line) {
  // A record shown is a record kept: a line is on the disk, and a new file's name in its folder,
  // before the run says it is done, so that a power cut right after loses nothing.
  int fd = OpenRetrying(path, O_WRONLY | O_APPEND | O_CREAT | O_EXCL);
  const bool created = fd >= 0;
  if (fd < 0 && errno == EEXIST)
    fd = OpenRetrying(path, O_WRONLY | O_APPEND);
  if (fd < 0)
    return false;
  bool written = !created || SyncFolderOf(path);
  if (!line.empty()) {
    // One write: O_APPEND places it whole at the end, after any other program's line.
    ssize_t n = 0;
    do {
      n = write(fd, line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    written = written && n == static_cast<ssize_t>(line.size()) && fsync(fd) == 0;
  }
  return close(fd) == 0 && written;
}

namespace {

FileProblem ProblemOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return FileProblem::kAbsent;
    case EACCES:
    case EPERM:
      return FileProblem::kNoPermission;
    case EISDIR:
      return FileProblem::kFolder;
    case EROFS:
      return FileProblem::kReadOnly;
    case ENXIO:
      return FileProblem::kNotAFile;
    default:
      return FileProblem::kOther;
  }
}

}  // namespace

FileProblem SystemPlatform::ExplainFile(const char* path, bool append) {
  struct stat info {};
  if (stat(path, &info) != 0) {
    const int error = errno;
    if (!append || error != ENOENT)
      return ProblemOf(error);
    // A record file is created when missing: the question is its folder.
    const std::string folder = FolderOf(path);
    struct stat folderInfo {};
    if (stat(folder.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode))
      return FileProblem::kFolderAbsent;
    return access(folder.c_str(), W_OK) == 0 ? FileProblem::kOther : ProblemOf(errno);
  }
  if (S_ISDIR(info.st_mode))
    return FileProblem::kFolder;
  if (!S_ISREG(info.st_mode) && !S_ISCHR(info.st_mode) && !S_ISBLK(info.st_mode))
    return FileProblem::kNotAFile;
  if (access(path, append ? W_OK : R_OK) != 0)
    return ProblemOf(errno);
  return FileProblem::kNone;
}

bool SystemPlatform::JournalAvailable() {
  return JournalReachable();
}

bool SystemPlatform::JournalRecord(const RunRecord& record, const DeviceDescription& device) {
  return SendJournalRecord(record, device);
}

DeviceDescription SystemPlatform::DescribePort(const char* port) {
  const Machine& m = *machine_;
  // The device behind the port's name: a path as given, COMn as the port table has it.
  std::string path;
  if (port != nullptr && port[0] == '/') {
    path = port;
  } else if (const int number = port != nullptr ? ComNumber(port, kMaxComNumber) : 0; number > 0) {
    if (m.injected) {
      if (number <= 4 && m.table[static_cast<std::size_t>(number - 1)] != nullptr)
        path = m.table[static_cast<std::size_t>(number - 1)];
    } else {
      PortInfo ports[64];
      const int count = ListSerialPorts(ports, 64);
      for (int i = 0; i < count; ++i) {
        if (ports[i].number == number)
          path = ports[i].path;
      }
    }
  }
  // A device named by its path is described as it was when the run began: an adapter pulled
  // out during the run leaves nothing to look up at its end.
  if (!path.empty() && path == m.namedPath)
    return m.named;
  return path.empty() ? DeviceDescription{} : DescribeDevice(path.c_str());
}

void SystemPlatform::UtcNow(char* out, std::size_t capacity) {
  const time_t now = time(nullptr);
  tm utc{};
  if (capacity == 0)
    return;
  if (gmtime_r(&now, &utc) == nullptr || strftime(out, capacity, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0)
    out[0] = '\0';
}

void SystemPlatform::SystemTextToUtf8(const char* text, char* out, std::size_t capacity) {
  // File names are taken as UTF-8; the record replaces what is not.
  if (capacity > 0)
    std::snprintf(out, capacity, "%s", text);
}

}  // namespace updater::cli
