#include <cstdio>

#include "app/entry.h"
#include "base/system.h"
#include "sim/sim_backends.h"

int main(int argc, char** argv) {
  tessaro::SystemBackends system;
  tessaro::SimBackends sim;
  int result = 0;
  try {
    result = tessaro::RunTessaro(argc, argv);
  } catch (const tessaro::sim::StateFileError& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", error.what());
    return tessaro::sim::kStateFileErrorExitCode;
  }
  // A job that ended well over a controller whose state was not kept has not
  // done what it says.
  if (!sim.Finish()) return tessaro::sim::kStateFileErrorExitCode;
  return result;
}
