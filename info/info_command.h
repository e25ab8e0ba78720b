#pragma once
// tessaro-info: finds the controller and says why it cannot be opened, shows
// what a firmware image or configuration file holds, and what a tessaro job
// would do with it, without changing anything in the controller. Reads only
// the VERSION block and the configuration head, as the jobs do.
#include "base/hid_diagnosis.h"

namespace tessaro::info {

// Exit codes.
constexpr int kExitOk = 0;            // found and read; the file is accepted; plan: would update
constexpr int kExitNoUpdate = 1;      // plan: would not update
constexpr int kExitRefused = 2;       // the file is refused; plan: would refuse
constexpr int kExitNoController = 3;  // no matching controller in the walk
constexpr int kExitUnreadable = 4;    // a controller matched but could not be read
constexpr int kExitBusy = 5;          // the controller is in use by another process
constexpr int kExitUsage = 64;        // the command line is wrong

int RunInfo(int argc, char** argv, HidDiagnosis& diagnosis);

}  // namespace tessaro::info
