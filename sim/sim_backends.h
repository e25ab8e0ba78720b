#pragma once
// tessaro-sim's backends: the simulated controller behind the HID seam and a
// clock that records every sleep in the trace. The file seam stays the
// platform's, so image files and the log are read and written as by tessaro.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <stdexcept>

namespace tessaro {

class HidDiagnosis;

namespace sim {

// The state or flash file cannot be taken. Thrown by the first call into the
// simulated HID layer, before any report is exchanged, so that the run ends
// with the files as they were; what() is the one-line message.
class StateFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Exit code of a run ended by a StateFileError, or whose state could not be
// saved (156 as a shell sees it), apart from every failure code of the
// tool's own jobs (-1 to -7, 255).
constexpr int32_t kStateFileErrorExitCode = -100;

}  // namespace sim

// Installs the simulated HID backend and clock over whatever is installed,
// for the life of the object. The simulator's files are read at the first
// call into the HID layer, and saved after every event that changes the
// controller, while the run holds the controller's lock. A save that fails
// ends the run: the event's HID call throws StateFileError. The trace is
// written line by line as events happen, so it is whole even when the
// process ends abruptly.
class SimBackends {
 public:
  // kRewrite: the trace holds this run's events (tessaro-sim); kAppend: they
  // follow those of earlier runs (tessaro-info-sim, which only looks).
  enum class Trace { kRewrite, kAppend };
  explicit SimBackends(Trace trace = Trace::kRewrite);
  ~SimBackends();
  // Lets the controller go if a handle was left open; false when a save of
  // this run failed (its line is on standard error already).
  bool Finish();
  SimBackends(const SimBackends&) = delete;
  SimBackends& operator=(const SimBackends&) = delete;

  // What tessaro-info-sim's device listing learns of the simulated host.
  HidDiagnosis& Diagnosis();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Runs a simulated program's body: a state file that cannot be taken, or a
// controller whose state was not kept, ends the run with the simulator's own
// code, since a job that ended well over a state that was not saved has not
// done what it says. So does a controller model that finds no memory (its
// flash alone takes up to 16 MiB): the files hold the last event saved.
template <typename Body>
int32_t RunSimulated(SimBackends& sim, Body body) {
  int32_t result = 0;
  try {
    result = body();
  } catch (const sim::StateFileError& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", error.what());
    return sim::kStateFileErrorExitCode;
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::fprintf(stderr, "tessaro-sim: out of memory, the simulated controller cannot be kept\n");
    return sim::kStateFileErrorExitCode;
  }
  if (!sim.Finish()) return sim::kStateFileErrorExitCode;
  return result;
}

}  // namespace tessaro
