#pragma once
// Collects every log line in memory for the life of the object, with the
// mask the test asks for; restores the log's state when it ends. With keep
// false every line is still formatted, then dropped (for benchmarks).
#include <cstdint>
#include <string>

#include "base/log.h"

namespace tessaro::testing {

class LogCapture {
 public:
  explicit LogCapture(int32_t mask = 3, bool keep = true);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Everything logged so far, in order, as one text.
  const std::string& text() const;
  void clear();

 private:
  LogSink previousSink_;
  int32_t previousMask_;
};

}  // namespace tessaro::testing
