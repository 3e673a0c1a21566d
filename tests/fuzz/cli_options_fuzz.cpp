// actualizador-cli's command line as any caller could give it: the input's zero-separated pieces
// are the arguments.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/cli/options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> pieces = {"actualizador-cli"};
  std::string piece;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      pieces.push_back(piece);
      piece.clear();
    } else {
      piece += static_cast<char>(data[i]);
    }
  }
  pieces.push_back(piece);
  std::vector<char*> argv;
  for (std::string& p : pieces)
    argv.push_back(p.data());
  argv.push_back(nullptr);
  updater::cli::Options options;
  char error[512];
  updater::cli::ParseCommandLine(static_cast<int>(pieces.size()), argv.data(), options, error,
                                 sizeof error);
  return 0;
}
