// The firmware job end to end on tessaro-sim: the sample image on a fresh
// controller, the update conditions, the mask, the attempts, the controller's
// refusals, and images that must never reach it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/jobs_support.h"
#include "tools/image_builder.h"
#include "tools/make-samples.h"

namespace tessaro::e2e {
namespace {

const std::string kEntry = "update firmware, file name:fw.bin\n";
const std::string kSuccess = "info      : Update Firmware Success,VID after update:01 00 00 02\n";

// The progress of the sample's three needed sub-firmwares, in table order.
std::vector<std::string> SampleProgress() {
  std::vector<std::string> lines;
  for (const samples::SampleSub& sub : samples::SampleSubs()) {
    if (sub.type == 2 || sub.type == 6 || sub.type == 11) Append(lines, Progress(sub.length));
  }
  return lines;
}

// The load-flash commands that writing the selected sub-firmwares of
// `image` takes, worked out the long way: an odd last chunk sums the image
// byte after it, or 0 when it ends the image.
std::vector<std::vector<uint8_t>> ExpectedLoads(const std::string& image, uint32_t mask) {
  std::vector<std::vector<uint8_t>> loads;
  auto byteAt = [&](size_t i) -> uint32_t { return i < image.size() ? static_cast<uint8_t>(image[i]) : 0u; };
  size_t dataOffset = 256;
  for (uint32_t i = 0; i < byteAt(27); ++i) {
    const size_t entry = 32 + 8 * i;
    const uint32_t type = byteAt(entry);
    const uint32_t length = byteAt(entry + 1) << 24 | byteAt(entry + 2) << 16 | byteAt(entry + 3) << 8 | byteAt(entry + 4);
    uint32_t address = (byteAt(entry + 5) << 8 | byteAt(entry + 6)) * 256;
    if ((mask >> (type % 32)) & 1) {
      for (uint32_t done = 0; done < length;) {
        const uint32_t chunk = std::min<uint32_t>(4096, length - done);
        uint32_t sum = 0;
        for (uint32_t k = 0; k < chunk; k += 2) sum += byteAt(dataOffset + done + k) << 8 | byteAt(dataOffset + done + k + 1);
        loads.push_back({0x0E, 0x12, 0x00, 0x00, 0x06, static_cast<uint8_t>(chunk >> 8), static_cast<uint8_t>(chunk),
                         static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                         static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum)});
        done += chunk;
        address += chunk;
      }
    }
    dataOffset += length;
  }
  return loads;
}

int Count(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

std::string Retry(int attempt) { return "error     : Update fw failed, retry=" + std::to_string(attempt) + "\n"; }

TEST(JobsFirmware, SampleImageUpdatesAFreshController) {
  const RunResult run = RunSim({"-f", "--file", "fw.bin"}, {SimState(), SampleFirmware()});
  std::vector<std::string> messages = SampleProgress();
  messages.push_back(kSuccess);
  EXPECT_EQ(run.out, ConsoleOf(kEntry, messages));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(LogFile(run), LogFileOf(messages));
  // The default mask writes KV30, the short test code and Q5 at their
  // addresses, and skips the small sys and the boot code.
  const std::string image = samples::SampleFirmwareImage();
  EXPECT_TRUE(run.ReadFile(kFlashFile) == ExpectedFlash(image, 0x844));
  EXPECT_EQ(testing::TraceLoadCommands(TraceLines(run)), ExpectedLoads(image, 0x844));
  // Every pause of one update: the switch, the start, one 80 ms wait per
  // chunk (5 + 1 + 3), the restart, and the pause before the VERSION read.
  std::vector<uint32_t> sleeps = {250, 100};
  sleeps.insert(sleeps.end(), 9, 80);
  sleeps.insert(sleeps.end(), {200, 1000});
  EXPECT_EQ(Sleeps(run), sleeps);
  std::vector<std::string> shape;
  for (const std::string& line : Timeline(run)) {
    if (line.rfind("write 9000", 0) != 0 && line.rfind("load ", 0) != 0 && line != "sleep 80" &&
        line != "read 5096 -> aa") {
      shape.push_back(line);
    }
  }
  EXPECT_EQ(shape, (std::vector<std::string>{"walk", "open", "read 8240 -> 545330310100000100001300", "cmd 10",
                                             "sleep 250", "read 5095 -> dd", "cmd 11", "sleep 100", "cmd 13",
                                             "sleep 200", "sleep 1000", "read 8240 -> 545330310100000200001300",
                                             "close"}));
  EXPECT_NE(run.ReadFile(kStateFile).find("\"vid\": \"01000002\""), std::string::npos);
}

TEST(JobsFirmware, DebugLogShowsTheSkippedKinds) {
  const RunResult run = RunSim({"-d", "-f", "--file", "fw.bin"}, {SimState(), SampleFirmware()});
  EXPECT_EQ(run.exitCode, 0);
  const std::string log = LogFile(run);
  for (const char* line :
       {"dbg info  : sub fw num:5\n", "dbg info  : Sub firmware type does not math,sub_fw_num:1, type:0x05\n",
        "dbg info  : Sub firmware type does not math,sub_fw_num:3, type:0x0e\n",
        "dbg info  : Sub FW addr=0x80, len=9001(Byte)\n", "dbg info  : small sys didn't been update\n",
        "dbg info  : boot code didn't been update\n", "dbg info  : Update fw success\n"}) {
    EXPECT_NE(log.find(TextMode(line)), std::string::npos) << line;
  }
}

struct ConditionCase {
  const char* name;
  std::string state;
  std::vector<std::string> args;
  std::vector<std::string> refusal;  // empty: the update goes ahead
};

TEST(JobsFirmware, UpdateConditionsOnPidAndVid) {
  const std::string notMet = "info      : Doesn't meet the update conditions\n";
  const std::vector<ConditionCase> cases = {
      {"same vid", R"("vid": "01000002")", {}, {"info      : VID is equal, do not neet update\n", notMet}},
      {"other pid", R"("pid": "AB12")", {},
       {"error     : PID mismatch, PID from dev:AB12, PID from fw_bin:TS01\n", notMet}},
      {"same vid, ignoreVer", R"("vid": "01000002")", {"-i"}, {}},
      {"other pid, ignoreVer", R"("pid": "AB12")", {"--ignoreVer"}, {}},
  };
  for (const ConditionCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"-f", "--file", "fw.bin"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult run = RunSim(args, {SimState(c.state), SampleFirmware()});
    EXPECT_EQ(run.exitCode, 0);
    if (c.refusal.empty()) {
      std::vector<std::string> messages = SampleProgress();
      messages.push_back(kSuccess);
      EXPECT_EQ(run.out, ConsoleOf(kEntry, messages));
      EXPECT_TRUE(run.ReadFile(kFlashFile) == ExpectedFlash(samples::SampleFirmwareImage(), 0x844));
    } else {
      EXPECT_EQ(run.out, ConsoleOf(kEntry, c.refusal));
      EXPECT_EQ(LogFile(run), LogFileOf(c.refusal));
      EXPECT_EQ(Timeline(run).size(), 4u);  // walk, open, the VERSION read, close
      EXPECT_EQ(run.ReadFile(kFlashFile), "");  // nothing written
    }
  }
}

// Whether an attempt can succeed is known before the first report that
// changes the controller: a mask or an image without a needed kind gets the
// kind's line once, -1, and the controller hears nothing but the VERSION read.
TEST(JobsFirmware, MaskOrImageWithoutANeededKindIsRefusedBeforeTheSwitch) {
  testing::FwImageSpec noSubs;
  noSubs.pidField = "TS01";
  noSubs.vid = {0x01, 0x00, 0x00, 0x02};
  testing::FwImageSpec noQ5 = noSubs;
  noQ5.subs = testing::NeededSubFirmwares();
  noQ5.subs.pop_back();  // types 2 and 6 only
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string image;
    std::string entry;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"--flag=4", {"--flag=4"}, samples::SampleFirmwareImage(), "firmware update sub type flag:0x4",
       "error     : Q5 didn't been update\n"},
      {"--flag=68", {"--flag=68"}, samples::SampleFirmwareImage(), "firmware update sub type flag:0x44",
       "error     : Q5 didn't been update\n"},
      {"image without Q5", {}, testing::BuildFwImage(noQ5), "", "error     : Q5 didn't been update\n"},
      {"image without sub-firmwares", {}, testing::BuildFwImage(noSubs), "", "error     : KV30 didn't been update\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"-f", "--file", "fw.bin"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult run = RunSim(args, {SimState(), {"fw.bin", c.image}});
    EXPECT_EQ(run.out, ConsoleOf(c.entry + kEntry, {c.line}));
    EXPECT_EQ(run.exitCode, ExitCode(-1));
    EXPECT_EQ(LogFile(run), LogFileOf({c.line}));
    EXPECT_EQ(Timeline(run), (std::vector<std::string>{"walk", "open", "read 8240 -> 545330310100000100001300", "close"}));
    EXPECT_EQ(run.ReadFile(kFlashFile), "");
  }
}

// A small sys that the default mask skips may lie anywhere, even where no
// load-flash command could reach; selected, it is refused once, up front.
TEST(JobsFirmware, SkippedEntryAtTheEndOfFlashIsNoObstacle) {
  std::string image = samples::SampleFirmwareImage();
  ASSERT_EQ(image[32 + 8], '\x05');  // entry 1 is the small sys
  image[32 + 8 + 5] = '\xFF';
  image[32 + 8 + 6] = '\xFF';
  testing::SealFwImage(image);
  const RunResult skipped = RunSim({"-f", "--file", "fw.bin"}, {SimState(), {"fw.bin", image}});
  std::vector<std::string> messages = SampleProgress();
  messages.push_back(kSuccess);
  EXPECT_EQ(skipped.out, ConsoleOf(kEntry, messages));
  EXPECT_EQ(skipped.exitCode, 0);

  const RunResult selected = RunSim({"-f", "--file", "fw.bin", "--flag=2148"}, {SimState(), {"fw.bin", image}});
  const std::string refusal = "error     : sub fw past the end of flash, type:0x05, addr=0xffff, len=2048(Byte)\n";
  EXPECT_EQ(selected.out, ConsoleOf("firmware update sub type flag:0x864" + kEntry, {refusal}));
  EXPECT_EQ(selected.exitCode, ExitCode(-4));
  EXPECT_EQ(Timeline(selected).size(), 4u);  // walk, open, the VERSION read, close
}

TEST(JobsFirmware, SuccessOnTheThirdAttempt) {
  const RunResult run = RunSim({"-f", "--file", "fw.bin"}, {SimState(R"("faults": {"refuse": {"patch": 2}})"), SampleFirmware()});
  std::vector<std::string> messages = {"error     : switch failed\n", Retry(0), "error     : switch failed\n", Retry(1)};
  Append(messages, SampleProgress());
  messages.push_back(kSuccess);
  EXPECT_EQ(run.out, ConsoleOf(kEntry, messages));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(LogFile(run), LogFileOf(messages));
  const std::vector<std::string> timeline = testing::Collapse(Timeline(run));
  EXPECT_EQ(std::vector<std::string>(timeline.begin() + 3, timeline.begin() + 12),
            (std::vector<std::string>{"cmd 10", "sleep 250", "{read 5095 -> 00 | sleep 30} x5", "sleep 200", "cmd 10",
                                      "sleep 250", "{read 5095 -> 00 | sleep 30} x5", "sleep 200", "cmd 10"}));
}

TEST(JobsFirmware, ThreeFailedAttemptsEndWithTheThirdCode) {
  // Attempts 0 and 1 fail to send the switch (-2); attempt 2 sees its first
  // chunk refused twelve times (-1).
  const RunResult run = RunSim(
      {"-f", "--file", "fw.bin"},
      {SimState(R"("faults": {"commandFailures": {"10": 2}, "refuse": {"flash": 12}})"), SampleFirmware()});
  const std::vector<std::string> messages = {
      "error     : write failed!! error:0x1f\n", "error     : Failed switch to patch,ret:-2\n", Retry(0),
      "error     : write failed!! error:0x1f\n", "error     : Failed switch to patch,ret:-2\n", Retry(1),
      "error     : Failed load sub firmware, type:0x02, ret=-1\n", Retry(2), "error     : Update fw finish ERROR\n"};
  EXPECT_EQ(run.out, ConsoleOf(kEntry, messages));
  EXPECT_EQ(run.exitCode, ExitCode(-1));
  EXPECT_EQ(LogFile(run), LogFileOf(messages));
  EXPECT_EQ(Count(Timeline(run), "FAIL cmd 10"), 2);
}

TEST(JobsFirmware, ChunkConfirmedOnTheHundredthRead) {
  const RunResult run = RunSim({"-f", "--file", "fw.bin"}, {SimState(R"("faults": {"ackAfter": {"flash": 100}})"), SampleFirmware()});
  EXPECT_EQ(run.exitCode, 0);
  const std::vector<std::string> timeline = testing::Collapse(Timeline(run));
  const auto firstLoad = std::find_if(timeline.begin(), timeline.end(), [](const std::string& line) { return line.rfind("load ", 0) == 0; });
  ASSERT_NE(firstLoad, timeline.end());
  EXPECT_EQ(std::vector<std::string>(firstLoad + 1, firstLoad + 4),
            (std::vector<std::string>{"sleep 80", "{read 5096 -> 00 | sleep 2} x99", "read 5096 -> aa"}));
  EXPECT_EQ(Count(Timeline(run), "cmd 10"), 1);
}

TEST(JobsFirmware, ElevenRefusalsOfAChunkThenSuccess) {
  const RunResult run = RunSim({"-f", "--file", "fw.bin"}, {SimState(R"("faults": {"refuse": {"flash": 11}})"), SampleFirmware()});
  std::vector<std::string> messages = SampleProgress();
  messages.push_back(kSuccess);
  EXPECT_EQ(run.out, ConsoleOf(kEntry, messages));
  EXPECT_EQ(run.exitCode, 0);
  const auto loads = testing::TraceLoadCommands(TraceLines(run));
  ASSERT_EQ(loads.size(), 9u + 11u);
  for (size_t i = 1; i < 12; ++i) EXPECT_EQ(loads[i], loads[0]);
  EXPECT_TRUE(run.ReadFile(kFlashFile) == ExpectedFlash(samples::SampleFirmwareImage(), 0x844));
}

TEST(JobsFirmware, TwelveRefusalsFailTheAttemptAfterTheDebugDump) {
  const RunResult run = RunSim({"-d", "-f", "--file", "fw.bin"},
                               {SimState(R"("faults": {"refuse": {"flash": 12}})"), SampleFirmware()});
  EXPECT_EQ(run.exitCode, 0);
  std::string dump = "dbg info  : Read back 0x5096(0x0) != 0xAA\n";
  for (int i = 0; i < 16; ++i) {
    char line[40];
    std::snprintf(line, sizeof line, "dbg info  : 0x%04x: 0x00\n", 0xF300 + i);
    dump += line;
  }
  const std::string log = LogFile(run);
  std::string lastDump = dump + "error     : Failed load sub firmware, type:0x02, ret=-1\n" + Retry(0) + "dbg info  : start switch\n";
  EXPECT_EQ(run.out.find(TextMode("dbg info  : Reload(12)")), std::string::npos);
  EXPECT_NE(run.out.find(TextMode(dump + "dbg info  : Reload(11) subFW:addr:0x0\n")), std::string::npos);
  EXPECT_NE(run.out.find(TextMode(lastDump)), std::string::npos);
  EXPECT_EQ(Count(Timeline(run), "read f300 -> 00000000000000000000000000000000"), 12);
  EXPECT_EQ(Count(Timeline(run), "cmd 10"), 2);
}

struct RefusedImageCase {
  const char* name;
  std::string image;
  std::string loaderLine;
};

TEST(JobsFirmware, ImageWhoseTableDoesNotFitNeverReachesTheController) {
  testing::FwImageSpec longEntry;
  longEntry.pidField = "TS01";
  longEntry.subs = testing::NeededSubFirmwares();  // 10000, 4096 and 4097 bytes
  longEntry.subs[2].tableLength = 4098;
  testing::FwImageSpec manyEntries = longEntry;
  manyEntries.subs[2].tableLength.reset();
  manyEntries.count = 29;
  const std::vector<RefusedImageCase> cases = {
      {"entry past the end", testing::BuildFwImage(longEntry),
       "error     : sub fw data past end of file, sub_fw_num:2, offset:14352, len:4098, fw_bin_len:18449\n"},
      {"count above 28", testing::BuildFwImage(manyEntries),
       "error     : sub fw table invalid, sub fw num:29, at most:28\n"},
  };
  for (const RefusedImageCase& c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult run = RunSim({"-f", "--file", "fw.bin", "-i"}, {SimState(), {"fw.bin", c.image}});
    const std::vector<std::string> messages = {c.loaderLine, "error     : Failed read firmware file:fw.bin, ret:-7\n"};
    EXPECT_EQ(run.out, ConsoleOf(kEntry, messages));
    EXPECT_EQ(run.exitCode, ExitCode(-2));
    EXPECT_EQ(LogFile(run), LogFileOf(messages));
    EXPECT_EQ(Timeline(run),
              (std::vector<std::string>{"walk", "open", "read 8240 -> 545330310100000100001300", "close"}));
    EXPECT_EQ(run.ReadFile(kFlashFile), "");  // nothing written
  }
}

TEST(JobsFirmware, ControllerAbsentLeavesTheImageAlone) {
  const RunResult run = RunSim({"-f", "--file", "missing.bin"}, {SimState(R"("present": false)")});
  std::vector<std::string> messages;
  for (int i = 0; i < 4; ++i) Append(messages, {"error     : find device failed\r\n", "error     : open TLC failed\n"});
  EXPECT_EQ(run.out, ConsoleOf("update firmware, file name:missing.bin\n", messages));
  EXPECT_EQ(run.exitCode, ExitCode(-1));
  EXPECT_EQ(Sleeps(run), (std::vector<uint32_t>{2000, 2000, 2000, 2000}));
}

}  // namespace
}  // namespace tessaro::e2e
