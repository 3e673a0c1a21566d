// actualizador-station: the plug-and-flash station, composed of its front end, the command
// line's system layer and the station's own adapter to udev, systemd and the journal.
#include <atomic>

#include "app/station/systemd_station.h"
#include "app/system/system_platform.h"
#include "model/localized.h"

int main(int argc, char** argv) {
  updater::UseSystemLanguage();
  static std::atomic<bool> stop{false};
  updater::cli::InstallStopHandlers(stop);
  updater::cli::SystemPlatform platform(stop);
  updater::station::SystemdStation station(platform);
  return updater::station::RunStation(argc, argv, station);
}
