#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace support {

// A file of the tree as the documentation tests read it: whole, or line by line without the line
// ends. Empty when it cannot be read.
inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

}  // namespace support
