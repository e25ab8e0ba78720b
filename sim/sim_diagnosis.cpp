#include "sim/sim_diagnosis.h"

#include "transport/registers.h"

namespace tessaro::sim {

InterfaceFacts SimDiagnosis::Describe(const HidInterface& interface) {
  InterfaceFacts facts;
  uint16_t vendorId = 0;
  bool matching = false;
  if (!hid_.Describe(interface, vendorId, matching)) return facts;
  facts.bus = "I2C";
  facts.haveIds = true;
  facts.vendorId = vendorId;
  facts.productId = kSimProductId;
  facts.haveUsages = true;
  facts.usagePage = matching ? reg::kUsagePage : kOtherUsagePage;
  facts.usage = matching ? reg::kUsage : kOtherUsage;
  return facts;
}

OpenProblem SimDiagnosis::ExplainOpenFailure(const HidInterface&, const InterfaceFacts&,
                                                   uint32_t error) {
  OpenProblem problem;
  problem.error = error == kErrorFileNotFound ? "error 2 (the collection is gone)" : "error " + std::to_string(error);
  return problem;
}

}  // namespace tessaro::sim
