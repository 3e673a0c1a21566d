// The station's paths, unit and journal identifier stand in the code once; the unit, the udev
// rule, the manual page, the example configuration, the rig's checks and the documents name the
// same ones.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/text_file.h"
#include "ui/cli/platform.h"
#include "ui/station/station_config.h"

namespace {

using namespace updater::station;

std::string Read(const std::string& relative) {
  const std::string text = support::ReadText(std::string(UPDATER_SOURCE_DIR) + "/" + relative);
  EXPECT_FALSE(text.empty()) << relative;
  return text;
}

// Every match of `pattern`'s first group in `text` is `expected`; returns how many there were.
int ExpectAll(const std::string& text, const char* pattern, const std::string& expected,
              const std::string& where) {
  int n = 0;
  const std::regex re(pattern);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator();
       ++it, ++n) {
    EXPECT_EQ((*it)[1].str(), expected) << where;
  }
  return n;
}

TEST(StationFacts, EveryFileNamesTheCodesPathsUnitAndMessageId) {
  const std::string unitName = std::string(kUnitPrefix) + kUnitSuffix;
  const std::string unit = Read("packaging/station/" + unitName);
  EXPECT_NE(unit.find(std::string("ConditionFileNotEmpty=") + kConfigPath + "\n"),
            std::string::npos);
  const std::string folder = kStateFolder;
  EXPECT_NE(unit.find("StateDirectory=" + folder.substr(folder.rfind('/') + 1) + "\n"),
            std::string::npos);
  EXPECT_EQ(std::string(kDefaultLog).rfind(folder + "/", 0), 0u);

  const std::string rule = Read("packaging/station/70-actualizador-station.rules");
  EXPECT_NE(rule.find(std::string("TEST!=\"") + kConfigPath + "\""), std::string::npos);
  EXPECT_NE(rule.find(std::string("SYSTEMD_WANTS}+=\"") + kUnitPrefix + "%k" + kUnitSuffix + "\""),
            std::string::npos);

  std::vector<std::string> files = {"docs/man/actualizador-station.1",
                                    "docs/man/actualizador-cli.1",
                                    "docs/man/en/actualizador-station.1",
                                    "docs/man/en/actualizador-cli.1",
                                    "packaging/station/station.conf",
                                    "scripts/field/station-checks.sh",
                                    "README.md",
                                    "ui/cockpit/line_model.js"};
  for (const auto& page : std::filesystem::directory_iterator(UPDATER_SOURCE_DIR "/docs")) {
    if (page.path().extension() == ".md")
      files.push_back("docs/" + page.path().filename().string());
  }
  for (const std::string& file : files) {
    const std::string text = Read(file);
    const int ids = ExpectAll(text, "(?:MESSAGE_ID=|message_id=)([0-9a-f]+)",
                              updater::cli::kResultMessageId, file);
    const int configs =
        ExpectAll(text, "(/etc/actualizador/[A-Za-z0-9_.-]+\\.conf)", kConfigPath, file);
    const int logs =
        ExpectAll(text, "(/var/lib/actualizador/[A-Za-z0-9_.-]+\\.jsonl)", kDefaultLog, file);
    ExpectAll(text, "(actualizador-station@)[A-Za-z0-9%*]*\\.service", kUnitPrefix, file);
    if (file.find("station") != std::string::npos || file == "README.md") {
      EXPECT_GT(ids + configs + logs, 0) << file << " names none of the station's facts";
    }
  }
}

}  // namespace
