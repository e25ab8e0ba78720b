#pragma once
#include "cmdline/cmdline.h"

namespace tessaro {

// The tool's options, in the order the usage text lists them.
void DeclareOptions(cmdline::parser& options);

}  // namespace tessaro
