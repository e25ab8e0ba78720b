#pragma once
// The clock seam: every wait of the tool and the log's timestamps go through
// it, so that tests replace it and never really wait.
#include <cstdint>

namespace tessaro {

struct UtcTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual UtcTime NowUtc() = 0;
  virtual void SleepMs(uint32_t sleepMs) = 0;
};

// The installed clock. The program installs the platform's clock at start-up;
// tests install a fake. Returns the clock installed before; nullptr installs
// a clock that never sleeps and reads all zeros.
Clock& TheClock();
Clock* InstallClock(Clock* clock);

// Shorthand for TheClock().SleepMs().
inline void SleepMs(uint32_t sleepMs) { TheClock().SleepMs(sleepMs); }

}  // namespace tessaro
