// tessaro-bench-update: the tool itself (options, log, jobs, register
// operations) over a controller that answers every read at once and keeps
// nothing, with waits counted but not slept. Its peak memory and CPU time
// are the tool's alone; under tessaro-sim the simulated controller's flash
// and trace add their own.
#include "app/entry.h"
#include "base/system.h"
#include "bench/bench_fakes.h"
#include "tests/support/fake_clock.h"

int main(int argc, char** argv) {
  tessaro::SystemBackends system;
  tessaro::bench::InstantController controller;
  tessaro::testing::FakeClock clock;
  clock.recordSleeps = false;
  return tessaro::RunTessaro(argc, argv);
}
