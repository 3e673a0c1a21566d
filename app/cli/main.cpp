// actualizador-cli: the command-line updater. The machine's console, clock, ports and Ctrl-C
// handling go to the same program as the tests run (RunCli).
#include <atomic>

#include "app/system/system_platform.h"
#include "model/localized.h"

int main(int argc, char** argv) {
  updater::UseSystemLanguage();
  static std::atomic<bool> stop{false};
  updater::cli::InstallStopHandlers(stop);
  updater::cli::SystemPlatform platform(stop);
  return updater::cli::RunCli(argc, argv, platform);
}
