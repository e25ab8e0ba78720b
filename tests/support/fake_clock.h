#pragma once
// A clock that never waits: it records every sleep and moves its time on.
#include <cstdint>
#include <vector>

#include "platform/clock.h"

namespace tessaro::testing {

class FakeClock final : public Clock {
 public:
  FakeClock() : previous_(InstallClock(this)) {}
  ~FakeClock() override { InstallClock(previous_); }
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  UtcTime NowUtc() override { return now; }
  void SleepMs(uint32_t sleepMs) override {
    sleeps.push_back(sleepMs);
    totalSleptMs += sleepMs;
  }

  UtcTime now{2024, 3, 5, 6, 7, 8, 9};
  std::vector<uint32_t> sleeps;
  uint64_t totalSleptMs = 0;

 private:
  Clock* previous_;
};

}  // namespace tessaro::testing
