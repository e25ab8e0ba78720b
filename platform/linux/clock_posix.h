#pragma once
#include "base/clock.h"

namespace tessaro {

class PosixClock final : public Clock {
 public:
  UtcTime NowUtc() override;
  void SleepMs(uint32_t sleepMs) override;
};

}  // namespace tessaro
