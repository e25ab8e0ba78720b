// The HID contract against the recording fake, with a register map just
// large enough for the contract: the VERSION block, the configuration from
// 0x8050 on, zeros elsewhere.
#include "tests/support/fake_clock.h"
#include "tests/support/fake_hid.h"
#include "tests/transport/hid_contract.h"
#include "transport/connection.h"
#include "transport/registers.h"
#include "transport/report.h"

namespace tessaro::testing {
namespace {

bool UseUp(std::map<uint16_t, int>& counters, uint16_t address) {
  const auto found = counters.find(address);
  if (found == counters.end() || found->second <= 0) return false;
  --found->second;
  return true;
}

class FakeHarness final : public HidContractHarness {
 public:
  void Setup(const ContractDevice& device) override {
    device_ = device;
    clock_ = std::make_unique<FakeClock>();
    hid_ = std::make_unique<FakeHid>();
    if (device_.present) {
      const uint16_t vendorId = device_.foreignVendor ? static_cast<uint16_t>(kVendorId ^ 0x5A5A) : kVendorId;
      int number = 0;
      for (int i = 0; i < device_.otherCollections; ++i) {
        hid_->interfaces.push_back(OtherInterface(Path(++number), vendorId));
      }
      for (int i = 0; i < device_.matchingCollections; ++i) {
        hid_->interfaces.push_back(MatchingInterface(Path(++number), vendorId));
      }
    }
    for (int i = 1; i <= device_.openFailures; ++i) hid_->FailNthCall(HidCall::kWalk, i);
    hid_->failIf = [this](HidCall call, const FakeHidInterface*, const uint8_t* report, uint32_t&) {
      if (call != HidCall::kSetOutputReport || report[1] != reg::kCmdRegisterAccess || report[5] != reg::kDirWrite) {
        return false;
      }
      return UseUp(device_.writeFailures, static_cast<uint16_t>(report[6] << 8 | report[7]));
    };
    hid_->responder = [this](const Report* lastOut, Report& reply) { return Answer(lastOut, reply); };
  }

  std::vector<std::string> Trace() override { return hid_ ? hid_->Trace() : std::vector<std::string>{}; }
  uint64_t SleptMs() override { return clock_ ? clock_->totalSleptMs : 0; }

 private:
  static std::wstring Path(int number) {
    return L"\\\\?\\hid#vid_fake&col0" + std::to_wstring(number) + L"#1&2&0&0000#{4d1e55b2-f16f-11cf-88cb}";
  }

  uint8_t RegisterByte(uint32_t address) const {
    if (address >= reg::kVersionAddr && address < reg::kVersionAddr + reg::kVersionBytes) {
      const uint32_t i = address - reg::kVersionAddr;
      if (i < 4) return static_cast<uint8_t>(device_.pid[i]);
      if (i < 8) return device_.vid[i - 4];
      return i == 10 ? device_.sensorByte : 0;
    }
    if (address >= reg::kConfigAddr && address - reg::kConfigAddr < device_.config.size()) {
      return device_.config[address - reg::kConfigAddr];
    }
    return 0;
  }

  bool Answer(const Report* lastOut, Report& reply) {
    if (lastOut == nullptr || (*lastOut)[1] != reg::kCmdRegisterAccess || (*lastOut)[5] != reg::kDirRead) return false;
    const uint16_t address = static_cast<uint16_t>((*lastOut)[6] << 8 | (*lastOut)[7]);
    const uint16_t lengthBytes = static_cast<uint16_t>((*lastOut)[8] << 8 | (*lastOut)[9]);
    if (UseUp(device_.readFailures, address)) return false;
    const uint16_t announced = static_cast<uint16_t>(lengthBytes + (UseUp(device_.lengthMismatch, address) ? 1 : 0));
    reply[3] = static_cast<uint8_t>(announced >> 8);
    reply[4] = static_cast<uint8_t>(announced & 0xFF);
    for (uint16_t i = 0; i < lengthBytes && kReplyDataOffset + i < kReportLengthBytes; ++i) {
      reply[kReplyDataOffset + i] = RegisterByte(static_cast<uint32_t>(address) + i);
    }
    return true;
  }

  ContractDevice device_;
  std::unique_ptr<FakeClock> clock_;
  std::unique_ptr<FakeHid> hid_;
};

const HarnessMaker kFake{"Fake", [] { return std::unique_ptr<HidContractHarness>(new FakeHarness); }};
INSTANTIATE_TEST_SUITE_P(Fake, HidContractTest, ::testing::Values(kFake), HarnessName());
INSTANTIATE_TEST_SUITE_P(Fake, HidContractNoControllerTest, ::testing::Values(kFake), HarnessName());

}  // namespace
}  // namespace tessaro::testing
