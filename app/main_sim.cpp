#include "app/entry.h"
#include "base/system.h"
#include "sim/sim_backends.h"

int main(int argc, char** argv) {
  tessaro::OpenStandardStreams();
  tessaro::SystemBackends system;
  tessaro::SimBackends sim;
  return tessaro::RunSimulated(sim, [&] { return tessaro::RunTessaro(argc, argv); });
}
