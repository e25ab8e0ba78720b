#pragma once
// What the companion reads of a controller: the VERSION block and the
// configuration head, each with one read as the jobs make it, no sleeps.
#include <cstdint>
#include <string>
#include <vector>

#include "transport/connection.h"

namespace tessaro::info {

struct ControllerFacts {
  bool found = false;
  std::string path;
  // Every matching collection of the walk, in its order.
  std::vector<std::string> matches;
  bool versionRead = false;
  std::vector<std::string> versionErrors;
  bool headRead = false;
  uint8_t head[3] = {};
  std::vector<std::string> headErrors;
  // 0x5095 reads 0xDD: the controller is in its patch mode or update
  // program, where a firmware update that did not finish leaves it.
  bool inUpdateProgram = false;
};

// The VERSION block as every job reads it (five reads at most, no sleeps).
bool ReadVersion(CConnectionTLC& connection, ControllerFacts& facts);

// The configuration head, one read as the configuration job makes it; a
// failed read leaves zeros, as in the job.
bool ReadHead(CConnectionTLC& connection, ControllerFacts& facts);

// The patch-state register, one read; a failed read tells nothing.
void ReadPatchState(CConnectionTLC& connection, ControllerFacts& facts);

}  // namespace tessaro::info
