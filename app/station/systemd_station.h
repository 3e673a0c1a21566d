#pragma once

#include <memory>

#include "app/system/system_platform.h"
#include "ui/station/station_system.h"

namespace updater::station {

// The station's machine on Linux: the configuration file, udev's ports and properties, the
// journal (sd-journal) and systemd's units (sd-bus, or systemd's own socket where there is no
// D-Bus).
class SystemdStation final : public StationSystem {
 public:
  explicit SystemdStation(cli::SystemPlatform& platform);
  ~SystemdStation() override;
  SystemdStation(const SystemdStation&) = delete;
  SystemdStation& operator=(const SystemdStation&) = delete;

  cli::Platform& platform() override { return platform_; }
  bool ReadConfig(const char* path, ConfigFile& file) override;
  std::string Property(const char* name) override;
  std::vector<ConnectedPort> SerialPorts() override;
  JournalView LastResults() override;
  UnitStatus Unit(const std::string& name) override;
  void Notice(const std::string& text) override;
  std::string LocalTime(std::uint64_t usec) override;
  std::uint64_t NowUsec() override;
  bool ReadRecords(const ReportSource& source, ReportSums& sums, std::string& error) override;

 private:
  struct Bus;
  cli::SystemPlatform& platform_;
  std::unique_ptr<Bus> bus_;
};

}  // namespace updater::station
