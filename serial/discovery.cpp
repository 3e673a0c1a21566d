#include "serial/serial_link.h"

namespace updater {

namespace {

constexpr std::uint32_t kPauseBeforeProbeMs = 100;
constexpr std::uint32_t kPauseAfterCloseMs = 1000;

}  // namespace

int SerialLink::FindDevice() {
  for (OpenError& error : openErrors_)
    error = OpenError{};
  for (std::int8_t index = 0; index < kPortCount; ++index) {
    if (!OpenPort(index))
      continue;
    clock_.Sleep(kPauseBeforeProbeMs);
    WriteByte(kProbe);
    if (ReadByte() == kProbe) {
      reporter_.Report("Conectado a equipo en COM%d", index + 1);
      return 1;
    }
    ClosePort();
    reporter_.Report("Cerrar COM%d\n", index + 1);
    clock_.Sleep(kPauseAfterCloseMs);
  }
  return 0;
}

}  // namespace updater
