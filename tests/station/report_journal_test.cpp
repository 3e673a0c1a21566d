// actualizador-station report over journal files that systemd-journal-remote makes from the
// journal's export format: three stations' records, broken ones among them, summed exactly.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cstdio>
#include <fstream>
#include <string>

#include "support/temp_dir.h"
#include "support/text_file.h"
#include "ui/cli/platform.h"

namespace {

constexpr char kJournalRemote[] = "/lib/systemd/systemd-journal-remote";

// One entry in the export format: the fields, then an empty line.
std::string Entry(std::uint64_t usec, const std::string& fields) {
  return "__REALTIME_TIMESTAMP=" + std::to_string(usec) +
         "\n__MONOTONIC_TIMESTAMP=1\n_BOOT_ID=0123456789abcdef0123456789abcdef\n" + fields + "\n";
}

std::string Result(const std::string& station, const std::string& sha, const char* result, int code,
                   const char* seconds, const std::string& error = "") {
  return "_HOSTNAME=" + station + "\nMESSAGE_ID=" + updater::cli::kResultMessageId +
         "\nIMAGE=/srv/FW.QMZ\nSHA256=" + sha + "\nRESULT=" + result +
         "\nEXIT_CODE=" + std::to_string(code) + "\nSECONDS=" + seconds + "\n" +
         (error.empty() ? "" : "ERROR=" + error + "\n");
}

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(StationReportJournal, SumsThreeStationsJournalsAndSurvivesBrokenRecords) {
  if (std::ifstream(kJournalRemote).fail())
    GTEST_SKIP() << kJournalRemote << " is not installed (package systemd-journal-remote)";
  const support::TempDir dir;
  const std::string a(64, 'a');
  const std::string b(64, 'b');
  std::string exported;
  std::uint64_t usec = 1765188672000000;
  for (int i = 0; i < 30; ++i)
    exported += Entry(usec += 1000000, Result("st1", a, "ok", 0, i % 2 ? "60.000" : "70.000"));
  exported += Entry(usec += 1000000, Result("st1", a, "failed", 7, "5.5", "el eco difiere"));
  exported += Entry(usec += 1000000, Result("st2", b, "failed", 4, "10", "ning\xC3\xBAn equipo"));
  exported += Entry(usec += 1000000, Result("st3", a, "ok", 0, "61.25"));
  // Broken: no RESULT, a hash that is none, a hostile 100 KB error, another program's entry.
  exported += Entry(usec += 1000000,
                    "_HOSTNAME=st3\nMESSAGE_ID=" + std::string(updater::cli::kResultMessageId) +
                        "\nSHA256=" + a + "\nEXIT_CODE=0\nSECONDS=1\n");
  exported += Entry(usec += 1000000, Result("st3", "<script>", "ok", 0, "1"));
  exported += Entry(usec += 1000000, Result("st2", b, "failed", 8, "1", std::string(100000, 'x')));
  exported += Entry(usec += 1000000, "_HOSTNAME=st3\nMESSAGE=otra cosa\n");
  const std::string input = dir.File("records.export");
  std::ofstream(input, std::ios::binary) << exported;
  ASSERT_EQ(Shell(std::string(kJournalRemote) + " --output=" + dir.File("line.journal") + " - <" +
                  input + " 2>/dev/null"),
            0);

  const std::string out = dir.File("report.json");
  ASSERT_EQ(
      Shell(std::string(STATION_PROGRAM) + " report --json --directory " + dir.path() + " >" + out),
      0);
  const std::string json = support::ReadText(out);
  EXPECT_NE(json.find("{\"station\":\"st1\",\"image\":\"/srv/FW.QMZ\",\"sha256\":\"" + a +
                      "\",\"ok\":30,\"failed\":1,\"unreadable\":0,\"yield\":0.9677,"
                      "\"median_seconds\":65.000,\"first\":\"2025-12-08T10:11:13Z\","
                      "\"last\":\"2025-12-08T10:11:43Z\",\"failures\":{\"7\":1},"
                      "\"top_errors\":{\"7\":\"el eco difiere\"}}\n"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"station\":\"st2\",\"image\":\"/srv/FW.QMZ\",\"sha256\":\"" + b +
                      "\",\"ok\":0,\"failed\":2,\"unreadable\":0,\"yield\":0.0000,"
                      "\"median_seconds\":null"),
            std::string::npos);
  EXPECT_NE(json.find("\"failures\":{\"4\":1,\"8\":1},\"top_errors\":{\"4\":\"ning\xC3\xBAn "
                      "equipo\",\"8\":\"xxx"),
            std::string::npos);
  EXPECT_NE(json.find("{\"station\":\"st3\",\"image\":\"\",\"sha256\":\"\",\"ok\":0,\"failed\":0,"
                      "\"unreadable\":2,"),
            std::string::npos);
  EXPECT_NE(
      json.find("\"station\":\"st3\",\"image\":\"/srv/FW.QMZ\",\"sha256\":\"" + a + "\",\"ok\":1,"),
      std::string::npos);

  // A window of time, and a folder that holds no journal.
  ASSERT_EQ(Shell(std::string(STATION_PROGRAM) + " report --csv --directory " + dir.path() +
                  " --since '2025-12-08 10:11:40 UTC' --until '2025-12-08 10:11:45 UTC' >" + out),
            0);
  EXPECT_NE(
      support::ReadText(out).find("\"st1\",\"/srv/FW.QMZ\",\"" + a + "\",3,1,0,0.7500,60.000,"),
      std::string::npos)
      << support::ReadText(out);
  EXPECT_EQ(Shell(std::string(STATION_PROGRAM) + " report --directory " + dir.File("none") +
                  " 2>/dev/null"),
            1);
}

}  // namespace
