#pragma once
// A clock that never waits: it records every sleep and moves its time on.
#include <cstdint>
#include <vector>

#include "base/seams.h"

namespace tessaro::testing {

class FakeClock final : public Clock {
 public:
  FakeClock() = default;
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  UtcTime NowUtc() override { return now; }
  void SleepMs(uint32_t sleepMs) override {
    if (recordSleeps) sleeps.push_back(sleepMs);
    totalSleptMs += sleepMs;
  }

  UtcTime now{2024, 3, 5, 6, 7, 8, 9};
  std::vector<uint32_t> sleeps;
  // false: only the total counts, for runs of millions of sleeps (benchmarks).
  bool recordSleeps = true;
  uint64_t totalSleptMs = 0;

 private:
  Installed<Clock> installed_{this};
};

}  // namespace tessaro::testing
