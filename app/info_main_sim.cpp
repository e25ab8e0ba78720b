#include <cstdio>

#include "base/system.h"
#include "info/info_command.h"
#include "sim/sim_backends.h"

int main(int argc, char** argv) {
  tessaro::SystemBackends system;
  tessaro::SimBackends sim;
  int result = 0;
  try {
    result = tessaro::info::RunInfo(argc, argv, sim.Diagnosis());
  } catch (const tessaro::sim::StateFileError& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", error.what());
    return tessaro::sim::kStateFileErrorExitCode;
  }
  if (!sim.Finish()) return tessaro::sim::kStateFileErrorExitCode;
  return result;
}
