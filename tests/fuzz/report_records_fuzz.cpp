// Journal records as a hostile station could send them, summed and written in the report's three
// forms: the input's lines are the fields of one record after another (seven lines a record).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ui/station/report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace updater::station;
  std::vector<std::string_view> lines;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  ReportSums sums;
  for (std::size_t i = 0; i + 7 <= lines.size(); i += 7) {
    std::uint64_t usec = 0;
    for (const char c : lines[i + 6])
      usec = usec * 31 + static_cast<unsigned char>(c);
    sums.Add({lines[i], lines[i + 1], lines[i + 2], lines[i + 3], lines[i + 4], lines[i + 5],
              lines[i + 6], usec});
  }
  const std::vector<ReportGroup> groups = sums.Groups();
  ReportJson(groups);
  ReportCsv(groups);
  ReportTable(groups, [](std::uint64_t) { return std::string("t"); });
  return 0;
}
