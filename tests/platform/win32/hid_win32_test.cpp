// The real SetupAPI walk and HID calls on a host without the controller.
// Under Wine the host shows only Wine's own mouse and keyboard (vendor
// 0x845E, usage page 1): each must be opened, examined and closed, and the
// opening sequence must fail as with no device at all.
#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <thread>

#include "platform/win32/file_win32.h"
#include "platform/win32/hid_win32.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_hid.h"
#include "tests/support/log_capture.h"
#include "tests/transport/hid_contract.h"
#include "transport/connection.h"
#include "transport/registers.h"

namespace tessaro {
namespace {

using testing::HidCall;
using testing::HidEvent;

bool IsForeign(uint16_t usagePage, uint16_t usage, uint16_t vendorId) {
  return !(usagePage == reg::kUsagePage && usage == reg::kUsage && vendorId == kVendorId);
}

// Whether the host shows the controller itself (a real PC with one), which
// would change the premise of the tests that walk the host's own devices.
bool HostHasController(Win32HidBackend& real) {
  const auto walk = real.BeginWalk();
  HidInterface candidate;
  while (walk->Next(candidate)) {
    HidHandle handle = kInvalidHidHandle;
    if (!real.Open(candidate, handle)) continue;
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    uint16_t vendorId = 0;
    const bool known = real.GetCaps(handle, usagePage, usage) && real.GetVendorId(handle, vendorId);
    real.Close(handle);
    if (known && !IsForeign(usagePage, usage, vendorId)) return true;
  }
  return false;
}

TEST(Win32HidTest, OpeningSequenceFailsOverTheHostsOwnDevices) {
  testing::FakeClock clock;
  testing::LogCapture log(1);
  Win32HidBackend real;
  if (HostHasController(real)) GTEST_SKIP() << "this host has the controller: the test needs a host without one";
  testing::RecordingHid hid(real);
  CConnectionTLC connection;

  EXPECT_FALSE(OpenForJob(connection));

  std::string expected;
  for (int i = 0; i < 4; ++i) expected += "error     : find device failed\r\nerror     : open TLC failed\n";
  EXPECT_EQ(log.text(), expected);
  EXPECT_EQ(clock.sleeps, (std::vector<uint32_t>{2000, 2000, 2000, 2000}));
  EXPECT_EQ(clock.totalSleptMs, 8000u);
  EXPECT_EQ(connection.deviceHandle, kInvalidHidHandle);
  EXPECT_EQ(testing::CountUnclosedOpens(hid.events), 0);
  int walks = 0;
  for (const HidEvent& event : hid.events) {
    walks += event.call == HidCall::kWalk ? 1 : 0;
    EXPECT_NE(event.call, HidCall::kSetOutputReport);
    EXPECT_NE(event.call, HidCall::kGetInputReport);
  }
  EXPECT_EQ(walks, 4);
}

TEST(Win32HidTest, WalkOpensExaminesAndClosesEveryInterface) {
  testing::LogCapture log(3);
  Win32HidBackend real;
  if (HostHasController(real)) GTEST_SKIP() << "this host has the controller: the test needs a host without one";
  testing::RecordingHid hid(real);
  CConnectionTLC connection;

  EXPECT_FALSE(connection.Open());
  if (hid.walked.empty()) GTEST_SKIP() << "the host shows no HID interfaces yet (a new Wine prefix)";

  // Per interface: open, caps, vendor ID, close, in that order and nothing between.
  size_t i = 1;
  for (const HidInterface& walked : hid.walked) {
    const std::string path(walked.path.begin(), walked.path.end());
    SCOPED_TRACE(path);
    EXPECT_EQ(path.rfind("\\\\?\\", 0), 0u) << "not a device interface path";
    ASSERT_LT(i, hid.events.size());
    const HidEvent& open = hid.events[i];
    ASSERT_EQ(open.call, HidCall::kOpen);
    EXPECT_EQ(open.path, walked.path);
    if (!open.ok) {  // held by another process without sharing: passed over
      ++i;
      continue;
    }
    ASSERT_LT(i + 1, hid.events.size());
    const HidEvent& caps = hid.events[i + 1];
    ASSERT_EQ(caps.call, HidCall::kGetCaps);
    size_t next = i + 2;
    ASSERT_LT(next, hid.events.size());
    if (caps.ok) {
      const HidEvent& vendor = hid.events[next];
      ASSERT_EQ(vendor.call, HidCall::kGetVendorId);
      if (vendor.ok) {
        EXPECT_TRUE(IsForeign(caps.usagePage, caps.usage, vendor.vendorId));
        std::cout << "walked " << path << ": vendor 0x" << std::hex << vendor.vendorId << ", usage page 0x"
                  << caps.usagePage << ", usage 0x" << caps.usage << std::dec << "\n";
      }
      ++next;
      ASSERT_LT(next, hid.events.size());
    }
    EXPECT_EQ(hid.events[next].call, HidCall::kClose);
    EXPECT_EQ(hid.events[next].path, walked.path);
    i = next + 1;
  }
  EXPECT_EQ(i, hid.events.size());
  EXPECT_EQ(log.text().substr(log.text().size() - 32), "error     : find device failed\r\n");
}

TEST(Win32HidTest, ReportsReachTheClassDriverAndFailWithItsCode) {
  testing::LogCapture log(3);
  Win32HidBackend real;
  if (HostHasController(real)) GTEST_SKIP() << "this host has the controller: the test needs a host without one";
  testing::RecordingHid hid(real);
  CConnectionTLC connection;
  ASSERT_FALSE(connection.Open());
  if (hid.walked.empty()) GTEST_SKIP() << "the host shows no HID interfaces yet (a new Wine prefix)";

  // Hand a connection one of the host's own interfaces: a mouse or keyboard
  // takes no 65-byte output report with ID 0x0E, and says why. On a real PC
  // the first ones may be held by the system: take the first that opens.
  HidHandle handle = kInvalidHidHandle;
  bool openedOne = false;
  for (const HidInterface& walked : hid.walked) {
    if ((openedOne = real.Open(walked, handle))) break;
  }
  if (!openedOne) GTEST_SKIP() << "none of the host's HID interfaces opens for reading and writing";
  connection.deviceHandle = handle;
  connection.opened = 1;
  log.clear();
  uint8_t dest[12] = {};
  EXPECT_EQ(connection.ReadRegister(reg::kVersionAddr, dest, 12), -1);
  const std::string text = log.text();
  std::cout << text;
  EXPECT_EQ(text.rfind("error     : write failed!! error:0x", 0), 0u) << text;
  EXPECT_NE(text.find("error     : Read FAILED, because of write operate fail:0x"), std::string::npos);
  EXPECT_EQ(text.find("error:0x00\n"), std::string::npos) << "no error code";
  connection.Close();
  EXPECT_EQ(connection.deviceHandle, kInvalidHidHandle);
}

}  // namespace
}  // namespace tessaro

