#include "model/localized.h"
#include "serial/protocol.h"
#include "serial/serial_link.h"

namespace updater {

using protocol::kPauseAfterCloseMs;
using protocol::kPauseBeforeProbeMs;
using protocol::kProbe;

int SerialLink::FindDevice() {
  ForgetLastSearch();
  for (std::int8_t index = 0; index < kPortCount; ++index) {
    if (clock_.Interrupted())
      return 0;
    if (!OpenPort(index))
      continue;
    if (Probe(kPortNames[index])) {
      connectedPort_ = kPortNames[index];
      return 1;
    }
  }
  return 0;
}

int SerialLink::FindDeviceOn(const char* name, const char* shown) {
  ForgetLastSearch();
  if (!OpenNamed(name, shown, namedError_) || !Probe(shown))
    return 0;
  connectedPort_ = shown;
  return 1;
}

void SerialLink::ForgetLastSearch() {
  for (OpenError& error : openErrors_)
    error = OpenError{};
  namedError_ = OpenError{};
  connectedPort_ = nullptr;
}

// The probe on the port just opened: '0' answered with '0' leaves it open; anything else closes
// it and pauses before the next port.
bool SerialLink::Probe(const char* shown) {
  clock_.Sleep(kPauseBeforeProbeMs);
  WriteByte(kProbe);
  if (ReadByte() == kProbe) {
    reporter_.Report(Translatable("Conectado a equipo en %s"), shown);
    return true;
  }
  ClosePort();
  reporter_.Report(Translatable("Cerrar %s\n"), shown);
  clock_.Sleep(kPauseAfterCloseMs);
  return false;
}

}  // namespace updater
