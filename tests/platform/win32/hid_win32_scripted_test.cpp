// The Windows backend and diagnosis on a scripted host (scripted_win32.h):
// what Wine's HID stack never does and a real PC will, with the simulated
// controller behind the controller's collection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/hid_diagnosis_system.h"
#include "platform/win32/hid_win32.h"
#include "tests/support/fake_clock.h"
#include "tests/support/log_capture.h"
#include "tests/support/memory_files.h"
#include "tools/make-samples.h"
#include "update/jobs.h"
// Last: it brings <windows.h>.
#include "tests/platform/win32/scripted_win32.h"

namespace tessaro::testing {
namespace {

const std::wstring kController = L"\\\\?\\hid#ven_1a2b&dev_0001&col02#5&3a5c1e2f&0&0001#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const std::wstring kRecreated = L"\\\\?\\hid#ven_1a2b&dev_0001&col02#5&3a5c1e2f&1&0001#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const std::wstring kDigitizer = L"\\\\?\\hid#ven_1a2b&dev_0001&col01#5&3a5c1e2f&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

const char kTimeoutLine[] = "error     : the controller did not answer a report within 5000 ms; request cancelled\n";

ScriptedCollection Controller(std::wstring path = kController) {
  ScriptedCollection collection;
  collection.path = std::move(path);
  collection.parentId = L"ACPI\\ELAN2514\\4&2a4d4e9b&0";
  collection.parentCompatibleIds = {L"ACPI\\PNP0C50", L"PNP0C50"};
  return collection;
}

// The HID-over-I2C touch screen that carries the controller: its digitizer,
// which Windows holds, before the vendor collection.
ScriptedCollection Digitizer() {
  ScriptedCollection collection = Controller(kDigitizer);
  collection.usagePage = 0x000D;
  collection.usage = 0x0004;
  collection.openError = ERROR_SHARING_VIOLATION;
  return collection;
}

// A firmware job on the scripted host with the real backend, a fake clock
// and the sample image.
struct FirmwareRun {
  explicit FirmwareRun(std::vector<ScriptedCollection> collections = {Digitizer(), Controller()})
      : host(std::move(collections)) {
    files.files["fw"] = samples::SampleFirmwareImage();
  }
  int32_t Run() { return UpdateFw("fw", false, 0x844); }
  size_t Count(const std::string& line) const {
    size_t count = 0;
    for (size_t at = log.text().find(line); at != std::string::npos; at = log.text().find(line, at + 1)) ++count;
    return count;
  }

