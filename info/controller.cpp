#include "info/controller.h"

#include <cstring>

#include "info/line_capture.h"
#include "transport/registers.h"

namespace tessaro::info {

bool ReadVersion(CConnectionTLC& connection, ControllerFacts& facts) {
  LineCapture capture;
  facts.versionRead = connection.SetBasicProperties() >= 0;
  facts.versionErrors = capture.Take();
  return facts.versionRead;
}

bool ReadHead(CConnectionTLC& connection, ControllerFacts& facts) {
  LineCapture capture;
  facts.headRead = connection.ReadRegister(reg::kConfigAddr, facts.head, reg::kConfigHeadBytes) >= 0;
  facts.headErrors = capture.Take();
  if (!facts.headRead) std::memset(facts.head, 0, sizeof facts.head);
  return facts.headRead;
}

void ReadPatchState(CConnectionTLC& connection, ControllerFacts& facts) {
  LineCapture capture;
  uint8_t value[1] = {};
  facts.inUpdateProgram =
      connection.ReadRegister(reg::kPatchStateAddr, value, 1) >= 0 && value[0] == reg::kPatchReady;
  capture.Take();
}

}  // namespace tessaro::info
