#include "sim/sim_clock.h"

#include "base/trace.h"

namespace tessaro::sim {

void SimClock::SleepMs(uint32_t sleepMs) {
  hid_.TraceSleep(trace::Sleep(sleepMs));
  // Before the state is read, virtual time is not known to be asked for.
  if (!hid_.VirtualTime()) underlying_.SleepMs(sleepMs);
}

}  // namespace tessaro::sim
