#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace updater::cli {

// The command line: actualizador-cli [OPTION]... IMAGE
struct Options {
  const char* image = nullptr;
  const char* port = nullptr;  // --port: the only port probed; nullptr probes COM1 to COM4
  const char* log = nullptr;   // --log: the file each run's record is appended to
  // --expect-sha256: the image's SHA-256, lowercase hex; empty when not given
  char expectSha256[65] = {};
  // --public-key: program only an image signed with this minisign public key
  const char* publicKey = nullptr;
  const char* signature = nullptr;  // --signature: its signature; nullptr for IMAGE.minisig
  bool journal = false;             // --journal: each run's record in the system's journal too
  bool listPorts = false;
  bool quiet = false;
  bool json = false;
  bool wait = false;              // --wait: keep looking while no device answers
  std::uint32_t waitSeconds = 0;  // --wait=SECONDS; 0 with `wait` looks until interrupted
  bool loop = false;
};

enum class Command { kRun, kListPorts, kHelp, kVersion, kUsageError };

// The longest --wait accepted: a week.
inline constexpr std::uint32_t kMaxWaitSeconds = 7 * 24 * 3600;

// The value of the option `name` at argv[i], given as "--name=value" or "--name value" (then `i`
// moves to the value); nullptr when argv[i] is not that option, with `missing` set when the
// value is.
const char* OptionValue(const char* name, int argc, char** argv, int& i, bool& missing);

// 64 hexadecimal digits in either case, into `out` lowercase and zero-terminated.
bool ParseSha256(std::string_view text, char out[65]);
// A whole number of seconds, at most kMaxWaitSeconds.
bool ParseSeconds(std::string_view text, std::uint32_t& seconds);

// Reads the options; on kUsageError `error` (zero-terminated, Windows-1252) says what is wrong.
// A number right after a spaced "--wait" is its seconds ("--wait 30 FW.QMZ").
Command ParseCommandLine(int argc, char** argv, Options& options, char* error,
                         std::size_t capacity);

// --help, Spanish, Windows-1252.
const char* HelpText();

}  // namespace updater::cli
