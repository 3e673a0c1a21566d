#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "serial/clock.h"
#include "serial/port_driver.h"
#include "serial/port_list.h"
#include "ui/cli/console.h"

namespace updater::cli {

// A port named with --port: the name its driver opens it by and the name the messages show
// ("COM3" both; on Linux a device path is shown as itself and opened by its driver as COM1).
struct NamedPort {
  static constexpr std::size_t kNameSize = 4096;
  char open[16] = {};
  char shown[kNameSize] = {};
};

// Why a file could not be opened, for the message that names it.
enum class FileProblem {
  kNone,          // it opens now
  kAbsent,        // no such file
  kFolderAbsent,  // the folder it would be created in does not exist
  kFolder,        // a folder, not a file
  kNoPermission,  // the user may not read it (or write it, or create it there)
  kNotAFile,      // a FIFO, a socket or the like
  kReadOnly,      // on a read-only file system
  kOther,
};

// The MESSAGE_ID of every run's result in the journal: `journalctl MESSAGE_ID=...` lists them.
inline constexpr char kResultMessageId[] = "7ec2f040a07f41a68fa510bf649112af";

// A serial device as the system knows it, for the records (empty texts when unknown).
struct DeviceDescription {
  char device[256] = {};     // the device node, links resolved: "/dev/ttyUSB0"
  char byPath[512] = {};     // its name under /dev/serial/by-path, by the USB socket
  char usbSerial[128] = {};  // the USB adapter's serial number
};

// What checking an image's minisign signature found.
enum class SignatureVerdict {
  kGood,
  kUnsupported,  // this build of the program cannot check signatures
  kNoKey,        // the public key's file would not read
  kMalformedKey,
  kNoSignature,  // the signature's file would not read
  kMalformedSignature,
  kOtherKey,      // made with another key
  kBadSignature,  // not the image that was signed
  kBadComment,    // the trusted comment was changed after signing
};

struct SignatureCheck {
  SignatureVerdict verdict = SignatureVerdict::kUnsupported;
  char keyId[17] = {};             // as minisign shows it: "9A73CC8229D06A63"
  char trustedComment[1024] = {};  // UTF-8, as it was signed
};

// A run's result as the system's journal takes it: text fields in UTF-8.
struct RunRecord {
  bool ok = false;
  int exitCode = 0;
  const char* port = nullptr;  // as the messages name it; nullptr when none was reached
  const char* image = nullptr;
  const char* sha256 = nullptr;  // lowercase hex; nullptr when the image was not read
  std::uint32_t bytes = 0;
  std::uint32_t sent = 0;
  std::uint32_t milliseconds = 0;
  const char* error = nullptr;    // the failure in words; nullptr for a success
  const char* message = nullptr;  // the whole result in one line, for a person
  const char* version = nullptr;
  const char* keyId = nullptr;           // the signature's key; nullptr when none was checked
  const char* trustedComment = nullptr;  // UTF-8
};

// What the command line needs of the machine. The program's composition root gives the
// platform's own (app/cli); the tests give fakes or a table of pseudo-terminals.
class Platform {
 public:
  virtual ~Platform() = default;

  virtual Console& console() = 0;
  // The clock the core runs on; its Interrupted() is Ctrl-C.
  virtual Clock& clock() = 0;
  // The driver that opens COM1 to COM4 for discovery, as the window's does.
  virtual PortDriver& ports() = 0;
  // The driver for the port named `value` on the command line, with the names filled in;
  // nullptr when `value` cannot name a port on this platform.
  virtual PortDriver* NamePort(const char* value, NamedPort& port) = 0;
  // The machine's serial ports in the order of their COM numbers, at most `capacity`.
  virtual int ListPorts(PortInfo* out, int capacity) = 0;
  virtual bool Sha256(const std::uint8_t* data, std::size_t length, std::uint8_t digest[32]) = 0;
  // Checks the minisign signature in the file `signaturePath` of `length` bytes of `image`
  // against the public key in the file `publicKeyPath`: prehashed (BLAKE2b-512) and legacy
  // signatures, the key's identifier, and the trusted comment's own signature.
  virtual SignatureCheck CheckSignature(const std::uint8_t* image, std::size_t length,
                                        const char* publicKeyPath, const char* signaturePath) = 0;
  // Appends `line` to the file at `path` (created when missing, never truncated) with a single
  // write, so that the lines of programs appending at once do not interleave. An empty line only
  // checks that the file can be opened for appending.
  virtual bool AppendRecord(const char* path, std::string_view line) = 0;
  // Why `path` would not open for reading (an image) or for appending (a record file).
  virtual FileProblem ExplainFile(const char* path, bool append) = 0;
  // Whether the system has a journal that JournalRecord writes to (systemd's, on Linux).
  virtual bool JournalAvailable() = 0;
  // Sends the run's record to the journal as one entry of structured fields, with `device`'s.
  virtual bool JournalRecord(const RunRecord& record, const DeviceDescription& device) = 0;
  // The device behind a port as the messages name it (a path, or COMn); a port named by its path
  // is described as it was when it was named, so that an adapter pulled out during the run keeps
  // its description. Empty texts where the system cannot tell.
  virtual DeviceDescription DescribePort(const char* port) = 0;
  // The time now, UTC, as "2026-12-08T10:11:12Z".
  virtual void UtcNow(char* out, std::size_t capacity) = 0;
  // A text of the system (a path, a command-line argument) as UTF-8, for the records.
  virtual void SystemTextToUtf8(const char* text, char* out, std::size_t capacity) = 0;
};

// The whole program: options, image, discovery or the named port, download, records, exit
// status. `argv` as main receives it.
int RunCli(int argc, char** argv, Platform& platform);

}  // namespace updater::cli
