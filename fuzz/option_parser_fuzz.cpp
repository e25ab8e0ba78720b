// Argument vectors built from the input: NUL bytes separate the arguments,
// the first one is the program name (an empty input is argc 0). Each vector
// goes through the parser with the tool's own declarations, and, when it
// would not end the process (no help, no error), through the whole entry
// point: there the jobs find no controller and the clock never sleeps, so
// every job ends with its "not found" value, which a small model of the
// dispatch predicts.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/entry.h"
#include "app/options.h"
#include "base/log.h"
#include "cmdline/cmdline.h"
#include "fuzz/fuzz_support.h"

namespace tessaro::fuzzing {
namespace {

// The arguments a vector may hold; more only repeat what these reach.
constexpr size_t kMaxArguments = 64;

// The tool's own declarations, with "help" declared as the parser adds it.
void DeclareToolOptions(cmdline::parser& options) {
  DeclareOptions(options);
  options.addFlag("help", '?', "print this message");
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsKnownError(const std::string& error) {
  static const char* const kPrefixes[] = {"argument number must be longer than 0", "short option '",
                                          "undefined option: --",                  "option needs value: --",
                                          "option value is invalid: --",           "undefined short option: -",
                                          "ambiguous short option: -",             "need option: --"};
  for (const char* prefix : kPrefixes) {
    if (StartsWith(error, prefix)) return true;
  }
  return false;
}

// The exit code of a run whose command line parsed, with no device present:
// the refusals of the entry point, the version, and each job's failure value.
int32_t ExpectedExit(cmdline::parser& options, int argc) {
  const bool firmware = options.isSet("firmware");
  const bool config = options.isSet("config");
  const bool file = options.isSet("file");
  const bool prop = options.isSet("prop");
  if (argc < 2 || !(firmware || config || file || prop || options.isSet("version"))) return 1;
  if (firmware && config) return 1;
  if (options.isSet("version")) return 0;
  if (!file && !prop) return -1;
  if (prop) {
    std::string word = options.value<std::string>("prop");
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (word == "pid" || word == "vid") return -1;
    if (word == "sensorid" || word == "cfgver") return 255;
    return 0;
  }
  return firmware || config ? -1 : 0;
}

}  // namespace
}  // namespace tessaro::fuzzing

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The entry point prints to standard output and appends to the log file
  // in the current directory: the first goes nowhere, the second into a
  // folder of this run's own.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  static char folder[] = "/tmp/tessaro-fuzz-options-XXXXXX";
  if (mkdtemp(folder) == nullptr || chdir(folder) != 0) std::abort();
  std::atexit([] {
    std::remove((std::string(folder) + "/TessaroLogFile.txt").c_str());
    rmdir(folder);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  using namespace tessaro;
  using namespace tessaro::fuzzing;

  std::vector<std::string> arguments;
  if (size > 0) {
    arguments.emplace_back();
    for (size_t i = 0; i < size && arguments.size() <= kMaxArguments; ++i) {
      if (bytes[i] == 0) {
        arguments.emplace_back();
      } else {
        arguments.back() += static_cast<char>(bytes[i]);
      }
    }
    if (arguments.size() > kMaxArguments) arguments.pop_back();
  }
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(arguments.size());

  cmdline::parser options;
  DeclareToolOptions(options);
  const bool ok = options.parseArgs(argc, argv.data());
  const std::vector<std::string> errors = options.errors();
  FUZZ_CHECK(ok == errors.empty());
  FUZZ_CHECK(options.firstError() == (errors.empty() ? std::string() : errors.front()));
  for (const std::string& error : errors) FUZZ_CHECK(IsKnownError(error));
  if (argc < 1) {
    FUZZ_CHECK(errors.size() == 1);
    return 0;
  }
  const std::string usage = options.usageText();
  FUZZ_CHECK(StartsWith(usage, "usage: " + arguments[0] + " [options] ... \noptions:\n"));
  FUZZ_CHECK(usage.back() == '\n');

  // A second parse of the same vector finds the same errors.
  FUZZ_CHECK(options.parseArgs(argc, argv.data()) == ok);
  FUZZ_CHECK(options.errors() == errors);

  if (!ok || options.isSet("help")) return 0;
  // Each run may open the log file; its size rule then keeps the file of a
  // long fuzzing run below the limit.
  logSizeRuleRun = false;
  const int32_t exitCode = RunTessaro(argc, argv.data());
  logSink = nullptr;
  logMask = 1;
  FUZZ_CHECK(logFile == kInvalidFileHandle);
  FUZZ_CHECK(exitCode == ExpectedExit(options, argc));
  return 0;
}
