#pragma once

#include <cstdint>

#include "serial/port_driver.h"

namespace fakes {

// Passes every call to another driver; tests derive from it to watch or bend a few calls.
class ForwardingPortDriver : public updater::PortDriver {
 public:
  explicit ForwardingPortDriver(updater::PortDriver& inner) : inner_(inner) {}

  using updater::PortDriver::Open;
  updater::PortHandle Open(const char* name, updater::OpenError& error) override {
    return inner_.Open(name, error);
  }
  bool GetLineSettings(updater::PortHandle p, updater::LineSettings& s) override {
    return inner_.GetLineSettings(p, s);
  }
  bool SetLineSettings(updater::PortHandle p, const updater::LineSettings& s) override {
    return inner_.SetLineSettings(p, s);
  }
  bool ClearErrors(updater::PortHandle p, std::uint32_t& e, updater::ComStat& s) override {
    return inner_.ClearErrors(p, e, s);
  }
  bool ReadByte(updater::PortHandle p, std::uint8_t& v, std::uint32_t& n) override {
    return inner_.ReadByte(p, v, n);
  }
  bool WriteByte(updater::PortHandle p, std::uint8_t v, std::uint32_t& n) override {
    return inner_.WriteByte(p, v, n);
  }
  updater::WaitResult WaitReadable(updater::PortHandle p, std::uint32_t ms) override {
    return inner_.WaitReadable(p, ms);
  }
  updater::WaitResult WaitWritable(updater::PortHandle p, std::uint32_t ms) override {
    return inner_.WaitWritable(p, ms);
  }
  void ExpectBytes(updater::PortHandle p, std::uint32_t n) override { inner_.ExpectBytes(p, n); }
  void Close(updater::PortHandle p) override { inner_.Close(p); }

 private:
  updater::PortDriver& inner_;
};

}  // namespace fakes
