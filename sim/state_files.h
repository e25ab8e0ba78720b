#pragma once
// The simulator's files in the current directory: the state (JSON), the
// flash image and the trace. Plain standard-library file access, so that any
// program built around the controller model can use them.
//
// A kill at any moment must leave each file whole: the state is written to
// a new file that is then renamed over the old one; the flash file is
// changed in place, one write of the changed range, which a killed process
// either made or did not.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/flash.h"
#include "sim/state.h"

namespace tessaro::sim {

constexpr const char* kStateFileName = "tessaro-sim.json";
constexpr const char* kFlashFileName = "tessaro-sim.flash";
constexpr const char* kTraceFileName = "tessaro-sim.trace";
// The state's new version before it is renamed over the old one.
constexpr const char* kStateTempFileName = "tessaro-sim.json.new";

// The files of one simulated controller. The first is the one above; on a
// host of several, controller N (2 and up) has "tessaro-sim-N.json",
// "tessaro-sim-N.flash" and "tessaro-sim-N.trace".
struct SimFiles {
  std::string state = kStateFileName;
  std::string flash = kFlashFileName;
  std::string trace = kTraceFileName;
  std::string stateTemp = kStateTempFileName;
};
SimFiles ControllerFiles(uint32_t number);

// Where a file of the simulator is: in the folder that the environment
// variable TESSARO_SIM_DIR names, else in the current directory. Messages
// name the file alone.
std::string SimFilePath(const std::string& name);

// False with a one-line `error` naming the file when one of the
// simulator's paths holds something other than a regular file (a FIFO, a
// folder): opening it could block or write where no file is.
bool CheckStatePaths(std::string& error, const SimFiles& files = SimFiles());

// Reads the state file over `state` (which holds the factory defaults; a
// missing file keeps them). False with a one-line `error` that begins with
// the file's name and names the key at fault; no file is changed.
bool LoadState(State& state, std::string& error, const SimFiles& files = SimFiles());
// Reads the flash file into `flash` (a missing file leaves it blank).
bool LoadFlash(Flash& flash, std::string& error, const SimFiles& files = SimFiles());
// Both of the above.
bool LoadStateFiles(State& state, Flash& flash, std::string& error);

// Replaces the state file by one that holds `state`. A state file that is
// read-only (no write permission at all) is refused, not replaced. False
// with a one-line `error`; the old file is then as it was.
bool SaveState(const State& state, uint16_t buildVendorId, std::string& error,
               const SimFiles& files = SimFiles());

// Writes bytes [begin, end) of the flash into the flash file, in place.
bool SaveFlashRange(const Flash& flash, size_t begin, size_t end, std::string& error,
                    const SimFiles& files = SimFiles());

}  // namespace tessaro::sim
