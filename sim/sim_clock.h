#pragma once
// The clock of tessaro-sim: every sleep goes into the trace; it is slept on
// the clock installed before unless the state asks for virtual time. The
// time of day is always the one installed before, so log stamps stay real.
#include "base/clock.h"
#include "sim/sim_hid.h"

namespace tessaro::sim {

class SimClock final : public Clock {
 public:
  SimClock(SimHid& hid, Clock& underlying) : hid_(hid), underlying_(underlying) {}

  UtcTime NowUtc() override { return underlying_.NowUtc(); }
  void SleepMs(uint32_t sleepMs) override;

 private:
  SimHid& hid_;
  Clock& underlying_;
};

}  // namespace tessaro::sim
