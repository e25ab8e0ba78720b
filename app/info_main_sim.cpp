#include "base/system.h"
#include "info/info_command.h"
#include "sim/sim_backends.h"

int main(int argc, char** argv) {
  tessaro::OpenStandardStreams();
  tessaro::SystemBackends system;
  tessaro::SimBackends sim(tessaro::SimBackends::Trace::kAppend);
  return tessaro::RunSimulated(sim, [&] { return tessaro::info::RunInfo(argc, argv, sim.Diagnosis()); });
}
