// Failure paths that only a fault letting its first matching events pass
// ({"after": M, "count": N}) can reach: a step that fails after an earlier
// use of the same register or command went well.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/jobs_support.h"
#include "tools/make-samples.h"

namespace tessaro::e2e {
namespace {

const std::string kFwEntry = "update firmware, file name:fw.bin\n";
const std::string kCfgEntry = "update configuration, file name:cfg.txt\n";

std::vector<std::string> NeededProgress() {
  std::vector<std::string> lines;
  for (const samples::SampleSub& sub : samples::SampleSubs()) {
    if (sub.type == 2 || sub.type == 6 || sub.type == 11) Append(lines, Progress(sub.length));
  }
  return lines;
}

std::vector<std::string> VersionReadFailsFiveTimes() {
  std::vector<std::string> lines;
  for (int left = 5; left >= 1; --left) {
    lines.push_back("error     : Read FAILED, because of HidD_GetInputReport fail:0x1f \n");
    lines.push_back("error     : Failed read VERSION, retry=" + std::to_string(left) + "\n");
  }
  return lines;
}

// The first chunk of KV30 confirmed, the second one's copy into the buffer
// failing at its first report.
std::vector<std::string> SecondChunkFails() {
  const uint32_t kv30 = samples::SampleSubs()[0].length;
  return {Progress(kv30)[0], "error     : write failed!! error:0x1f\n",
          "error     : Failed write data to addr=0x9000, len=55,ret = -2\n",
          "error     : Failed write sub fw,total length:" + std::to_string(kv30) +
              ", flash_addr:0x1000, now write len:4096, ret:-2\n",
          "error     : Failed load sub firmware, type:0x02, ret=-2\n", "error     : Update fw failed, retry=0\n"};
}

struct LateFaultCase {
  const char* name;
  std::string faults;
  bool firmware;
  std::vector<std::string> messages;
  int32_t result;
};

void PrintTo(const LateFaultCase& c, std::ostream* out) { *out << c.name; }

class LateFault : public ::testing::TestWithParam<LateFaultCase> {};

TEST_P(LateFault, ReachesItsFailurePath) {
  const LateFaultCase& c = GetParam();
  const RunResult run =
      c.firmware ? RunSim({"-f", "--file", "fw.bin"}, {SimState("\"faults\": " + c.faults), SampleFirmware()})
                 : RunSim({"-c", "--file", "cfg.txt"}, {SimState("\"faults\": " + c.faults), SampleConfig()});
  EXPECT_EQ(run.out, ConsoleOf(c.firmware ? kFwEntry : kCfgEntry, c.messages));
  EXPECT_EQ(run.exitCode, ExitCode(c.result));
  EXPECT_EQ(LogFile(run), LogFileOf(c.messages));
  EXPECT_EQ(run.ReadFile(kTraceFile).find("violation"), std::string::npos);
}

std::vector<std::string> Concat(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) Append(all, part);
  return all;
}

const LateFaultCase kLateFaults[] = {
    {"VersionReadAfterTheUpdate", R"({"readFailures": {"8240": {"after": 1, "count": 5}}})", true,
     Concat({NeededProgress(), VersionReadFailsFiveTimes(), {"error     : after update, read VERSION failed\n"}}), -2},
    {"SecondChunkOfASubFirmware", R"({"writeFailures": {"9000": {"after": 1, "count": 1}}})", true,
     Concat({SecondChunkFails(), NeededProgress(),
             {"info      : Update Firmware Success,VID after update:01 00 00 02\n"}}),
     0},
    {"FinishCommandOfTheHandshake", R"({"writeFailures": {"8040": {"after": 1, "count": 1}}})", false,
     {"error     : write failed!! error:0x1f\n", "error     : Failed write data to addr=0x8040, len=1,ret = -2\n",
      "error     : Failed write send cfg finish cmd,ret:-2\n", "info      : Update cfg failed, retry=0\n",
      "info      : Update Cfg Success! Cfg Ver:0x85\r\n"},
     0},
    // The read-back keeps the head read before the download: the old version.
    {"ReadBackAfterAGoodHeadRead", R"({"readFailures": {"8050": {"after": 1, "count": 1}}})", false,
     {"error     : Read FAILED, because of HidD_GetInputReport fail:0x1f \n",
      "error     : After config update,chip cfg version is not equal to cfg file version,chip cfg version:132,cfg "
      "file version:133\n",
      "info      : Update Cfg Success! Cfg Ver:0x85\r\n"},
     0},
};

INSTANTIATE_TEST_SUITE_P(Sim, LateFault, ::testing::ValuesIn(kLateFaults),
                         [](const ::testing::TestParamInfo<LateFaultCase>& info) {
                           return std::string(info.param.name);
                         });

// KV30's first chunk is sent 12 times, confirmed the last time; its second
// chunk is missed once more. Eleven reloads and then one more pass only
// because the count starts again with each chunk.
TEST(LateFaultReload, CounterStartsAgainForEachChunk) {
  // 11 refused sends of 100 polls each and the confirming poll pass first.
  const std::string faults =
      R"("faults": {"refuse": {"flash": 11}, "readFailures": {"5096": {"after": 1101, "count": 100}}})";
  const RunResult run = RunSim({"-d", "-f", "--file", "fw.bin"}, {SimState(faults), SampleFirmware()});
  EXPECT_EQ(run.exitCode, 0) << run.out;
  std::vector<std::string> reloads;
  for (const std::string& line : testing::SplitLines(run.out)) {
    if (line.rfind("dbg info  : Reload(", 0) == 0) reloads.push_back(line.substr(0, line.find('\r')));
  }
  std::vector<std::string> expected;
  for (int i = 1; i <= 11; ++i) expected.push_back("dbg info  : Reload(" + std::to_string(i) + ") subFW:addr:0x0");
  expected.push_back("dbg info  : Reload(1) subFW:addr:0x1000");
  EXPECT_EQ(reloads, expected);
  EXPECT_NE(run.out.find(TextMode("info      : Update Firmware Success,VID after update:01 00 00 02\n")),
            std::string::npos);
}

}  // namespace
}  // namespace tessaro::e2e
