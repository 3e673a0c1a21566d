#pragma once

#include <memory>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/fake_port_driver.h"

namespace fakes {

// Four fake ports on a fake clock, and the devices a test puts at their far ends: what the core
// runs over, in a fixture or inside a front end.
struct FakeLines {
  // A device on the given port (0 to 3) that answers as the faults say, on a line that takes
  // bytes again.
  DevicePeer& AttachDevice(int index, const sim::DeviceFaults& faults = {}) {
    devices.push_back(std::make_unique<DevicePeer>(faults));
    FakePort& port = driver.port(index);
    port.hungUp = false;
    port.writeStalled = false;
    devices.back()->Attach(port);
    return *devices.back();
  }

  FakeClock clock;
  FakePortDriver driver{clock};
  std::vector<std::unique_ptr<DevicePeer>> devices;
};

}  // namespace fakes
