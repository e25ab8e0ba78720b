#include <cstdio>

#include "app/entry.h"
#include "base/system.h"
#include "sim/sim_backends.h"

int main(int argc, char** argv) {
  tessaro::SystemBackends system;
  tessaro::SimBackends sim;
  try {
    return tessaro::RunTessaro(argc, argv);
  } catch (const tessaro::sim::StateFileError& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", error.what());
    return tessaro::sim::kStateFileErrorExitCode;
  }
}
