#pragma once
// The HID contract: what every backend of the HID seam must do under the
// connection and the register operations, written once and run against
// each backend through a harness.
//
// Adding a backend (the simulated controller, say):
//   1. Implement HidContractHarness: Setup() builds the world a
//      ContractDevice describes (for the simulator: write its state file,
//      start it) and installs the backend and a clock that does not really
//      wait; Trace() gives the wire events in the simulator's trace format;
//      SleptMs() the milliseconds slept since Setup.
//   2. In a test source of your own, for each of the two suites:
//        INSTANTIATE_TEST_SUITE_P(Sim, HidContractTest,
//            ::testing::Values(tessaro::testing::HarnessMaker{"Sim", [] {
//              return std::unique_ptr<tessaro::testing::HidContractHarness>(new SimHarness);
//            }}),
//            tessaro::testing::HarnessName());
//   3. In your CMakeLists: tessaro_add_gtest(... LIBS tessaro_hid_contract ...)
//      (an object library defined in tests/transport, so the cases link in).
// HidContractTest's cases need a controller; HidContractNoControllerTest's
// need none. A backend that can show no controller (the Windows backend
// under Wine) instantiates the second alone, so that no case is instantiated
// where it can never run.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/log_capture.h"

namespace tessaro::testing {

// One controller on the host, with the fault counters of the simulator's
// state file (same names, same meaning).
struct ContractDevice {
  bool present = true;
  // The device's vendor ID is not the build's (it keeps the matching collection).
  bool foreignVendor = false;
  // Non-matching collections of the device, walked before the matching ones.
  int otherCollections = 0;
  int matchingCollections = 1;
  std::string pid = "T7A1";
  std::array<uint8_t, 4> vid = {0x01, 0x02, 0x03, 0x04};
  uint8_t sensorByte = 0x35;
  std::vector<uint8_t> config = {0x42, 0x10, 0xAE, 0x05, 0x06, 0x07};
  // The next N walks find no matching collection.
  int openFailures = 0;
  // Keyed by register address: the next N reads get no input report / an
  // input report announcing one byte more; the next N write reports whose
  // address field is that address fail to send.
  std::map<uint16_t, int> readFailures;
  std::map<uint16_t, int> lengthMismatch;
  std::map<uint16_t, int> writeFailures;
};

class HidContractHarness {
 public:
  virtual ~HidContractHarness() = default;
  // Installs a HID backend that shows `device`, and a clock that records
  // sleeps without waiting, for the rest of the harness's life.
  virtual void Setup(const ContractDevice& device) = 0;
  // "walk", "open PATH", "close PATH", "out HEX", "out-failed HEX",
  // "in HEX", "in-failed" and "violation TEXT" lines so far, in order.
  virtual std::vector<std::string> Trace() = 0;
  virtual uint64_t SleptMs() = 0;
  // Why this host cannot give the case its premise (a real controller
  // attached where none is wanted), or empty when it can.
  virtual std::string SkipReason() const { return {}; }
};

struct HarnessMaker {
  std::string name;
  std::function<std::unique_ptr<HidContractHarness>()> make;
};

// Test names show the backend, not the bytes of its maker.
inline void PrintTo(const HarnessMaker& maker, std::ostream* out) { *out << maker.name; }

struct HarnessName {
  std::string operator()(const ::testing::TestParamInfo<HarnessMaker>& info) const { return info.param.name; }
};

class HidContractTest : public ::testing::TestWithParam<HarnessMaker> {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Sets the device up.
  void Start(const ContractDevice& device);

  LogCapture log{3};
  std::unique_ptr<HidContractHarness> harness;
};

// The cases without a controller on the host.
class HidContractNoControllerTest : public HidContractTest {};

}  // namespace tessaro::testing
