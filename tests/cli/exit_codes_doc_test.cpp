// The manual page, the README and the command line's page (docs/cli.md) list the exit codes the
// program's table gives: the same codes in the same order, and in the manual page the words of
// --help.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/text_file.h"
#include "ui/cli/exit_status.h"
#include "ui/cli/options.h"

namespace {

using updater::cli::kExitCodes;

std::vector<std::string> Lines(const char* path) {
  const std::vector<std::string> lines = support::ReadLines(path);
  EXPECT_FALSE(lines.empty()) << path;
  return lines;
}

// The manual page's text as the Windows-1252 bytes it stands for; an escape not known here stays
// as it is, so that the comparison shows it.
std::string FromTroff(std::string text) {
  static const struct {
    const char* escape;
    const char* byte;
  } kEscapes[] = {{"\\['a]", "\xE1"}, {"\\['e]", "\xE9"}, {"\\['i]", "\xED"}, {"\\['o]", "\xF3"},
                  {"\\['u]", "\xFA"}, {"\\[~n]", "\xF1"}, {"\\['O]", "\xD3"}, {"\\['E]", "\xC9"}};
  for (const auto& e : kEscapes) {
    for (std::size_t at; (at = text.find(e.escape)) != std::string::npos;)
      text.replace(at, std::strlen(e.escape), e.byte);
  }
  return text;
}

// --help's words for a status in one line, as a table cell holds them.
std::string OneLine(const char* meaning) {
  std::string text = meaning;
  for (char& c : text) {
    if (c == '\n')
      c = ' ';
  }
  return text;
}

TEST(ExitCodeTable, TheManualPageListsEachCodeWithTheWordsOfHelp) {
  const std::vector<std::string> page = Lines(UPDATER_MANUAL_PAGE);
  std::size_t i = 0;
  while (i < page.size() && page[i] != ".SH C\\['O]DIGOS DE SALIDA")
    ++i;
  ASSERT_LT(i + 2, page.size()) << "no exit-code section";
  ASSERT_EQ(page[++i], ".TS");
  ++i;  // the columns' format
  std::vector<std::pair<int, std::string>> rows;
  for (++i; i < page.size() && page[i] != ".TE"; ++i) {
    const std::size_t tab = page[i].find('\t');
    ASSERT_NE(tab, std::string::npos) << page[i];
    const int code = std::stoi(page[i].substr(0, tab));
    std::string words = page[i].substr(tab + 1);
    if (words == "T{") {
      words.clear();
      for (++i; i < page.size() && page[i] != "T}"; ++i)
        words += (words.empty() ? "" : " ") + page[i];
    }
    rows.emplace_back(code, FromTroff(words));
  }
  ASSERT_EQ(rows.size(), std::size(kExitCodes));
  for (std::size_t k = 0; k < rows.size(); ++k) {
    EXPECT_EQ(rows[k].first, kExitCodes[k].status);
    EXPECT_EQ(rows[k].second, OneLine(kExitCodes[k].meaning)) << "code " << rows[k].first;
  }
}

// The English page's table: the same codes in the same order (its words are English, not --help's
// Spanish ones).
TEST(ExitCodeTable, TheEnglishManualPageListsTheSameCodesInTheSameOrder) {
  const std::vector<std::string> page = Lines(UPDATER_ENGLISH_MANUAL_PAGE);
  std::size_t i = 0;
  while (i < page.size() && page[i] != ".SH EXIT CODES")
    ++i;
  ASSERT_LT(i + 2, page.size()) << "no exit-code section";
  std::vector<int> codes;
  for (i += 3; i < page.size() && page[i] != ".TE"; ++i) {
    if (const std::size_t tab = page[i].find('\t'); tab != std::string::npos)
      codes.push_back(std::stoi(page[i].substr(0, tab)));
  }
  ASSERT_EQ(codes.size(), std::size(kExitCodes));
  for (std::size_t k = 0; k < codes.size(); ++k)
    EXPECT_EQ(codes[k], kExitCodes[k].status);
}

// The codes of a Markdown page's exit-code table, in its order.
std::vector<int> MarkdownTableCodes(const char* path) {
  const std::vector<std::string> page = Lines(path);
  std::size_t i = 0;
  while (i < page.size() && page[i] != "| Exit code | Meaning |")
    ++i;
  EXPECT_LT(i + 1, page.size()) << path << ": no exit-code table";
  std::vector<int> codes;
  for (i += 2; i < page.size() && page[i].starts_with("| "); ++i) {
    std::istringstream row(page[i].substr(2));
    int code = -1;
    std::string bar;
    row >> code >> bar;
    EXPECT_EQ(bar, "|") << path << ": " << page[i];
    codes.push_back(code);
  }
  return codes;
}

void ExpectTheTableCodes(const char* path) {
  const std::vector<int> codes = MarkdownTableCodes(path);
  ASSERT_EQ(codes.size(), std::size(kExitCodes)) << path;
  for (std::size_t k = 0; k < codes.size(); ++k)
    EXPECT_EQ(codes[k], kExitCodes[k].status) << path;
}

TEST(ExitCodeTable, TheReadmeListsTheSameCodesInTheSameOrder) {
  ExpectTheTableCodes(UPDATER_README);
}

TEST(ExitCodeTable, TheCommandLinePageListsTheSameCodesInTheSameOrder) {
  ExpectTheTableCodes(UPDATER_CLI_PAGE);
}

TEST(ExitCodeTable, HelpAndTheRecordTakeTheirWordsFromIt) {
  using updater::OpenFailure;
  using updater::RunOutcome;
  namespace cli = updater::cli;
  const std::string help = cli::HelpText();
  EXPECT_NE(help.find("\n    8  otro fallo del protocolo: falta una confirmaci\xF3n, tiempo "
                      "agotado, l\xEDnea\n       colgada\n  130  interrumpido (Ctrl+C)\nCon "
                      "--loop"),
            std::string::npos);
  for (const cli::ExitCode& code : kExitCodes) {
    char line[16];
    std::snprintf(line, sizeof line, "\n%5d  ", code.status);
    const std::string first(code.meaning, std::strcspn(code.meaning, "\n"));
    EXPECT_NE(help.find(line + first), std::string::npos) << code.status;
  }
  // Every outcome's status is in the table, with the record's words for it.
  for (RunOutcome outcome :
       {RunOutcome::kSucceeded, RunOutcome::kNoDevice, RunOutcome::kImageTooLong,
        RunOutcome::kLengthRejected, RunOutcome::kEchoMismatch, RunOutcome::kProtocolFailure,
        RunOutcome::kInterrupted, RunOutcome::kNotRun}) {
    const int status = cli::ExitStatusFor(outcome, OpenFailure::kNone);
    const cli::ExitCode* found = nullptr;
    for (const cli::ExitCode& code : kExitCodes)
      found = code.status == status ? &code : found;
    ASSERT_NE(found, nullptr) << status;
    EXPECT_EQ(cli::FailureText(outcome, OpenFailure::kNone), found->failure);
  }
  EXPECT_STREQ(cli::FailureText(RunOutcome::kNoDevice, OpenFailure::kOther),
               "no se pudo abrir el puerto");
}

}  // namespace
