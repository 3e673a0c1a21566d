// The documentation holds together: the README links every page under docs/, and every relative
// link of the README and of those pages leads to a file that is there and, for a page, to a
// heading that is there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/text_file.h"

namespace {

namespace fs = std::filesystem;

const fs::path kRoot = UPDATER_SOURCE_DIR;

std::vector<std::string> Lines(const fs::path& path) {
  const std::vector<std::string> lines = support::ReadLines(path.string());
  EXPECT_FALSE(lines.empty()) << path;
  return lines;
}

// A line's text outside its code spans.
std::string WithoutCode(const std::string& line) {
  std::string text;
  bool code = false;
  for (char c : line) {
    if (c == '`')
      code = !code;
    else if (!code)
      text += c;
  }
  return text;
}

// The targets of a page's links and pictures, "](target)", outside fenced code.
std::vector<std::string> LinkTargets(const fs::path& page) {
  std::vector<std::string> targets;
  bool fenced = false;
  for (const std::string& line : Lines(page)) {
    if (line.find("```") != std::string::npos) {
      fenced = !fenced;
      continue;
    }
    if (fenced)
      continue;
    const std::string text = WithoutCode(line);
    for (std::size_t at = text.find("]("); at != std::string::npos; at = text.find("](", at)) {
      at += 2;
      const std::size_t end = text.find(')', at);
      if (end == std::string::npos)
        break;
      std::string target = text.substr(at, end - at);
      target = target.substr(0, target.find(' '));  // a title after the address
      targets.push_back(target);
    }
  }
  return targets;
}

// A heading's anchor as GitHub makes it: lower case, spaces to hyphens, other punctuation (code
// spans' backticks included) left out.
std::string Anchor(const std::string& heading) {
  std::string anchor;
  for (char c : heading) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '-' || c == '_' || u >= 0x80)
      anchor += static_cast<char>(std::tolower(u));
    else if (c == ' ')
      anchor += '-';
  }
  return anchor;
}

std::set<std::string> Anchors(const fs::path& page) {
  std::set<std::string> anchors;
  bool fenced = false;
  for (const std::string& line : Lines(page)) {
    if (line.find("```") != std::string::npos)
      fenced = !fenced;
    if (fenced || line.empty() || line[0] != '#')
      continue;
    const std::size_t text = line.find_first_not_of('#');
    if (text != std::string::npos && line[text] == ' ')
      anchors.insert(Anchor(line.substr(text + 1)));
  }
  return anchors;
}

bool IsExternal(const std::string& target) {
  return target.starts_with("http://") || target.starts_with("https://") ||
         target.starts_with("mailto:");
}

std::vector<fs::path> Pages() {
  std::vector<fs::path> pages;
  for (const fs::directory_entry& entry : fs::directory_iterator(kRoot / "docs")) {
    if (entry.is_regular_file() && entry.path().extension() == ".md")
      pages.push_back(entry.path());
  }
  std::sort(pages.begin(), pages.end());
  return pages;
}

TEST(Documentation, TheReadmeLinksEveryPageUnderDocs) {
  const std::vector<std::string> targets = LinkTargets(kRoot / "README.md");
  std::set<std::string> linked;
  for (const std::string& target : targets)
    linked.insert(target.substr(0, target.find('#')));
  const std::vector<fs::path> pages = Pages();
  ASSERT_FALSE(pages.empty());
  for (const fs::path& page : pages)
    EXPECT_TRUE(linked.contains("docs/" + page.filename().string())) << page;
}

TEST(Documentation, EveryRelativeLinkLeadsToAFileAndHeadingThatAreThere) {
  std::vector<fs::path> pages = Pages();
  pages.push_back(kRoot / "README.md");
  for (const fs::path& page : pages) {
    for (const std::string& target : LinkTargets(page)) {
      if (IsExternal(target))
        continue;
      const std::size_t hash = target.find('#');
      const std::string file = target.substr(0, hash);
      const fs::path path = file.empty() ? page : page.parent_path() / file;
      EXPECT_TRUE(fs::exists(path)) << page.filename() << ": " << target;
      if (hash == std::string::npos || path.extension() != ".md" || !fs::exists(path))
        continue;
      EXPECT_TRUE(Anchors(path).contains(target.substr(hash + 1)))
          << page.filename() << ": " << target << " names no heading of " << path.filename();
    }
  }
}

}  // namespace
