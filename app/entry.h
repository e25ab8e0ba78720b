#pragma once
#include <cstdint>

namespace tessaro {

// The whole tool outside its jobs: parse, check, dispatch one job, return
// its result as the exit code. The backends must be installed before.
int32_t RunTessaro(int argc, char** argv);

}  // namespace tessaro
