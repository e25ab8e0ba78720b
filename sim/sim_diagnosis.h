#pragma once
// The device listing's view of the simulated host: one HID-over-I2C device
// whose collections the state lays out. Its collections always open, so
// there is never an open error to explain.
#include "base/hid_diagnosis.h"
#include "sim/sim_hid.h"

namespace tessaro::sim {

// The product ID the simulated device reports.
constexpr uint16_t kSimProductId = 0x0001;

class SimDiagnosis final : public HidDiagnosis {
 public:
  explicit SimDiagnosis(SimHid& hid) : hid_(hid) {}
  InterfaceFacts Describe(const HidInterface& interface) override;
  OpenProblem ExplainOpenFailure(const HidInterface& interface, const InterfaceFacts& facts,
                                       uint32_t error) override;
  std::vector<std::string> HostNotes() override { return {}; }

 private:
  SimHid& hid_;
};

}  // namespace tessaro::sim
