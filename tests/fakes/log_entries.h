#pragma once

#include <string>
#include <vector>

#include "model/reporter.h"

namespace fakes {

// The log split into its entries, each without its CR LF.
inline std::vector<std::string> LogEntries(const updater::Reporter& reporter) {
  std::vector<std::string> entries;
  const std::string log(reporter.m_log, reporter.log_length());
  for (std::size_t start = 0, end; (end = log.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    entries.push_back(log.substr(start, end - start));
  }
  return entries;
}

}  // namespace fakes
