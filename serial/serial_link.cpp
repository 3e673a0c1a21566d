#include "serial/serial_link.h"

#include <cstdio>

#include "model/localized.h"
#include "serial/com_name.h"
#include "serial/deadline.h"
#include "serial/protocol.h"

namespace updater {

using protocol::kPauseBeforeOpenMs;

int SerialLink::OpenPort(std::int8_t index) {
  char shown[8];
  FormatComName(index + 1, shown);
  const bool known = index >= 0 && index < kPortCount;
  OpenError ignored;
  return OpenNamed(known ? kPortNames[index] : nullptr, shown,
                   known ? openErrors_[index] : ignored);
}

int SerialLink::OpenNamed(const char* name, const char* shown, OpenError& error) {
  reporter_.Report(Translatable("Probando %s ...\n"), shown);
  clock_.Sleep(kPauseBeforeOpenMs);
  lineLost_ = false;

  m_hPort = name != nullptr ? driver_.Open(name, error) : kInvalidPort;
  if (m_hPort == kInvalidPort) {
    reporter_.Report(Translatable("No abierto %s\n"), shown);
    return 0;
  }

  LineSettings settings;
  driver_.GetLineSettings(m_hPort, settings);
  driver_.SetLineSettings(m_hPort, WithDeviceLineSettings(settings));

  reporter_.Report(Translatable("%s abierto\n"), shown);
  return 1;
}

void SerialLink::WriteByte(int value) {
  const auto byte = static_cast<std::uint8_t>(value & 0xFF);
  const Deadline deadline(clock_.TickCount(), kTransferTimeoutMs);
  writeDropped_ = true;
  if (lineLost_)
    return;
  for (;;) {
    std::uint32_t written = 0;
    if (driver_.WriteByte(m_hPort, byte, written) && written == 1) {
      writeDropped_ = false;
      return;
    }
    const std::uint32_t now = clock_.TickCount();
    if (deadline.Expired(now))
      return;  // dropped; the missing reply tells the caller
    // A lost line (hung up, unplugged) never takes the byte on this handle.
    if (driver_.WaitWritable(m_hPort, deadline.NextWait(now, clock_.WaitSliceMs())) ==
        WaitResult::kLineLost) {
      lineLost_ = true;
      return;
    }
    clock_.Pump();
    if (clock_.Interrupted())
      return;  // dropped: the run is being stopped
  }
}

std::uint8_t SerialLink::ReadByte() {
  if (lineLost_)
    return kReadTimedOut;
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
    // The pump runs while the line is empty, before the wait rather than after it: a byte that
    // comes during the wait is returned at once, not after the window's pass.
    clock_.Pump();
    if (clock_.Interrupted())
      return kReadTimedOut;  // the run is being stopped
    if (driver_.WaitReadable(m_hPort, deadline.NextWait(now, clock_.WaitSliceMs())) ==
        WaitResult::kLineLost) {
      lineLost_ = true;
      return kReadTimedOut;
    }
  }
}

void SerialLink::ExpectBytes(std::uint32_t count) {
  if (m_hPort != kInvalidPort && !lineLost_)
    driver_.ExpectBytes(m_hPort, count);
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
  if (namedError_.failure == OpenFailure::kPermissionDenied ||
      namedError_.failure == OpenFailure::kBusy) {
    return &namedError_;
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
