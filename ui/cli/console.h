#pragma once

#include <string_view>

namespace updater::cli {

// The program's standard output and standard error. The program's own texts are Windows-1252;
// an implementation converts them to the encoding of the terminal or console they reach. Each
// call writes whole lines, so that lines of parallel programs sharing a terminal stay whole.
class Console {
 public:
  virtual ~Console() = default;
  // Standard error, converted.
  virtual void Error(std::string_view windows1252) = 0;
  // Standard output, converted (help, version).
  virtual void Output(std::string_view windows1252) = 0;
  // Standard output, the bytes as given (JSON lines are UTF-8 on every platform).
  virtual void OutputBytes(std::string_view bytes) = 0;
  // Whether standard error is a terminal (a console window on Windows), where a progress line
  // may be redrawn in place.
  virtual bool ErrorIsTerminal() = 0;
  // The width in columns of the terminal standard error shows on; 0 when unknown. Asked at each
  // redraw, so that a resized terminal is followed.
  virtual int ErrorColumns() { return 0; }
};

}  // namespace updater::cli
