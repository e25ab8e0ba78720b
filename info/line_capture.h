#pragma once
// The tool's lines while a loader, a decision or a register read runs: kept
// as the reason instead of printed or written to a log file.
#include <cstdint>
#include <string>
#include <vector>

#include "base/log.h"

namespace tessaro::info {

class LineCapture {
 public:
  LineCapture();
  ~LineCapture();
  LineCapture(const LineCapture&) = delete;
  LineCapture& operator=(const LineCapture&) = delete;

  // The lines since the last call, each without its line end.
  std::vector<std::string> Take();

 private:
  static void Sink(const char* text);

  static std::vector<std::string>* lines_;
  std::vector<std::string> captured_;
  LogSink previousSink_;
  int32_t previousMask_;
};

}  // namespace tessaro::info
