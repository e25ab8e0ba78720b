#pragma once
// What the end-to-end tests of the jobs share: a fresh simulated controller
// that never really sleeps, the sample files, and the expected console,
// log file, trace and flash file of a run.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/e2e/e2e_harness.h"
#include "tests/support/wire_timeline.h"

namespace tessaro::e2e {

constexpr const char* kStateFile = "tessaro-sim.json";
constexpr const char* kTraceFile = "tessaro-sim.trace";
constexpr const char* kFlashFile = "tessaro-sim.flash";

// The simulator's path of its Nth collection (from 1), as devices prints it.
std::string SimPath(int number);
// A file of controller N on a host of several: "tessaro-sim.<ext>" for the
// first, "tessaro-sim-N.<ext>" for the others.
std::string ControllerFile(int number, const std::string& ext);

// The state file of a fresh controller with virtual time, plus more keys
// (JSON members without the braces, e.g. R"("vid": "01000002")").
InputFile SimState(const std::string& moreKeys = "");

// The sample files under the names the tests use.
InputFile SampleFirmware(const std::string& name = "fw.bin");
InputFile SampleConfig(const std::string& name = "cfg.txt");

// The run's trace as a compact timeline (wire_timeline.h), and raw.
std::vector<std::string> Timeline(const RunResult& run);
std::vector<std::string> TraceLines(const RunResult& run);
// The "sleep N" values of the trace, in order.
std::vector<uint32_t> Sleeps(const RunResult& run);

// The log file that a run whose messages were these would leave: each
// behind a masked timestamp, then the closing "\n", in the build's text mode.
std::string LogFileOf(const std::vector<std::string>& messages);
// The console copy of the same messages, after the entry point's own text.
std::string ConsoleOf(const std::string& entryText, const std::vector<std::string>& messages);
// The log file as it was left, timestamps masked.
std::string LogFile(const RunResult& run);

// The progress messages of one sub-firmware of `length` bytes, with the
// closing "info      : \n".
std::vector<std::string> Progress(uint32_t length);

// Appends b to a.
void Append(std::vector<std::string>& a, const std::vector<std::string>& b);

// The flash file a fresh controller holds after the image's sub-firmwares of
// the selected types (bit type % 32 of mask) were written.
std::string ExpectedFlash(const std::string& image, uint32_t mask);

}  // namespace tessaro::e2e
