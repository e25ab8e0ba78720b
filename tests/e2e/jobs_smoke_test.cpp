// A representative run of each job, whole: console, exit code, log file,
// trace and flash file. These also run against the Windows programs under
// Wine, where text-mode line ends and the exit code's low 8 bits show.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/jobs_support.h"
#include "tools/image_builder.h"
#include "tools/make-samples.h"

namespace tessaro::e2e {
namespace {

TEST(JobsSmoke, QueriesOfAFreshController) {
  const std::vector<std::pair<std::string, std::string>> queries = {
      {"pid", "info      : PID:TS01\n"},
      {"VID", "info      : VID:01 00 00 01\n"},
      {"sensorID", "info      : Sensor ID:03\n"},
      {"cfgver", "info      : CFG VER:0x84\n"}};
  const int exitCodes[] = {0, 1, 3, 0x84};
  for (size_t i = 0; i < queries.size(); ++i) {
    SCOPED_TRACE(queries[i].first);
    const RunResult run = RunSim({"--prop", queries[i].first}, {SimState()});
    EXPECT_EQ(run.out, ConsoleOf("", {queries[i].second}));
    EXPECT_EQ(run.exitCode, exitCodes[i]);
    EXPECT_EQ(LogFile(run), LogFileOf({queries[i].second}));
  }
}

TEST(JobsSmoke, AbsentController) {
  const RunResult run = RunSim({"-p", "vid"}, {SimState(R"("present": false)")});
  std::vector<std::string> messages;
  for (int i = 0; i < 4; ++i) Append(messages, {"error     : find device failed\r\n", "error     : open TLC failed\n"});
  EXPECT_EQ(run.out, ConsoleOf("", messages));
  EXPECT_EQ(run.exitCode, 255);
  EXPECT_EQ(LogFile(run), LogFileOf(messages));
  EXPECT_EQ(Sleeps(run), (std::vector<uint32_t>{2000, 2000, 2000, 2000}));
}

TEST(JobsSmoke, FirmwareUpdateOfTheSample) {
  const RunResult run = RunSim({"--firmware", "--file", "fw.bin"}, {SimState(), SampleFirmware()});
  std::vector<std::string> messages;
  Append(messages, Progress(20000));
  Append(messages, Progress(3000));
  Append(messages, Progress(9001));
  messages.push_back("info      : Update Firmware Success,VID after update:01 00 00 02\n");
  EXPECT_EQ(run.out, ConsoleOf("update firmware, file name:fw.bin\n", messages));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(LogFile(run), LogFileOf(messages));
  EXPECT_TRUE(run.ReadFile(kFlashFile) == ExpectedFlash(samples::SampleFirmwareImage(), 0x844));
  std::vector<uint32_t> sleeps = {250, 100};
  sleeps.insert(sleeps.end(), 9, 80);
  sleeps.insert(sleeps.end(), {200, 1000});
  EXPECT_EQ(Sleeps(run), sleeps);
}

TEST(JobsSmoke, FirmwareAttemptFailsOnTwelveRefusalsAndTheNextSucceeds) {
  const RunResult run = RunSim({"-f", "--file", "fw.bin"}, {SimState(R"("faults": {"refuse": {"flash": 12}})"), SampleFirmware()});
  std::vector<std::string> messages = {"error     : Failed load sub firmware, type:0x02, ret=-1\n",
                                       "error     : Update fw failed, retry=0\n"};
  Append(messages, Progress(20000));
  Append(messages, Progress(3000));
  Append(messages, Progress(9001));
  messages.push_back("info      : Update Firmware Success,VID after update:01 00 00 02\n");
  EXPECT_EQ(run.out, ConsoleOf("update firmware, file name:fw.bin\n", messages));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(LogFile(run), LogFileOf(messages));
}

TEST(JobsSmoke, FirmwareImageWithATableThatDoesNotFit) {
  testing::FwImageSpec spec;
  spec.pidField = "TS01";
  spec.subs = testing::NeededSubFirmwares();
  spec.count = 29;
  const RunResult run = RunSim({"-f", "--file", "fw.bin"}, {SimState(), {"fw.bin", testing::BuildFwImage(spec)}});
  const std::vector<std::string> messages = {"error     : sub fw table invalid, sub fw num:29, at most:28\n",
                                             "error     : Failed read firmware file:fw.bin, ret:-7\n"};
  EXPECT_EQ(run.out, ConsoleOf("update firmware, file name:fw.bin\n", messages));
  EXPECT_EQ(run.exitCode, 254);
  EXPECT_EQ(LogFile(run), LogFileOf(messages));
  EXPECT_EQ(Timeline(run), (std::vector<std::string>{"walk", "open", "read 8240 -> 545330310100000100001300", "close"}));
}

TEST(JobsSmoke, ConfigurationUpdateOfTheSample) {
  const RunResult run = RunSim({"--config", "--file", "cfg.txt"}, {SimState(), SampleConfig()});
  const std::vector<std::string> messages = {"info      : Update Cfg Success! Cfg Ver:0x85\r\n"};
  EXPECT_EQ(run.out, ConsoleOf("update configuration, file name:cfg.txt\n", messages));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(LogFile(run), LogFileOf(messages));
  EXPECT_EQ(Timeline(run),
            (std::vector<std::string>{"walk", "open", "read 8050 -> 84007c", "write 8040 800080", "sleep 100",
                                      "read 8040 -> 82", "write 8050 [64]", "write 8040 83", "sleep 80",
                                      "read 8040 -> ff", "sleep 200", "read 8050 -> 85007b", "close"}));
}

TEST(JobsSmoke, ConfigurationRefusedFiveTimes) {
  const RunResult run = RunSim({"-c", "--file", "cfg.txt"},
                               {SimState(R"("faults": {"refuse": {"cfgAccept": 5}})"), SampleConfig()});
  std::vector<std::string> messages;
  for (int attempt = 0; attempt < 5; ++attempt) {
    Append(messages, {"error     : send write cfg cmd failed!\n",
                      "info      : Update cfg failed, retry=" + std::to_string(attempt) + "\n"});
  }
  messages.push_back("error     : Can't Update cfg correctly\n");
  EXPECT_EQ(run.out, ConsoleOf("update configuration, file name:cfg.txt\n", messages));
  EXPECT_EQ(run.exitCode, 254);
  EXPECT_EQ(LogFile(run), LogFileOf(messages));
}

}  // namespace
}  // namespace tessaro::e2e
