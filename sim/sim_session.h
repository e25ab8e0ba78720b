#pragma once
// One run of the simulator: its state, flash and controller, loaded at the
// first use of the simulated HID layer, and the trace file.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/trace.h"
#include "sim/controller.h"
#include "sim/flash.h"
#include "sim/state.h"

namespace tessaro::sim {

class Session {
 public:
  explicit Session(uint16_t buildVendorId);

  // Loads the state and flash files at the first call and starts the trace;
  // throws StateFileError, with nothing written, when they cannot be taken.
  void Begin();
  bool begun() const { return controller_ != nullptr; }

  // Valid once begun.
  State& state() { return state_; }
  Controller& controller() { return *controller_; }

  // One trace line. Lines before Begin are kept until then, and dropped if
  // the run never reaches the HID layer.
  void Trace(const std::string& line);

  // Writes the state and flash files back if the run began; a file that
  // cannot be written is reported on standard error.
  void Save();

 private:
  uint16_t buildVendorId_;
  State state_;
  Flash flash_;
  std::unique_ptr<Controller> controller_;
  trace::File trace_;
  std::vector<std::string> earlyLines_;
};

}  // namespace tessaro::sim
