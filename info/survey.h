#pragma once
// One walk over the host's HID interfaces, as the connection makes it, that
// keeps what the connection throws away: every interface with its facts,
// whether it could be opened and why not, whether it matches this build, and
// which one tessaro would take. No open attempts beyond the one walk, no
// sleeps.
#include <cstdint>
#include <string>
#include <vector>

#include "base/hid_diagnosis.h"
#include "transport/connection.h"

namespace tessaro::info {

struct SurveyEntry {
  std::string path;  // UTF-8
  uint32_t collection = 0;
  InterfaceFacts facts;  // usages and vendor from the opened interface where it could be opened
  bool opened = false;
  uint32_t openError = 0;
  OpenProblem problem;
  bool matches = false;  // vendor ID, usage page 0xFFF0 and usage 0x0001 of this build
  bool taken = false;    // the first match that tessaro's walk would keep
  // The first match, held by another process: tessaro sends it nothing and
  // takes no other collection in its place.
  bool busy = false;
  uint32_t holderPid = 0;  // 0 when the platform cannot tell
};

struct Survey {
  std::vector<SurveyEntry> entries;
  std::vector<std::string> hostNotes;
  int taken = -1;  // index into entries, -1 when none
  int busy = -1;   // index of the match another process holds, -1 when none
};

// The walk; the interface tessaro would take is left open and claimed in
// connection (opened = 1), every other one is closed.
Survey RunSurvey(HidDiagnosis& diagnosis, CConnectionTLC& connection);

}  // namespace tessaro::info
