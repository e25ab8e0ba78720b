// tessaro-bench-update: the tool itself (options, log, jobs, register
// operations) over a controller that answers every read at once and keeps
// nothing, with waits counted but not slept. Its peak memory and CPU time
// are the tool's alone; under tessaro-sim the simulated controller's flash
// and trace add their own.
#include "app/entry.h"
#include "bench/bench_fakes.h"
#include "platform/system.h"

int main(int argc, char** argv) {
  tessaro::SystemBackends system;
  tessaro::bench::InstantController controller;
  tessaro::bench::NoWaitClock clock;
  return tessaro::RunTessaro(argc, argv);
}
