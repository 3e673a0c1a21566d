#include "serial/serial_link.h"

#include "serial/deadline.h"

namespace updater {

namespace {

constexpr const char* kPortNames[SerialLink::kPortCount] = {"COM1", "COM2", "COM3", "COM4"};
constexpr std::uint32_t kPauseBeforeOpenMs = 1000;

}  // namespace

int SerialLink::OpenPort(std::int8_t index) {
  const int number = index + 1;
  reporter_.Report("Probando COM%d ...\n", number);
  clock_.Sleep(kPauseBeforeOpenMs);

  const bool known = index >= 0 && index < kPortCount;
  OpenError ignored;
  OpenError& error = known ? openErrors_[index] : ignored;
  m_hPort = known ? driver_.Open(kPortNames[index], error) : kInvalidPort;
  if (m_hPort == kInvalidPort) {
    reporter_.Report("No abierto COM%d\n", number);
    return 0;
  }

  LineSettings settings;
  driver_.GetLineSettings(m_hPort, settings);
  driver_.SetLineSettings(m_hPort, WithDeviceLineSettings(settings));

  reporter_.Report("COM%d abierto\n", number);
  return 1;
}

void SerialLink::WriteByte(int value) {
  const auto byte = static_cast<std::uint8_t>(value & 0xFF);
  const Deadline deadline(clock_.TickCount(), kTransferTimeoutMs);
  writeDropped_ = true;
  for (;;) {
    std::uint32_t written = 0;
    if (driver_.WriteByte(m_hPort, byte, written) && written == 1) {
      writeDropped_ = false;
      return;
    }
    const std::uint32_t now = clock_.TickCount();
    if (deadline.Expired(now))
      return;  // dropped; the missing reply tells the caller
    // A broken line (hung up, unplugged) never takes the byte on this handle: waiting out the
    // rest of the 5000 ms would only stretch a failed run by that much for every byte.
    if (driver_.WaitWritable(m_hPort, deadline.NextWait(now, kWaitSliceMs)) == WaitResult::kError)
      return;
    clock_.Pump();
  }
}

std::uint8_t SerialLink::ReadByte() {
  const Deadline deadline(clock_.TickCount(), kTransferTimeoutMs);
  for (;;) {
    driver_.ClearErrors(m_hPort, m_dwCommErrors, m_comStat);
    if (m_comStat.cbInQue > 0) {
      std::uint8_t value = 0;
      std::uint32_t read = 0;
      if (driver_.ReadByte(m_hPort, value, read) && read == 1)
        return value;
    }
    const std::uint32_t now = clock_.TickCount();
    if (deadline.Expired(now))
      return kReadTimedOut;
    driver_.WaitReadable(m_hPort, deadline.NextWait(now, kWaitSliceMs));
    clock_.Pump();
  }
}

const OpenError& SerialLink::open_error(int index) const {
  static const OpenError kNotTried{};
  return index >= 0 && index < kPortCount ? openErrors_[index] : kNotTried;
}

const OpenError* SerialLink::BlockedPort() const {
  for (const OpenError& error : openErrors_) {
    if (error.failure == OpenFailure::kPermissionDenied || error.failure == OpenFailure::kBusy)
      return &error;
  }
  return nullptr;
}

void SerialLink::ClosePort() {
  if (m_hPort == kInvalidPort)
    return;
  driver_.Close(m_hPort);
  m_hPort = kInvalidPort;
}

}  // namespace updater