  FakeClock clock;
  MemoryFileSystem files;
  LogCapture log{1};
  ScriptedWin32 host;
  Win32HidBackend backend;
  Installed<HidBackend> installed{&backend};
};

bool IsChunkWrite(bool output, const uint8_t* report) {
  return output && report[1] == 0x20 && report[5] == 0x00 && report[6] == 0x90 && report[7] == 0x00;
}

TEST(Win32ScriptedTest, ReportThatNeverEndsCostsOneAttemptWithinTheBound) {
  struct Case {
    const char* name;
    Fate fate;
    int32_t result;
    size_t failedAttempts;
    std::vector<DWORD> waits;
  };
  // A request that ends when cancelled costs its attempt, and the next one
  // runs; one whose driver ignores the cancel keeps its buffers, and every
  // later report on that handle fails at once, so the job ends with its
  // failure after its attempts instead of waiting for ever.
  const std::vector<Case> cases = {
      {"cancelled", Fate::kNever, 0, 1, {kReportTimeoutMs, kCancelWaitMs}},
      {"never ends", Fate::kNeverCancels, -2, 3, {kReportTimeoutMs, kCancelWaitMs}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FirmwareRun run;
    bool struck = false;
    run.host.fate = [&](int, bool output, const uint8_t* report) {
      if (struck || !IsChunkWrite(output, report)) return Fate::kAnswer;
      struck = true;
      return c.fate;
    };
    EXPECT_EQ(run.Run(), c.result);
    EXPECT_EQ(run.Count(kTimeoutLine), 1u);
    EXPECT_NE(run.log.text().find(std::string(kTimeoutLine) +
                                  "error     : write failed!! error:0x5b4\n"
                                  "error     : Failed write data to addr=0x9000, len=55,ret = -2\n"),
              std::string::npos)
        << run.log.text();
    EXPECT_EQ(run.Count("error     : Update fw failed, retry="), c.failedAttempts);
    EXPECT_EQ(run.host.requestWaitsMs, c.waits);
    EXPECT_EQ(run.host.cancels, 1);
    EXPECT_EQ(run.host.OpenHandles(), 0);
    if (c.result == 0) {
      EXPECT_NE(run.log.text().find("info      : Update Firmware Success,VID after update:01 00 00 02\n"),
                std::string::npos);
    } else {
      EXPECT_EQ(run.Count("error     : Failed switch to patch,ret:-2\n"), 2u);
      EXPECT_NE(run.log.text().find("error     : Update fw finish ERROR\n"), std::string::npos);
    }
  }
}

TEST(Win32ScriptedTest, LateAnswersWithinTheBoundAreAnswers) {
  FirmwareRun run;
  run.host.fate = [](int n, bool, const uint8_t*) { return n % 2 == 0 ? Fate::kLate : Fate::kAnswer; };
  EXPECT_EQ(run.Run(), 0);
  EXPECT_EQ(run.Count("error     :"), 0u) << run.log.text();
  EXPECT_EQ(run.host.cancels, 0);
  ASSERT_FALSE(run.host.requestWaitsMs.empty());
  EXPECT_EQ(run.host.requestWaitsMs.front(), kReportTimeoutMs);
}

// The controller's collection goes away at a report and comes back under a
// new path: after the restart command the job finds it again and succeeds;
// before it, the job fails as it always did, and walks no more.
TEST(Win32ScriptedTest, ControllerIsFollowedAcrossItsRestartOnly) {
  struct Case {
    const char* name;
    bool atRestart;
    int32_t result;
    int walks;
  };
  for (const Case& c : {Case{"after the restart command", true, 0, 2}, Case{"mid-update", false, -2, 1}}) {
    SCOPED_TRACE(c.name);
    FirmwareRun run;
    int chunks = 0;
    run.host.afterOutput = [&](const uint8_t* report) {
      const bool now = c.atRestart ? report[1] == 0x13 : IsChunkWrite(true, report) && ++chunks == 5;
      if (now) run.host.Replace(kController, kRecreated);
    };
    EXPECT_EQ(run.Run(), c.result);
    EXPECT_EQ(run.host.walks, c.walks);
    EXPECT_GE(run.Count("error:0x48f"), 1u) << run.log.text();
    EXPECT_EQ(run.host.OpenHandles(), 0);
    if (c.atRestart) {
      EXPECT_EQ(run.host.opened.back(), kRecreated);
      // One failed VERSION read; the next one, on the new path, succeeds.
      EXPECT_EQ(run.Count("error     : Failed read VERSION, retry=5\n"), 1u);
      EXPECT_EQ(run.Count("error     : Failed read VERSION, retry=4\n"), 0u);
      EXPECT_NE(run.log.text().find("info      : Update Firmware Success,VID after update:01 00 00 02\n"),
                std::string::npos);
    } else {
      EXPECT_EQ(run.host.opened.back(), kController);
      EXPECT_NE(run.log.text().find("error     : Update fw finish ERROR\n"), std::string::npos);
    }
  }
}

TEST(Win32ScriptedTest, ReportLengthsOtherThan65AreNamedBeforeTheJobFails) {
  ScriptedCollection odd = Controller();
  odd.inputBytes = 64;
  odd.outputBytes = 64;
  FakeClock clock;
  LogCapture log(3);
  ScriptedWin32 host({odd});
  Win32HidBackend backend;
  Installed<HidBackend> installed(&backend);
  EXPECT_EQ(ReadFwPid(), -1);
  const std::string& text = log.text();
  const size_t named = text.find(
      "error     : the controller's collection has 64-byte input and 64-byte output reports, not 65: its reports "
      "will fail\n");
  ASSERT_NE(named, std::string::npos) << text;
  EXPECT_NE(text.find("dbg info  : report lengths of the collection: input 64, output 64 bytes\n"),
            std::string::npos);
  EXPECT_LT(named, text.find("error     : Failed read VERSION, retry=5\n"));
  EXPECT_NE(text.find("error     : write failed!! error:0x6f8\n"), std::string::npos);
}

// The listing on a laptop: the touch screen's digitizer, which Windows holds
// without sharing, is the system's; the bus comes from the device above.
TEST(Win32ScriptedTest, DiagnosisNamesWhatTheSystemHoldsAndTheBus) {
  ScriptedCollection keyboard;
  keyboard.path = L"\\\\?\\hid#vid_046d&pid_c31c&mi_00#7&1b7f2cd&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}\\kbd";
  keyboard.vendorId = 0x046D;
  keyboard.usagePage = 0x0001;
  keyboard.usage = 0x0006;
  keyboard.openError = ERROR_ACCESS_DENIED;
  keyboard.parentId = L"USB\\VID_046D&PID_C31C&MI_00\\7&1b7f2cd&0&0000";
  ScriptedCollection vendorHeld = Controller();
  vendorHeld.openError = ERROR_SHARING_VIOLATION;
  ScriptedCollection orphan = Controller(L"\\\\?\\hid#root#0000#{4d1e55b2-f16f-11cf-88cb-001111000030}");
  orphan.parentId = L"ROOT\\HIDCLASS\\0000";
  orphan.parentCompatibleIds.clear();
  ScriptedWin32 host({Digitizer(), keyboard, vendorHeld, orphan});
  const auto diagnosis = MakeSystemHidDiagnosis();

  struct Case {
    const ScriptedCollection* collection;
    const char* bus;
    bool systemHeld;
  };
  const ScriptedCollection digitizer = Digitizer();
  for (const Case& c : {Case{&digitizer, "I2C", true}, Case{&keyboard, "USB", true}, Case{&vendorHeld, "I2C", false},
                        Case{&orphan, "unknown", false}}) {
    SCOPED_TRACE(std::string(c.collection->path.begin(), c.collection->path.end()));
    const HidInterface target{c.collection->path, 0};
    const InterfaceFacts facts = diagnosis->Describe(target);
    EXPECT_EQ(facts.bus, c.bus);
    ASSERT_TRUE(facts.haveUsages);
    EXPECT_EQ(facts.usagePage, c.collection->usagePage);
    EXPECT_TRUE(facts.haveReportLengths);
    EXPECT_EQ(facts.inputReportBytes, 65);
    const OpenProblem problem =
        diagnosis->ExplainOpenFailure(target, facts, c.collection->openError ? c.collection->openError : 5);
    EXPECT_EQ(problem.systemHeld, c.systemHeld) << problem.hint;
  }
  EXPECT_EQ(host.OpenHandles(), 0);
}

}  // namespace
}  // namespace tessaro::testing
