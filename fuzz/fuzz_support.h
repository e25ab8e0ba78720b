#pragma once
// What both fuzz targets share: one file in memory that each input replaces,
// and a log that formats every message (so that its arguments are checked
// too) and drops it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/log.h"
#include "tests/support/log_capture.h"
#include "tests/support/memory_files.h"

namespace tessaro::fuzzing {

// The memory file system, installed at the first input and kept for the
// whole run.
inline testing::MemoryFileSystem& Files() {
  static testing::LogCapture log(kLogError | kLogDebug, false);
  static testing::MemoryFileSystem files;
  return files;
}

// A broken invariant is a finding: libFuzzer saves the input on abort.
#define FUZZ_CHECK(condition)                                                       \
  do {                                                                              \
    if (!(condition)) {                                                             \
      std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

}  // namespace tessaro::fuzzing
