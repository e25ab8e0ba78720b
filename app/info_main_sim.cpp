#include <cstdio>

#include "info/info_command.h"
#include "platform/system.h"
#include "sim/sim_backends.h"

int main(int argc, char** argv) {
  tessaro::SystemBackends system;
  tessaro::SimBackends sim;
  try {
    return tessaro::info::RunInfo(argc, argv, sim.Diagnosis());
  } catch (const tessaro::sim::StateFileError& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", error.what());
    return tessaro::sim::kStateFileErrorExitCode;
  }
}
