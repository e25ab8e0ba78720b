#include "sim/sim_clock.h"

#include <string>

namespace tessaro::sim {

void SimClock::SleepMs(uint32_t sleepMs) {
  session_.Trace("sleep " + std::to_string(sleepMs));
  // Before the state is read, virtual time is not known to be asked for.
  if (!(session_.begun() && session_.state().virtualTime)) underlying_.SleepMs(sleepMs);
}

}  // namespace tessaro::sim
