// Finding the controller's collection among the host's interfaces, the
// connection's states, and the opening sequence of a job.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/run_record.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_hid.h"
#include "tests/support/log_capture.h"
#include "transport/connection.h"
#include "transport/registers.h"

namespace tessaro {
namespace {

using testing::FakeHid;
using testing::FakeHidInterface;
using testing::HidCall;
using testing::MatchingInterface;
using testing::OtherInterface;

constexpr uint16_t kForeignVendor = kVendorId ^ 0x1234;

// What a walk did, one word per call: "open:A", "caps:A", "vid:A", "close:A".
std::vector<std::string> Calls(const std::vector<testing::HidEvent>& events) {
  std::vector<std::string> out;
  for (const auto& event : events) {
    std::string path(event.path.begin(), event.path.end());
    switch (event.call) {
      case HidCall::kWalk:
        out.push_back("walk");
        break;
      case HidCall::kOpen:
        out.push_back((event.ok ? "open:" : "open-failed:") + path);
        break;
      case HidCall::kGetCaps:
        out.push_back((event.ok ? "caps:" : "caps-failed:") + path);
        break;
      case HidCall::kGetVendorId:
        out.push_back((event.ok ? "vid:" : "vid-failed:") + path);
        break;
      case HidCall::kClose:
        out.push_back("close:" + path);
        break;
      default:
        out.push_back("report:" + path);
        break;
    }
  }
  return out;
}

struct WalkCase {
  const char* name;
  std::vector<FakeHidInterface> host;
  bool found;
  std::vector<std::string> calls;
  std::string log;
};

FakeHidInterface Unopenable(FakeHidInterface i) {
  i.openable = false;
  return i;
}
FakeHidInterface CapsFail(FakeHidInterface i) {
  i.capsFail = true;
  i.capsError = 0x57;
  return i;
}
FakeHidInterface AttributesFail(FakeHidInterface i) {
  i.attributesFail = true;
  return i;
}

const std::string kFailed = "error     : find device failed\r\n";
std::string Found(const char* path) {
  return std::string("dbg info  : Find the target device success,path of device is ") + path + "\n";
}

TEST(FindDeviceTest, WalkTakesTheFirstInterfaceMatchingAllThree) {
  const std::vector<WalkCase> cases = {
      {"other collection of the controller first",
       {OtherInterface(L"A"), MatchingInterface(L"B")},
       true,
       {"walk", "open:A", "caps:A", "vid:A", "close:A", "open:B", "caps:B", "vid:B"},
       Found("B")},
      {"foreign vendor with the right collection",
       {MatchingInterface(L"A", kForeignVendor)},
       false,
       {"walk", "open:A", "caps:A", "vid:A", "close:A"},
       kFailed},
      {"lower of two matches",
       {MatchingInterface(L"A"), MatchingInterface(L"B")},
       true,
       {"walk", "open:A", "caps:A", "vid:A"},
       Found("A")},
      {"usage page alone differs",
       {OtherInterface(L"A", kVendorId, 0xFFF1, 0x0001), MatchingInterface(L"B")},
       true,
       {"walk", "open:A", "caps:A", "vid:A", "close:A", "open:B", "caps:B", "vid:B"},
       Found("B")},
      {"usage alone differs",
       {OtherInterface(L"A", kVendorId, 0xFFF0, 0x0002)},
       false,
       {"walk", "open:A", "caps:A", "vid:A", "close:A"},
       kFailed},
      {"interface that cannot be opened is passed over silently",
       {Unopenable(MatchingInterface(L"A")), MatchingInterface(L"B")},
       true,
       {"walk", "open-failed:A", "open:B", "caps:B", "vid:B"},
       Found("B")},
      {"caps failure is reported with its code and the handle closed",
       {CapsFail(MatchingInterface(L"A")), MatchingInterface(L"B")},
       true,
       {"walk", "open:A", "caps-failed:A", "close:A", "open:B", "caps:B", "vid:B"},
       "dbg info  : HidD_GetPreparsedData Get last error = 0x57\n" + Found("B")},
      {"attributes failure closes the handle silently",
       {AttributesFail(MatchingInterface(L"A"))},
       false,
       {"walk", "open:A", "caps:A", "vid-failed:A", "close:A"},
       kFailed},
      {"no interfaces at all", {}, false, {"walk"}, kFailed},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHid hid(c.host);
    testing::LogCapture log(3);
    {
      CConnectionTLC connection;
      EXPECT_EQ(connection.Open(), c.found);
      EXPECT_EQ(Calls(hid.events), c.calls);
      EXPECT_EQ(log.text(), c.log);
      EXPECT_EQ(connection.opened, c.found ? 1 : 0);
      EXPECT_EQ(hid.OpenHandleCount(), c.found ? 1 : 0) << "a handle not kept was left open";
      EXPECT_EQ(connection.deviceHandle != kInvalidHidHandle, c.found);
      connection.Close();
    }
    EXPECT_EQ(hid.OpenHandleCount(), 0);
  }
}

TEST(FindDeviceTest, OnlyErrorLinesWithoutTheDebugBit) {
  FakeHid hid({CapsFail(MatchingInterface(L"A")), MatchingInterface(L"B", kForeignVendor)});
  testing::LogCapture log(1);
  CConnectionTLC connection;
  EXPECT_FALSE(connection.Open());
  EXPECT_EQ(log.text(), kFailed);

  hid.interfaces = {MatchingInterface(L"C")};
  log.clear();
  logMask = 0;
  EXPECT_TRUE(connection.Open());
  EXPECT_EQ(log.text(), "");
}

TEST(ConnectionTest, OpenTwiceDoesNotWalkAgain) {
  FakeHid hid({MatchingInterface(L"A")});
  testing::LogCapture log(3);
  CConnectionTLC connection;
  ASSERT_TRUE(connection.Open());
  const HidHandle first = connection.deviceHandle;
  log.clear();

  EXPECT_TRUE(connection.Open());
  EXPECT_EQ(log.text(), "dbg info  : device already been opened\r\n");
  EXPECT_EQ(hid.CallCount(HidCall::kWalk), 1);
  EXPECT_EQ(connection.deviceHandle, first);
  EXPECT_EQ(hid.OpenHandleCount(), 1);
}

TEST(ConnectionTest, OpenAfterCloseWalksAgain) {
  FakeHid hid({MatchingInterface(L"A")});
  testing::LogCapture log(3);
  CConnectionTLC connection;
  ASSERT_TRUE(connection.Open());
  connection.Close();
  EXPECT_EQ(connection.deviceHandle, kInvalidHidHandle);
  EXPECT_EQ(connection.opened, 0);
  EXPECT_EQ(hid.OpenHandleCount(), 0);
  EXPECT_EQ(Calls(hid.events).back(), "close:A");

  EXPECT_TRUE(connection.Open());
  EXPECT_EQ(hid.CallCount(HidCall::kWalk), 2);
  EXPECT_EQ(connection.opened, 1);
}

TEST(ConnectionTest, StartsClosedAndOpenLoadsTheMatchDefaultsEveryTime) {
  FakeHid hid({MatchingInterface(L"A")});
  CConnectionTLC connection;
  EXPECT_EQ(connection.deviceHandle, kInvalidHidHandle);
  EXPECT_EQ(connection.opened, 0);
  EXPECT_EQ(connection.openParams.usage, 0);
  EXPECT_EQ(connection.openParams.usagePage, 0);
  EXPECT_EQ(connection.sensorId, 0x10);
  EXPECT_STREQ(connection.pid, "");

  ASSERT_TRUE(connection.Open());
  connection.openParams = COpenParamentTLC();
  EXPECT_TRUE(connection.Open());  // already open, and still reloads
  EXPECT_EQ(connection.openParams.usage, reg::kUsage);
  EXPECT_EQ(connection.openParams.usagePage, reg::kUsagePage);
  EXPECT_EQ(connection.openParams.vendorId, kVendorId);
}

TEST(ConnectionTest, CloseOfAClosedConnectionOnlyClearsOpened) {
  FakeHid hid({MatchingInterface(L"A")});
  CConnectionTLC connection;
  connection.opened = 1;
  connection.Close();
  EXPECT_EQ(connection.opened, 0);
  connection.deviceHandle = 0;  // null is no handle either
  connection.Close();
  EXPECT_TRUE(hid.events.empty());
}

TEST(ConnectionTest, PropertiesSurviveClose) {
  FakeHid hid({MatchingInterface(L"A")});
  CConnectionTLC connection;
  ASSERT_TRUE(connection.Open());
  hid.QueueReplyData({'P', 'I', 'D', '1', 9, 8, 7, 6, 0, 0, 0x0B, 0});
  ASSERT_EQ(connection.SetBasicProperties(), 0);
  connection.Close();
  EXPECT_STREQ(connection.pid, "PID1");
  EXPECT_EQ(connection.vid[0], 9);
  EXPECT_EQ(connection.sensorId, 0x0B);
}

TEST(ConnectionTest, DestroyingAnOpenConnectionClosesItsHandle) {
  FakeHid hid({MatchingInterface(L"A")});
  {
    CConnectionTLC connection;
    ASSERT_TRUE(connection.Open());
  }
  EXPECT_EQ(hid.OpenHandleCount(), 0);
  EXPECT_EQ(Calls(hid.events).back(), "close:A");
}

TEST(ConnectionTest, ReportsGoToTheKeptInterface) {
  FakeHid hid({OtherInterface(L"A"), MatchingInterface(L"B")});
  CConnectionTLC connection;
  ASSERT_TRUE(connection.Open());
  const uint8_t byte = 0x83;
  ASSERT_EQ(connection.WriteRegister(0x8040, &byte, 1), 1);
  ASSERT_EQ(hid.events.back().call, HidCall::kSetOutputReport);
  EXPECT_EQ(hid.events.back().path, L"B");
}

// ------------------------------------------------------------- OpenForJob

// After the restart command, a controller that went away and is not back
// yet costs each read its attempt, with the code that lost it and nothing
// sent on a dead handle; each attempt walks again, and the controller is
// taken where it comes back.
TEST(ConnectionTest, ControllerLostAfterItsRestartIsLookedForAtEachRead) {
  FakeHid hid({MatchingInterface(L"A")});
  hid.AnswerReadsWith([](uint16_t, uint16_t lengthBytes) { return std::vector<uint8_t>(lengthBytes, 0x11); });
  testing::LogCapture log(1);
  CConnectionTLC connection;
  ASSERT_TRUE(connection.Open());
  connection.followAcrossRestart = true;
  hid.interfaces.clear();
  int walks = 0;
  hid.failIf = [&](HidCall call, const FakeHidInterface* target, const uint8_t*, uint32_t& error) {
    if (call == HidCall::kWalk && ++walks == 2) hid.interfaces.push_back(MatchingInterface(L"B"));
    error = testing::kErrorDeviceNotConnected;
    return target != nullptr && target->path == L"A";
  };

  EXPECT_EQ(connection.SetBasicProperties(), 0);
  const std::string lost =
      "error     : write failed!! error:0x48f\n"
      "error     : Read FAILED, because of write operate fail:0x48f \n";
  EXPECT_EQ(log.text(), lost + "error     : Failed read VERSION, retry=5\n" + lost +
                            "error     : Failed read VERSION, retry=4\n");
  EXPECT_EQ(walks, 2);
  EXPECT_EQ(hid.CallCount(HidCall::kSetOutputReport), 2);
  EXPECT_EQ(hid.OpenHandleCount(), 1);
  EXPECT_EQ(Calls(hid.events).back(), "report:B");
}

// TESSARO_DEVICE: only the chosen path is opened (its case aside, as
// Windows compares paths); one naming nothing costs the usual four walks and
// one line more.
TEST(ChosenDeviceTest, OnlyTheChosenPathIsTakenAndAWrongOneSaysSo) {
  FakeHid hid({MatchingInterface(L"A"), OtherInterface(L"C"), MatchingInterface(L"B")});
  testing::FakeClock clock;
  testing::LogCapture log(1);
  ChooseDevice("b");
  {
    CConnectionTLC connection;
    EXPECT_TRUE(OpenForJob(connection));
    EXPECT_EQ(Calls(hid.events), (std::vector<std::string>{"walk", "open:B", "caps:B", "vid:B"}));
    EXPECT_EQ(connection.path, "B");
  }
  ChooseDevice("C");
  {
    CConnectionTLC connection;
    EXPECT_FALSE(OpenForJob(connection));
  }
  ChooseDevice("");
  std::string expected;
  for (int i = 0; i < 4; ++i) expected += "error     : find device failed\r\nerror     : open TLC failed\n";
  EXPECT_EQ(log.text(), expected + "error     : no controller at TESSARO_DEVICE=C\n");
  EXPECT_EQ(hid.OpenHandleCount(), 0);
}

// After its restart the chosen controller may come back under a new path:
// the match that was not there at the open, never another that was.
TEST(ChosenDeviceTest, ControllerBackUnderANewPathIsTheNewMatch) {
  FakeHid hid({MatchingInterface(L"Z"), MatchingInterface(L"A")});
  hid.AnswerReadsWith([](uint16_t, uint16_t lengthBytes) { return std::vector<uint8_t>(lengthBytes, 0x11); });
  testing::LogCapture log(1);
  ChooseDevice("A");
  RunFacts facts;
  ActivateRunFacts(&facts, nullptr);
  CConnectionTLC connection;
  ASSERT_TRUE(OpenForJob(connection));
  EXPECT_EQ(facts.controller, "A");
  EXPECT_EQ(facts.matches, (std::vector<std::string>{"Z", "A"}));
  connection.followAcrossRestart = true;
  hid.interfaces = {MatchingInterface(L"Z"), MatchingInterface(L"B")};
  hid.failIf = [&](HidCall, const FakeHidInterface* target, const uint8_t*, uint32_t& error) {
    error = testing::kErrorDeviceNotConnected;
    return target != nullptr && target->path == L"A";
  };
  EXPECT_EQ(connection.SetBasicProperties(), 0);
  ActivateRunFacts(nullptr, nullptr);
  ChooseDevice("");
  EXPECT_EQ(Calls(hid.events).back(), "report:B");
}

TEST(OpenForJobTest, AbsentControllerCostsFourWalksAndEightSeconds) {
  testing::FakeClock clock;
  FakeHid hid({OtherInterface(L"mouse", 0x845E, 0x0001, 0x0002)});
  testing::LogCapture log(3);
  CConnectionTLC connection;

  EXPECT_FALSE(OpenForJob(connection));

  std::string expected;
  for (int i = 0; i < 4; ++i) expected += "error     : find device failed\r\nerror     : open TLC failed\n";
  EXPECT_EQ(log.text(), expected);
  EXPECT_EQ(clock.sleeps, (std::vector<uint32_t>{2000, 2000, 2000, 2000}));
  EXPECT_EQ(clock.totalSleptMs, 8000u);
  EXPECT_EQ(hid.CallCount(HidCall::kWalk), 4);
  EXPECT_EQ(hid.OpenHandleCount(), 0);
  EXPECT_EQ(connection.opened, 0);
}

TEST(OpenForJobTest, StopsAtTheFirstSuccess) {
  struct Case {
    int failedWalks;
    std::vector<uint32_t> sleeps;
  };
  for (const Case& c : {Case{0, {}}, Case{1, {2000}}, Case{3, {2000, 2000, 2000}}}) {
    SCOPED_TRACE(c.failedWalks);
    testing::FakeClock clock;
    FakeHid hid({MatchingInterface(L"A")});
    for (int i = 1; i <= c.failedWalks; ++i) hid.FailNthCall(HidCall::kWalk, i);
    testing::LogCapture log(3);
    CConnectionTLC connection;

    EXPECT_TRUE(OpenForJob(connection));

    std::string expected;
    for (int i = 0; i < c.failedWalks; ++i) {
      expected += "error     : find device failed\r\nerror     : open TLC failed\n";
    }
    expected += Found("A") + "dbg info  : open TLC success\n";
    EXPECT_EQ(log.text(), expected);
    EXPECT_EQ(clock.sleeps, c.sleeps);
    EXPECT_EQ(hid.CallCount(HidCall::kWalk), c.failedWalks + 1);
    EXPECT_EQ(connection.opened, 1);
  }
}

// A controller another process holds: one line, naming it where the
// platform can, no further attempt and no sleep; nothing sent, nothing left open.
TEST(OpenForJobTest, ControllerHeldElsewhereEndsTheSequenceAtOnce) {
  for (const uint32_t holder : {0u, 4242u}) {
    SCOPED_TRACE(holder);
    testing::FakeClock clock;
    FakeHid hid({MatchingInterface(L"A"), MatchingInterface(L"B")});
    hid.claimAnswer = [holder](const HidInterface&) { return HidClaim{HidClaim::Outcome::kBusy, holder}; };
    testing::LogCapture log(3);
    CConnectionTLC connection;

    EXPECT_FALSE(OpenForJob(connection));

    EXPECT_EQ(log.text(), holder == 0 ? "error     : controller in use by another process, nothing sent\n"
                                      : "error     : controller in use by another process (pid 4242), nothing sent\n");
    EXPECT_TRUE(clock.sleeps.empty());
    EXPECT_EQ(hid.CallCount(HidCall::kWalk), 1);
    EXPECT_EQ(hid.CallCount(HidCall::kOpen), 1) << "the second matching collection is not tried";
    EXPECT_EQ(hid.CallCount(HidCall::kSetOutputReport), 0);
    EXPECT_EQ(hid.OpenHandleCount(), 0);
    EXPECT_TRUE(connection.busy);
    EXPECT_EQ(connection.busyHolderPid, holder);

    hid.claimAnswer = nullptr;
    EXPECT_TRUE(OpenForJob(connection));
    EXPECT_FALSE(connection.busy);
  }
}

TEST(ControllerLockNameTest, OneNamePerPathWhateverTheCase) {
  const std::wstring name = ControllerLockName(L"\\\\?\\hid#vid_1234&col02");
  EXPECT_EQ(name.rfind(L"Global\\tessaro-controller-", 0), 0u);
  EXPECT_EQ(name.size(), std::wstring(L"Global\\tessaro-controller-").size() + 16);
  EXPECT_EQ(name.find(L'\\', 7), std::wstring::npos) << "no backslash after the namespace";
  EXPECT_EQ(ControllerLockName(L"\\\\?\\HID#VID_1234&COL02"), name);
  EXPECT_NE(ControllerLockName(L"\\\\?\\hid#vid_1234&col03"), name);
}

TEST(OpenForJobTest, DefaultMaskShowsOnlyTheFailures) {
  testing::FakeClock clock;
  FakeHid hid;
  testing::LogCapture log(1);
  CConnectionTLC connection;
  EXPECT_FALSE(OpenForJob(connection));
  EXPECT_EQ(clock.totalSleptMs, 8000u);
  hid.interfaces = {MatchingInterface(L"A")};
  log.clear();
  EXPECT_TRUE(OpenForJob(connection));
  EXPECT_EQ(log.text(), "");
}

}  // namespace
}  // namespace tessaro
