// The pages written in both languages say the same: each manual page in docs/man/ (Spanish,
// installed in es/man1) and its English twin in docs/man/en/ (installed in man1) have the same
// sections and options; the Windows user's page and its Spanish one (README-Windows.txt and
// LEEME-Windows.txt) the same headings, table rows, numbers and code. A change to one page that
// misses the other shows.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/text_file.h"

namespace {

namespace fs = std::filesystem;

const fs::path kPages = fs::path(UPDATER_SOURCE_DIR) / "docs" / "man";

struct Outline {
  int sections = 0;
  int subsections = 0;
  std::set<std::string> options;
  std::set<std::string> messageIds;
};

Outline Read(const fs::path& page) {
  Outline outline;
  const std::vector<std::string> lines = support::ReadLines(page.string());
  EXPECT_FALSE(lines.empty()) << page;
  const std::regex option(R"(\\-\\-([a-z0-9]+(?:\\-[a-z0-9]+)*))");
  const std::regex id("MESSAGE_ID=([0-9a-f]+)");
  for (const std::string& line : lines) {
    outline.sections += line.starts_with(".SH ");
    outline.subsections += line.starts_with(".SS ");
    for (auto it = std::sregex_iterator(line.begin(), line.end(), option);
         it != std::sregex_iterator(); ++it)
      outline.options.insert((*it)[1].str());
    for (auto it = std::sregex_iterator(line.begin(), line.end(), id); it != std::sregex_iterator();
         ++it)
      outline.messageIds.insert((*it)[1].str());
  }
  return outline;
}

TEST(ManualPages, EachSpanishPageHasAnEnglishOneWithTheSameSectionsAndOptions) {
  int pages = 0;
  for (const auto& entry : fs::directory_iterator(kPages)) {
    if (entry.path().extension() != ".1")
      continue;
    ++pages;
    const fs::path english = kPages / "en" / entry.path().filename();
    ASSERT_TRUE(fs::exists(english)) << english;
    const Outline es = Read(entry.path());
    const Outline en = Read(english);
    EXPECT_EQ(es.sections, en.sections) << english;
    EXPECT_EQ(es.subsections, en.subsections) << english;
    EXPECT_EQ(es.options, en.options) << english;
    EXPECT_EQ(es.messageIds, en.messageIds) << english;
  }
  EXPECT_EQ(pages, 4);
  for (const auto& entry : fs::directory_iterator(kPages / "en"))
    EXPECT_TRUE(fs::exists(kPages / entry.path().filename())) << entry.path() << " has no twin";
}

struct MarkdownOutline {
  int headings = 0;
  int tableRows = 0;
  std::multiset<std::string> numbers;  // digits only: "65,536" and "65.536" alike
  std::set<std::string> code;
};

MarkdownOutline ReadMarkdown(const fs::path& page) {
  MarkdownOutline outline;
  const std::vector<std::string> lines = support::ReadLines(page.string());
  EXPECT_FALSE(lines.empty()) << page;
  const std::regex number(R"(\d+(?:[.,]\d+)*)");
  const std::regex code("`([^`]+)`");
  for (const std::string& line : lines) {
    if (line.starts_with("!["))
      continue;  // a picture, in the English page only
    outline.headings += line.starts_with("#");
    outline.tableRows += line.starts_with("|");
    for (auto it = std::sregex_iterator(line.begin(), line.end(), number);
         it != std::sregex_iterator(); ++it) {
      std::string digits;
      for (char c : it->str())
        digits += std::isdigit(static_cast<unsigned char>(c)) ? std::string(1, c) : "";
      outline.numbers.insert(digits);
    }
    for (auto it = std::sregex_iterator(line.begin(), line.end(), code);
         it != std::sregex_iterator(); ++it) {
      std::string text = (*it)[1].str();
      // Placeholders are words of each language.
      if (text.find('<') == std::string::npos && text.find("FILE") == std::string::npos &&
          text.find("ARCHIVO") == std::string::npos)
        outline.code.insert(text);
    }
  }
  return outline;
}

TEST(WindowsPage, TheSpanishPageHasTheSameHeadingsRowsNumbersAndCode) {
  const MarkdownOutline en = ReadMarkdown(fs::path(UPDATER_SOURCE_DIR) / "docs" / "windows.md");
  const MarkdownOutline es =
      ReadMarkdown(fs::path(UPDATER_SOURCE_DIR) / "docs" / "es" / "windows.md");
  EXPECT_EQ(en.headings, es.headings);
  EXPECT_EQ(en.tableRows, es.tableRows);
  EXPECT_EQ(en.numbers, es.numbers);
  EXPECT_EQ(en.code, es.code);
}

}  // namespace
