#include "ui/cli/exit_status.h"

namespace updater::cli {

namespace {

bool Blocked(OpenFailure failure) {
  return failure == OpenFailure::kBusy || failure == OpenFailure::kPermissionDenied ||
         failure == OpenFailure::kOther;
}

}  // namespace

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
  switch (outcome) {
    case RunOutcome::kSucceeded:
      return nullptr;
    case RunOutcome::kNoDevice:
      switch (portFailure) {
        case OpenFailure::kAbsent:
          return "el puerto no existe";
        case OpenFailure::kNotSerialPort:
          return "el nombre no es un puerto serie";
        case OpenFailure::kBusy:
          return "el puerto est\xE1 ocupado por otro programa";
        case OpenFailure::kPermissionDenied:
          return "sin permiso para abrir el puerto";
        case OpenFailure::kOther:
          return "no se pudo abrir el puerto";
        case OpenFailure::kNone:
          break;
      }
      return "ning\xFAn equipo respondi\xF3";
    case RunOutcome::kImageTooLong:
      return "imagen demasiado larga para el equipo";
    case RunOutcome::kLengthRejected:
      return "el equipo rechaz\xF3 la longitud";
    case RunOutcome::kEchoMismatch:
      return "el eco difiere de la imagen";
    case RunOutcome::kProtocolFailure:
      return "fallo del protocolo: falta una confirmaci\xF3n, tiempo agotado o l\xEDnea colgada";
    case RunOutcome::kLineLost:
      return "se perdi\xF3 la conexi\xF3n con el puerto";
    case RunOutcome::kInterrupted:
      return "interrumpido";
    case RunOutcome::kNotRun:
      break;
  }
  return "fallo interno";
}

}  // namespace updater::cli
