#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "serial/posix_port_list.h"

namespace updater::test {

// A device tree written by the test: the terminals a udev scan would have found.
class TtyTable final : public TtySource {
 public:
  // `type` is the UART type (0 a phantom ttyS, -1 none); `location` makes a USB port.
  TtyTable& Add(const std::string& name, const std::string& node, int type = 4,
                const char* location = nullptr) {
    TtyDevice d;
    std::snprintf(d.kernelName, sizeof d.kernelName, "%s", name.c_str());
    std::snprintf(d.info.path, sizeof d.info.path, "%s", node.c_str());
    std::snprintf(d.info.driver, sizeof d.info.driver, "%s", location ? "ftdi_sio" : "serial");
    d.uartType = location != nullptr ? -1 : type;
    d.usb = location != nullptr;
    std::snprintf(d.location, sizeof d.location, "%s", location ? location : "");
    devices_.push_back(d);
    return *this;
  }
  int Find(TtyDevice* out, int capacity) override {
    int n = 0;
    for (const TtyDevice& d : devices_) {
      if (n == capacity)
        break;
      out[n++] = d;
    }
    return n;
  }

 private:
  std::vector<TtyDevice> devices_;
};

}  // namespace updater::test
