#pragma once

#include <cstddef>

#include "download/downloader.h"
#include "model/localized.h"
#include "serial/port_driver.h"

namespace updater::cli {

// The exit statuses a script can act on; kExitCodes below gives each its words.
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

// An exit status in words.
struct ExitCode {
  int status;
  // --help's line for it (Spanish, Windows-1252, shown in the chosen language), the manual
  // page's too; a line feed where --help goes on in a second line.
  const char* meaning;
  // The failure in words for the run's record (Spanish in every language), when no port failure
  // says more; nullptr for a success and for a status that no programming run ends with.
  const char* failure;
};

// Every exit status, in --help's order: --help, the record's error text and the test that holds
// the manual page, the README and docs/cli.md to them are made from this table.
inline constexpr ExitCode kExitCodes[] = {
    {kExitSuccess, Translatable("el equipo confirm\xF3 la imagen completa"), nullptr},
    {kExitInternal, Translatable("fallo interno inesperado"), Translatable("fallo interno")},
    {kExitUsage, Translatable("l\xEDnea de \xF3rdenes incorrecta"), nullptr},
    {kExitImage,
     Translatable("imagen ilegible, vac\xED"
                  "a, demasiado larga para el equipo, sin firma v\xE1lida o con\notro SHA-256"),
     Translatable("imagen demasiado larga para el equipo")},
    {kExitNoDevice, Translatable("ning\xFAn equipo respondi\xF3 (o el puerto indicado no existe)"),
     Translatable("ning\xFAn equipo respondi\xF3")},
    {kExitPortBlocked,
     Translatable("el puerto indicado existe pero no se pudo abrir (sin permiso u ocupado)"),
     Translatable("no se pudo abrir el puerto")},
    {kExitLengthRejected, Translatable("el equipo rechaz\xF3 la longitud"),
     Translatable("el equipo rechaz\xF3 la longitud")},
    {kExitEchoMismatch, Translatable("el eco difiere de la imagen"),
     Translatable("el eco difiere de la imagen")},
    {kExitProtocol,
     Translatable(
         "otro fallo del protocolo: falta una confirmaci\xF3n, tiempo agotado, l\xEDnea\ncolgada"),
     Translatable(
         "fallo del protocolo: falta una confirmaci\xF3n, tiempo agotado o l\xEDnea colgada")},
    {kExitInterrupted, Translatable("interrumpido (Ctrl+C)"), Translatable("interrumpido")},
};

// --help's list of kExitCodes in the chosen language into `out` (zero-terminated): a line each, the
// status right-aligned in five columns, a second line indented under the first. Returns its length,
// or 0 when it does not fit in `capacity`.
std::size_t FormatExitCodes(char* out, std::size_t capacity);

// The status of a programming run. `portFailure` is why the named port would not open (kNone
// when it opened or no port was named): a port that is there but may not be opened, is held, or
// failed otherwise is 5; one that is absent or no serial port is 4.
int ExitStatusFor(RunOutcome outcome, OpenFailure portFailure);

// The failure in words (Spanish, Windows-1252) for the run's record and, localized, the last
// line on standard error; nullptr for a success.
const char* FailureText(RunOutcome outcome, OpenFailure portFailure);

}  // namespace updater::cli
