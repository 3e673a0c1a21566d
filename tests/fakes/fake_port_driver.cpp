#include "fakes/fake_port_driver.h"

#include <cstdio>
#include <cstring>

namespace fakes {

using updater::kInvalidPort;
using updater::PortHandle;
using updater::WaitResult;

void FakePort::Deliver(const std::uint8_t* bytes, std::size_t count, std::uint32_t delayMs) {
  const std::uint32_t readyAt = clock_->now() + delayMs;
  for (std::size_t i = 0; i < count; ++i) {
    if (queueCount_ == kQueueSize) {
      overflowed_ = true;
      return;
    }
    queue_[(queueHead_ + queueCount_) % kQueueSize] = Timed{bytes[i], readyAt};
    ++queueCount_;
  }
}

std::size_t FakePort::ReadyCount(std::uint32_t now) const {
  std::size_t ready = 0;
  while (ready < queueCount_) {
    const Timed& t = queue_[(queueHead_ + ready) % kQueueSize];
    if (static_cast<std::int32_t>(now - t.readyAt) < 0)
      break;
    ++ready;
  }
  return ready;
}

void FakePort::RecordHostByte(std::uint8_t value) {
  if (hostCount_ < kHostLogSize)
    hostLog_[hostCount_] = value;
  ++hostCount_;
}

FakePortDriver::FakePortDriver(FakeClock& clock) : clock_(clock) {
  for (FakePort& p : ports_) {
    p.clock_ = &clock;
    p.reported.baudRate = 1200;
    p.reported.byteSize = 7;
    p.reported.stopBits = 2;
    p.reported.binary = false;
    p.reported.parityCheck = true;
    p.reported.rtsControl = 2;
    p.reported.parity = 2;
  }
}

FakePort* FakePortDriver::Get(PortHandle handle) {
  if (handle < 0 || handle >= 4 || !ports_[handle].isOpen) {
    ++badCalls_;
    return nullptr;
  }
  return &ports_[handle];
}

PortHandle FakePortDriver::Open(const char* name, updater::OpenError& error) {
  static constexpr const char* kNames[4] = {"COM1", "COM2", "COM3", "COM4"};
  error = updater::OpenError{};
  error.failure = updater::OpenFailure::kAbsent;
  for (int i = 0; i < 4; ++i) {
    if (name == nullptr || std::strcmp(name, kNames[i]) != 0)
      continue;
    FakePort& p = ports_[i];
    if (!p.present)
      return kInvalidPort;
    if (p.path != nullptr)
      std::snprintf(error.path, sizeof error.path, "%s", p.path);
    else
      std::snprintf(error.path, sizeof error.path, "/dev/fake%d", i + 1);
    if (p.forbidden || p.busy || p.isOpen) {
      error.failure =
          p.forbidden ? updater::OpenFailure::kPermissionDenied : updater::OpenFailure::kBusy;
      return kInvalidPort;
    }
    error.failure = updater::OpenFailure::kNone;
    p.isOpen = true;
    ++p.opens;
    return i;
  }
  return kInvalidPort;
}

bool FakePortDriver::GetLineSettings(PortHandle handle, updater::LineSettings& settings) {
  FakePort* p = Get(handle);
  if (p == nullptr)
    return false;
  settings = p->reported;
  return true;
}

bool FakePortDriver::SetLineSettings(PortHandle handle, const updater::LineSettings& settings) {
  FakePort* p = Get(handle);
  if (p == nullptr)
    return false;
  p->applied = settings;
  ++p->settingsWritten;
  return true;
}

bool FakePortDriver::ClearErrors(PortHandle handle, std::uint32_t& errors, updater::ComStat& stat) {
  FakePort* p = Get(handle);
  if (p == nullptr)
    return false;
  errors = 0;
  stat.cbInQue = p->hungUp ? 0 : static_cast<std::uint32_t>(p->ReadyCount(clock_.now()));
  stat.cbOutQue = 0;
  return !p->hungUp;
}

bool FakePortDriver::ReadByte(PortHandle handle, std::uint8_t& value, std::uint32_t& transferred) {
  transferred = 0;
  FakePort* p = Get(handle);
  if (p == nullptr || p->hungUp)
    return false;
  if (p->ReadyCount(clock_.now()) == 0) {
    ++p->readsWithNothingWaiting;
    return true;
  }
  value = p->queue_[p->queueHead_].value;
  p->queueHead_ = (p->queueHead_ + 1) % FakePort::kQueueSize;
  --p->queueCount_;
  transferred = 1;
  if (p->expected > 0) {
    --p->expected;
    ++p->bytesReadAsExpected;
  } else {
    ++p->bytesReadUnannounced;
  }
  return true;
}

bool FakePortDriver::WriteByte(PortHandle handle, std::uint8_t value, std::uint32_t& transferred) {
  transferred = 0;
  FakePort* p = Get(handle);
  if (p == nullptr)
    return false;
  if (p->writeStalled)
    return true;
  if (p->hungUp)
    return false;
  if (p->expected > 0)
    ++p->writesWithBytesStillExpected;
  p->expected = 0;
  p->RecordHostByte(value);
  transferred = 1;
  if (p->peer != nullptr)
    p->peer->OnHostByte(value, *p);
  return true;
}

WaitResult FakePortDriver::WaitReadable(PortHandle handle, std::uint32_t timeoutMs) {
  FakePort* p = Get(handle);
  // As the real drivers do: a dropped line is reported lost at once.
  if (p == nullptr || p->hungUp)
    return WaitResult::kLineLost;
  if (p->ReadyCount(clock_.now()) > 0)
    return WaitResult::kReady;
  if (p->queueCount_ > 0) {
    const std::uint32_t wait = p->queue_[p->queueHead_].readyAt - clock_.now();
    if (wait <= timeoutMs) {
      clock_.Advance(wait);
      return WaitResult::kReady;
    }
  }
  clock_.Advance(timeoutMs);
  return WaitResult::kTimedOut;
}

WaitResult FakePortDriver::WaitWritable(PortHandle handle, std::uint32_t timeoutMs) {
  FakePort* p = Get(handle);
  if (p == nullptr || p->hungUp)
    return WaitResult::kLineLost;
  if (!p->writeStalled)
    return WaitResult::kReady;
  clock_.Advance(timeoutMs);
  return WaitResult::kTimedOut;
}

void FakePortDriver::ExpectBytes(PortHandle handle, std::uint32_t count) {
  if (FakePort* p = Get(handle))
    p->expected = count;
}

void FakePortDriver::Close(PortHandle handle) {
  FakePort* p = Get(handle);
  if (p == nullptr)
    return;
  p->isOpen = false;
  ++p->closes;
  // Replies the host never read are lost with the line, as on a real port.
  p->queueCount_ = 0;
  if (p->peer != nullptr)
    p->peer->OnLineClosed();
}

int FakePortDriver::open_port_count() const {
  int open = 0;
  for (const FakePort& p : ports_)
    open += p.isOpen ? 1 : 0;
  return open;
}

void DevicePeer::OnHostByte(std::uint8_t value, FakePort& port) {
  ++hostBytes_;
  if (stallAfterHostBytes >= 0 && hostBytes_ >= stallAfterHostBytes)
    port.writeStalled = true;
  model_.OnHostByte(value);
  if (model_.hung_up())
    port.hungUp = true;
}

void DevicePeer::Reply(const std::uint8_t* bytes, std::size_t count) {
  const auto delay = delays.find(replies_);
  ++replies_;
  if (port_ != nullptr)
    port_->Deliver(bytes, count, delay != delays.end() ? delay->second : defaultDelayMs);
}

}  // namespace fakes