namespace tessaro::testing {
namespace {

// The contract cases that need no controller, through the real calls.
class Win32Harness final : public HidContractHarness {
 public:
  bool Supports(const ContractDevice& device) const override {
    return !device.present && device.openFailures == 0;
  }
  void Setup(const ContractDevice&) override {
    clock_ = std::make_unique<FakeClock>();
    hid_ = std::make_unique<RecordingHid>(real_);
  }
  std::vector<std::string> Trace() override { return hid_ ? hid_->Trace() : std::vector<std::string>{}; }
  uint64_t SleptMs() override { return clock_ ? clock_->totalSleptMs : 0; }

 private:
  Win32HidBackend real_;
  std::unique_ptr<FakeClock> clock_;
  std::unique_ptr<RecordingHid> hid_;
};

INSTANTIATE_TEST_SUITE_P(Win32, HidContractTest,
                         ::testing::Values(HarnessMaker{
                             "Win32", [] { return std::unique_ptr<HidContractHarness>(new Win32Harness); }}),
                         HarnessName());

}  // namespace
}  // namespace tessaro::testing

namespace tessaro {
namespace {

// The named mutex is owned by a thread, so another thread stands for
// another process. Windows paths are case-blind: so is the lock.
TEST(Win32HidTest, ClaimedControllerIsBusyForEveryoneElseUntilClosed) {
  const HidInterface controller{L"\\\\?\\hid#vid_1234&pid_0001&col02#test-claim", 0};
  const HidInterface sameInOtherCase{L"\\\\?\\HID#VID_1234&PID_0001&COL02#TEST-CLAIM", 0};
  Win32HidBackend holder;
  const HidHandle held = 0x1234;
  ASSERT_EQ(holder.Claim(controller, held).outcome, HidClaim::Outcome::kTaken);

  const auto claimElsewhere = [](const HidInterface& target) {
    HidClaim claim;
    std::thread([&] {
      Win32HidBackend other;
      claim = other.Claim(target, 0x99);
      if (claim.outcome == HidClaim::Outcome::kTaken) other.Close(0x99);
    }).join();
    return claim;
  };
  EXPECT_EQ(claimElsewhere(controller).outcome, HidClaim::Outcome::kBusy);
  EXPECT_EQ(claimElsewhere(sameInOtherCase).outcome, HidClaim::Outcome::kBusy);
  EXPECT_EQ(claimElsewhere(controller).holderPid, 0u) << "Windows cannot tell the owner";
  EXPECT_EQ(claimElsewhere(HidInterface{L"\\\\?\\hid#another", 0}).outcome, HidClaim::Outcome::kTaken);

  holder.Close(held);
  EXPECT_EQ(claimElsewhere(controller).outcome, HidClaim::Outcome::kTaken);
}

// The code in a failure's message is the failing call's own, even when the
// log opens its file (another system call) before the message is printed.
TEST(Win32HidTest, ErrorCodeIsTheFailingCallsOwn) {
  Win32HidBackend hid;
  Report report = {reg::kReportId};
  ASSERT_FALSE(hid.SetOutputReport(0x1234, report));
  const uint32_t atTheCall = hid.LastError();
  EXPECT_NE(atTheCall, 0u);

  Win32FileSystem files;
  FileHandle file = kInvalidFileHandle;
  ASSERT_FALSE(files.OpenForRead("no such file here.bin", file));
  ASSERT_NE(files.LastError(), atTheCall);
  EXPECT_EQ(hid.LastError(), atTheCall);
}

}  // namespace
}  // namespace tessaro
