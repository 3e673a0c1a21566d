// actualizador-cli with COM1 to COM4 on the devices UPDATER_CLI_TEST_PORTS names, for the tests
// that run the program against simulators: "PATH,PATH,-,-", '-' or nothing for an absent port.
// The shipped program reads no environment; this variant is built with the tests only.
#include <atomic>
#include <cstdlib>
#include <string>

#include "app/system/system_platform.h"
#include "model/localized.h"

int main(int argc, char** argv) {
  updater::UseSystemLanguage();
  static std::atomic<bool> stop{false};
  updater::cli::InstallStopHandlers(stop);
  std::string paths[4];
  const char* table[4] = {};
  const char* named = std::getenv("UPDATER_CLI_TEST_PORTS");
  std::string rest = named != nullptr ? named : "";
  for (int i = 0; i < 4; ++i) {
    const std::size_t comma = rest.find(',');
    paths[i] = rest.substr(0, comma);
    rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
    if (!paths[i].empty() && paths[i] != "-")
      table[i] = paths[i].c_str();
  }
  updater::cli::SystemPlatform platform(stop, table);
  return updater::cli::RunCli(argc, argv, platform);
}
