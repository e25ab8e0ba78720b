// The real SetupAPI walk and HID calls on a host without the controller.
// Under Wine the host shows only Wine's own mouse and keyboard (vendor
// 0x845E, usage page 1): each must be opened, examined and closed, and the
// opening sequence must fail as with no device at all.
#include <gtest/gtest.h>

#include <chrono>
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

// What a real PC may show and Wine does not: a controller of this build
// attached (the tests below assume a host without one), and collections
// that Windows opens for itself (keyboards, mice, digitizers), which no
// other process can open. Taken once, from the host's own walk.
struct HostDevices {
  bool controller = false;
  // Foreign generic-desktop collections (a mouse, a keyboard) that open:
  // their class driver refuses a 65-byte report before the device sees it.
  std::vector<HidInterface> openDesktopDevices;
};

const HostDevices& TheHostDevices() {
  static const HostDevices host = [] {
    HostDevices found;
    Win32HidBackend hid;
    const std::unique_ptr<HidWalk> walk = hid.BeginWalk();
    HidInterface next;
    while (walk != nullptr && walk->Next(next)) {
      HidHandle handle = kInvalidHidHandle;
      if (!hid.Open(next, handle)) continue;
      uint16_t usagePage = 0;
      uint16_t usage = 0;
      uint16_t vendorId = 0;
      if (hid.GetCaps(handle, usagePage, usage) && hid.GetVendorId(handle, vendorId)) {
        if (!IsForeign(usagePage, usage, vendorId)) found.controller = true;
        if (IsForeign(usagePage, usage, vendorId) && usagePage == 0x0001) found.openDesktopDevices.push_back(next);
      }
      hid.Close(handle);
    }
    return found;
  }();
  return host;
}

constexpr const char kControllerAttached[] =
    "a controller of this build is attached: this test needs a host without one";

TEST(Win32HidTest, OpeningSequenceFailsOverTheHostsOwnDevices) {
  if (TheHostDevices().controller) GTEST_SKIP() << kControllerAttached;
  testing::FakeClock clock;
  testing::LogCapture log(1);
  Win32HidBackend real;
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

// Wine starts its virtual devices with the prefix's device service, which
// may still be coming up: a few seconds are given before judging.
bool HostShowsInterfaces() {
  for (int attempt = 0; attempt < 6; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::seconds(1));
    Win32HidBackend probe;
    HidInterface entry;
    if (probe.BeginWalk()->Next(entry)) return true;
  }
  return false;
}
constexpr char kNoInterfacesYet[] = "the host shows no HID interfaces yet (a new Wine prefix)";

TEST(Win32HidTest, WalkOpensExaminesAndClosesEveryInterface) {
  if (TheHostDevices().controller) GTEST_SKIP() << kControllerAttached;
  if (!HostShowsInterfaces()) GTEST_SKIP() << kNoInterfacesYet;
  testing::LogCapture log(3);
  Win32HidBackend real;
  testing::RecordingHid hid(real);
  CConnectionTLC connection;

  EXPECT_FALSE(connection.Open());
  if (hid.walked.empty()) GTEST_SKIP() << kNoInterfacesYet;

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
  if (!HostShowsInterfaces()) GTEST_SKIP() << kNoInterfacesYet;
  testing::LogCapture log(3);
  Win32HidBackend real;
  testing::RecordingHid hid(real);
  CConnectionTLC connection;
  ASSERT_FALSE(connection.Open());
  if (hid.walked.empty()) GTEST_SKIP() << kNoInterfacesYet;

  // Hand a connection one of the host's own interfaces: a mouse or keyboard
  // takes no 65-byte output report with ID 0x0E, and says why. On a real PC
  // Windows holds them for itself, and no other device is written to.
  if (TheHostDevices().openDesktopDevices.empty()) {
    GTEST_SKIP() << "no mouse or keyboard of this host opens (Windows holds them for itself)";
  }
  HidHandle handle = kInvalidHidHandle;
  ASSERT_TRUE(real.Open(TheHostDevices().openDesktopDevices.front(), handle));
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

// The contract cases that need no controller, through the real calls: the
// host shows none.
class Win32Harness final : public HidContractHarness {
 public:
  // A real PC with a controller attached is not the host these cases need.
  std::string SkipReason() const override { return TheHostDevices().controller ? kControllerAttached : ""; }
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

// The cases with a controller are linked in with the contract, but a host
// without the controller cannot run them.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(HidContractTest);
INSTANTIATE_TEST_SUITE_P(Win32, HidContractNoControllerTest,
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
