#pragma once
// The simulator's files in the current directory: the state (JSON), the
// flash image and the trace. Plain standard-library file access, so that any
// program built around the controller model can use them.
#include <cstdint>
#include <string>

#include "sim/flash.h"
#include "sim/state.h"

namespace tessaro::sim {

constexpr const char* kStateFileName = "tessaro-sim.json";
constexpr const char* kFlashFileName = "tessaro-sim.flash";
constexpr const char* kTraceFileName = "tessaro-sim.trace";

// Reads the state file over `state` (which holds the factory defaults; a
// missing file keeps them) and the flash file into `flash` (a missing file
// leaves it blank). False with a one-line `error` that begins with the
// file's name and names the key at fault; no file is changed.
bool LoadStateFiles(State& state, Flash& flash, std::string& error);

// Writes the state file and the flash file. False with a one-line `error`
// when one of them cannot be written.
bool SaveStateFiles(const State& state, const Flash& flash, uint16_t buildVendorId, std::string& error);

}  // namespace tessaro::sim
