#include "ui/cli/exit_status.h"

#include <cstdio>

#include "model/localized.h"

namespace updater::cli {

namespace {

bool Blocked(OpenFailure failure) {
  return failure == OpenFailure::kBusy || failure == OpenFailure::kPermissionDenied ||
         failure == OpenFailure::kOther;
}

// The column where an exit status's words start in --help.
constexpr int kMeaningColumn = 7;

}  // namespace

std::size_t FormatExitCodes(char* out, std::size_t capacity) {
  std::size_t length = 0;
  const auto put = [&](char c) {
    if (length + 1 < capacity)
      out[length] = c;
    ++length;
  };
  for (const ExitCode& code : kExitCodes) {
    char status[16];
    const int n = std::snprintf(status, sizeof status, "%*d  ", kMeaningColumn - 2, code.status);
    for (int i = 0; i < n; ++i)
      put(status[i]);
    for (const char* p = Localized(code.meaning); *p != '\0'; ++p) {
      put(*p);
      for (int i = 0; *p == '\n' && i < kMeaningColumn; ++i)
        put(' ');
    }
    put('\n');
  }
  if (capacity == 0)
    return 0;
  if (length + 1 > capacity) {
    out[0] = '\0';
    return 0;
  }
  out[length] = '\0';
  return length;
}

int ExitStatusFor(RunOutcome outcome, OpenFailure portFailure) {
  switch (outcome) {
    case RunOutcome::kSucceeded:
      return kExitSuccess;
    case RunOutcome::kNoDevice:
      return Blocked(portFailure) ? kExitPortBlocked : kExitNoDevice;
    case RunOutcome::kImageTooLong:
      return kExitImage;
    case RunOutcome::kLengthRejected:
      return kExitLengthRejected;
    case RunOutcome::kEchoMismatch:
      return kExitEchoMismatch;
    case RunOutcome::kProtocolFailure:
    case RunOutcome::kLineLost:
      return kExitProtocol;
    case RunOutcome::kInterrupted:
      return kExitInterrupted;
    case RunOutcome::kNotRun:
      break;
  }
  return kExitInternal;
}

const char* FailureText(RunOutcome outcome, OpenFailure portFailure) {
  // A pulled cable is a failure of its own, though a script acts on it as on any other.
  if (outcome == RunOutcome::kLineLost)
    return Translatable("se perdi\xF3 la conexi\xF3n con el puerto");
  if (outcome == RunOutcome::kNoDevice) {
    switch (portFailure) {
      case OpenFailure::kAbsent:
        return Translatable("el puerto no existe");
      case OpenFailure::kNotSerialPort:
        return Translatable("el nombre no es un puerto serie");
      case OpenFailure::kBusy:
        return Translatable("el puerto est\xE1 ocupado por otro programa");
      case OpenFailure::kPermissionDenied:
        return Translatable("sin permiso para abrir el puerto");
      case OpenFailure::kOther:
      case OpenFailure::kNone:
        break;
    }
  }
  const int status = ExitStatusFor(outcome, portFailure);
  for (const ExitCode& code : kExitCodes) {
    if (code.status == status)
      return code.failure;
  }
  return nullptr;
}

}  // namespace updater::cli
