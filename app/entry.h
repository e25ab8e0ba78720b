#pragma once
#include <cstdint>

namespace tessaro {

// The entry point's own refusals, before any job runs.
constexpr int32_t kExitInvalidParameters = 1;  // no option that asks for work, or two jobs
constexpr int32_t kExitNoFileName = -1;        // a job without --file

// The whole tool outside its jobs: parse, check, dispatch one job, return
// its result as the exit code. The backends must be installed before.
int32_t RunTessaro(int argc, char** argv);

}  // namespace tessaro
