#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "faults/descriptors.h"
#include "sim/device_model.h"

namespace faults {

// A simulated device served on a pseudo-terminal from a thread of the test, for the faults the
// simulator executable cannot show: bytes the host does not expect at chosen points, and a line
// dropped part-way through one of the device's own replies. Like a real port, the line's queues
// do not outlive the host's close.
class LineDevice final : public sim::ReplySink {
 public:
  struct Options {
    sim::DeviceFaults faults;
    // Bytes sent just before the device's reply number `noiseBeforeReply` (0 is the probe reply).
    long noiseBeforeReply = -1;
    std::vector<std::uint8_t> noise;
    // Bytes sent right after the end acknowledgement.
    std::vector<std::uint8_t> noiseAfterEnd;
    // The line drops once the device has sent this many bytes of its own.
    long hangUpAfterDeviceBytes = -1;
  };

  explicit LineDevice(Options options);
  ~LineDevice() override;
  LineDevice(const LineDevice&) = delete;
  LineDevice& operator=(const LineDevice&) = delete;

  bool Start();
  const char* path() const { return path_; }
  // Downloads the model saw through to an acknowledged end.
  bool complete();
  bool hung_up() const { return hungUp_.load(); }

  void Reply(const std::uint8_t* bytes, std::size_t count) override;

 private:
  void Serve();
  void Send(const std::uint8_t* bytes, std::size_t count);
  void FlushSlave();
  void WaitUntilHostHasRead();

  Options options_;
  sim::DeviceModel model_;
  std::mutex mutex_;
  int master_ = -1;
  char path_[128] = {};
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> hungUp_{false};
  long replies_ = 0;
  long sent_ = 0;
  bool complete_ = false;
  bool afterEndSent_ = false;
};

}  // namespace faults
