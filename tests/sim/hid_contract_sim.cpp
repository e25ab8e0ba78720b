// The HID contract against tessaro-sim's backends: the device is described
// in a state file, and the wire events are read back from the trace.
#include <sstream>

#include "sim/hex.h"
#include "sim/state_files.h"
#include "tests/sim/sim_harness.h"
#include "tests/transport/hid_contract.h"

namespace tessaro::testing {
namespace {

std::string CountersJson(const std::map<uint16_t, int>& counters) {
  std::string text = "{";
  for (const auto& [address, count] : counters) {
    if (text.size() > 1) text += ", ";
    text += "\"" + sim::ToHexNumber(address, 4) + "\": " + std::to_string(count);
  }
  return text + "}";
}

class SimHarness final : public HidContractHarness {
 public:
  void Setup(const ContractDevice& device) override {
    folder_ = std::make_unique<SimFolder>();
    const uint16_t vendorId = device.foreignVendor ? static_cast<uint16_t>(kVendorId ^ 0x5A5A) : kVendorId;
    folder_->WriteState(
        "{\"present\": " + std::string(device.present ? "true" : "false") +
        ", \"vendorId\": " + std::to_string(vendorId) +
        ", \"otherCollections\": " + std::to_string(device.otherCollections) +
        ", \"matchingCollections\": " + std::to_string(device.matchingCollections) + ", \"pid\": \"" + device.pid +
        "\", \"vid\": \"" + sim::ToHex(device.vid.data(), device.vid.size()) +
        "\", \"sensorByte\": " + std::to_string(device.sensorByte) + ", \"config\": \"" +
        sim::ToHex(device.config.data(), device.config.size()) + "\", \"faults\": {\"openFailures\": " +
        std::to_string(device.openFailures) + ", \"readFailures\": " + CountersJson(device.readFailures) +
        ", \"lengthMismatch\": " + CountersJson(device.lengthMismatch) +
        ", \"writeFailures\": " + CountersJson(device.writeFailures) + "}}");
    // Real time, slept on the fake clock beneath: the sleeps are counted
    // there as well as traced.
    clock_ = std::make_unique<FakeClock>();
    sim_ = std::make_unique<SimBackends>();
  }

  // The wire events; the trace's sleep lines are the clock's business.
  std::vector<std::string> Trace() override {
    std::vector<std::string> lines;
    for (const auto& line : folder_ ? folder_->Trace() : std::vector<std::string>{}) {
      if (line.compare(0, 6, "sleep ") != 0) lines.push_back(line);
    }
    return lines;
  }

  uint64_t SleptMs() override { return clock_ ? clock_->totalSleptMs : 0; }


 private:
  // Ended in reverse: the backends write their files into the folder, over
  // the clock they sleep on.
  std::unique_ptr<SimFolder> folder_;
  std::unique_ptr<FakeClock> clock_;
  std::unique_ptr<SimBackends> sim_;
};

const HarnessMaker kSim{"Sim", [] { return std::unique_ptr<HidContractHarness>(new SimHarness); }};
INSTANTIATE_TEST_SUITE_P(Sim, HidContractTest, ::testing::Values(kSim), HarnessName());
INSTANTIATE_TEST_SUITE_P(Sim, HidContractNoControllerTest, ::testing::Values(kSim), HarnessName());

}  // namespace
}  // namespace tessaro::testing
