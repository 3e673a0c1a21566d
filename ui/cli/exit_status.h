#pragma once

#include "download/downloader.h"
#include "serial/port_driver.h"

namespace updater::cli {

// The exit statuses a script can act on; the table is in --help, the manual page and the README.
enum ExitStatus : int {
  kExitSuccess = 0,         // the device confirmed the whole image
  kExitInternal = 1,        // unexpected internal failure
  kExitUsage = 2,           // bad command line
  kExitImage = 3,           // image unreadable, empty or too long for the device
  kExitNoDevice = 4,        // no device answered (or the named port does not exist)
  kExitPortBlocked = 5,     // the named port exists but would not open
  kExitLengthRejected = 6,  // the device rejected the length
  kExitEchoMismatch = 7,    // the echo differed from the image
  kExitProtocol = 8,        // any other protocol failure
  kExitInterrupted = 130,   // Ctrl-C, SIGINT, SIGTERM
};

// The status of a programming run. `portFailure` is why the named port would not open (kNone
// when it opened or no port was named): a port that is there but may not be opened, is held, or
// failed otherwise is 5; one that is absent or no serial port is 4.
int ExitStatusFor(RunOutcome outcome, OpenFailure portFailure);

// The failure in words (Spanish, Windows-1252) for the run's record and the last line on
// standard error; nullptr for a success.
const char* FailureText(RunOutcome outcome, OpenFailure portFailure);

}  // namespace updater::cli
