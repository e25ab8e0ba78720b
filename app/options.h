#pragma once
// tessaro's options: declared for the parser, then read once into one
// RunOptions that the run records keep and the dispatch runs.
#include <cstdint>
#include <optional>
#include <string>

#include "cmdline/cmdline.h"
#include "update/subfw_kinds.h"

namespace tessaro {

// The job a command line chooses, once the entry point's checks let it run.
enum class JobKind { kNone, kFirmware, kConfig, kQuery };

// What --prop names. The word is matched with ASCII case ignored; a word
// that names none runs nothing and leaves the exit code at 0.
enum class Property { kUnknown, kPid, kVid, kSensorId, kCfgVersion };

// What the command line said, as the entry point read it.
struct RunOptions {
  bool firmware = false;
  bool config = false;
  std::optional<std::string> prop;  // as given, before lower-casing
  std::optional<std::string> file;
  bool ignoreVer = false;
  uint32_t flag = kDefaultSubFwMask;
  bool flagGiven = false;
  bool debug = false;
  bool version = false;
};

// The tool's options, in the order the usage text lists them.
void DeclareOptions(cmdline::parser& options);
// The parsed options, read once.
RunOptions ReadOptions(cmdline::parser& options);
// The query a --prop option chooses over a job, configuration over firmware.
JobKind ChosenJob(const RunOptions& options);

// ASCII only: under a Turkish locale tolower('I') is not 'i', and
// "sensorID" or "PID" would run nothing.
std::string LowerCase(std::string text);
Property PropertyOf(const std::string& word);

}  // namespace tessaro
