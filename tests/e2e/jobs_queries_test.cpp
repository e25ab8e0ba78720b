// The property queries run end to end on tessaro-sim: console, exit code,
// log file and the reports on the wire.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/jobs_support.h"

namespace tessaro::e2e {
namespace {

const std::string kVersionRead = "read 8240 -> 545330310100000100001300";

struct QueryCase {
  std::vector<std::string> args;
  std::vector<std::string> messages;
  int32_t result;
  std::vector<std::string> timeline;
};

TEST(JobsQueries, EachPropertyOfAFreshController) {
  const std::vector<QueryCase> cases = {
      {{"--prop", "pid"}, {"info      : PID:TS01\n"}, 0, {"walk", "open", kVersionRead, "close"}},
      {{"-p", "vid"}, {"info      : VID:01 00 00 01\n"}, 0x01000001, {"walk", "open", kVersionRead, "close"}},
      {{"--prop=sensorid"}, {"info      : Sensor ID:03\n"}, 3, {"walk", "open", kVersionRead, "close"}},
      {{"-p", "cfgver"}, {"info      : CFG VER:0x84\n"}, 0x84,
       {"walk", "open", "sleep 100", "read 8050 -> 84007c", "close"}},
      // The property word is taken in any case.
      {{"-p", "sensorID"}, {"info      : Sensor ID:03\n"}, 3, {"walk", "open", kVersionRead, "close"}},
      {{"-p", "SENSORID"}, {"info      : Sensor ID:03\n"}, 3, {"walk", "open", kVersionRead, "close"}},
      {{"-p", "CfgVer"}, {"info      : CFG VER:0x84\n"}, 0x84,
       {"walk", "open", "sleep 100", "read 8050 -> 84007c", "close"}},
      {{"-p", "PID"}, {"info      : PID:TS01\n"}, 0, {"walk", "open", kVersionRead, "close"}},
  };
  for (const QueryCase& c : cases) {
    SCOPED_TRACE(c.args.back());
    const RunResult run = RunSim(c.args, {SimState()});
    EXPECT_EQ(run.out, ConsoleOf("", c.messages));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, ExitCode(c.result));
    EXPECT_EQ(LogFile(run), LogFileOf(c.messages));
    EXPECT_EQ(Timeline(run), c.timeline);
  }
}

TEST(JobsQueries, DebugLinesOfAQuery) {
  const RunResult run = RunSim({"-d", "-p", "vid"}, {SimState()});
  const std::vector<std::string> messages = {
      "dbg info  : Find the target device success,path of device is \\\\?\\hid#tessaro-sim&col01\n",
      "dbg info  : open TLC success\n",
      "dbg info  : read Fw vid success\n",
      "dbg info  : VID:01 00 00 01\n",
      "info      : VID:01 00 00 01\n"};
  EXPECT_EQ(run.out, ConsoleOf("", messages));
  EXPECT_EQ(LogFile(run), LogFileOf(messages));
}

TEST(JobsQueries, UnreadableVersionBlock) {
  std::vector<std::string> messages;
  for (int left = 5; left >= 1; --left) {
    messages.push_back("error     : Read FAILED, because of HidD_GetInputReport fail:0x1f \n");
    messages.push_back("error     : Failed read VERSION, retry=" + std::to_string(left) + "\n");
  }
  messages.push_back("error     : read VERSION failed\n");
  const std::vector<std::pair<std::string, int32_t>> cases = {{"pid", -1}, {"vid", -1}, {"sensorid", 255}};
  for (const auto& [property, result] : cases) {
    SCOPED_TRACE(property);
    const RunResult run = RunSim({"-p", property}, {SimState(R"("faults": {"readFailures": {"8240": 5}})")});
    EXPECT_EQ(run.out, ConsoleOf("", messages));
    EXPECT_EQ(run.exitCode, ExitCode(result));
    EXPECT_EQ(LogFile(run), LogFileOf(messages));
    std::vector<std::string> timeline = {"walk", "open"};
    for (int i = 0; i < 5; ++i) timeline.push_back("read 8240 -> fail");
    timeline.push_back("close");
    EXPECT_EQ(Timeline(run), timeline);
  }
}

struct HeadCase {
  const char* name;
  std::string state;
  std::vector<std::string> messages;
  int32_t result;
  std::string read;
};

TEST(JobsQueries, ConfigurationHead) {
  const std::string warning = "error     : Warning:cfg before update from chip checksum error!";
  const std::vector<HeadCase> cases = {
      {"unreadable", R"("faults": {"readFailures": {"8050": 1}})",
       {"error     : Read FAILED, because of HidD_GetInputReport fail:0x1f \n", "error     : read cfg version failed\n"},
       255, "read 8050 -> fail"},
      {"reply of another length", R"("faults": {"lengthMismatch": {"8050": 1}})",
       {"error     : valid data len from fw ERROR, readLen:3, fw_data_len:4\n", "error     : read cfg version failed\n"},
       255, "read 8050 -> length 4"},
      {"not summing to 0", R"("config": "4501BB")", {warning, "info      : CFG VER:0x45\n"}, 0x45,
       "read 8050 -> 4501bb"},
      {"intact", R"("config": "4500BB")", {"info      : CFG VER:0x45\n"}, 0x45, "read 8050 -> 4500bb"},
      {"version 0xff", R"("config": "FF0001")", {"info      : CFG VER:0xff\n"}, 255, "read 8050 -> ff0001"},
  };
  for (const HeadCase& c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult run = RunSim({"-p", "cfgver"}, {SimState(c.state)});
    EXPECT_EQ(run.out, ConsoleOf("", c.messages));
    EXPECT_EQ(run.exitCode, c.result);
    EXPECT_EQ(LogFile(run), LogFileOf(c.messages));
    EXPECT_EQ(Timeline(run), (std::vector<std::string>{"walk", "open", "sleep 100", c.read, "close"}));
  }
}

TEST(JobsQueries, AbsentControllerCostsFourWalksAndEightSeconds) {
  std::vector<std::string> messages;
  for (int i = 0; i < 4; ++i) {
    messages.push_back("error     : find device failed\r\n");
    messages.push_back("error     : open TLC failed\n");
  }
  const std::vector<std::pair<std::string, int32_t>> cases = {
      {"pid", -1}, {"vid", -1}, {"sensorid", 255}, {"cfgver", 255}};
  for (const std::string& state : {std::string(R"("present": false)"), std::string(R"("faults": {"openFailures": 4})")}) {
    for (const auto& [property, result] : cases) {
      SCOPED_TRACE(state + " " + property);
      const RunResult run = RunSim({"-p", property}, {SimState(state)});
      EXPECT_EQ(run.out, ConsoleOf("", messages));
      EXPECT_EQ(run.exitCode, ExitCode(result));
      EXPECT_EQ(LogFile(run), LogFileOf(messages));
      EXPECT_EQ(Timeline(run), (std::vector<std::string>{"walk", "sleep 2000", "walk", "sleep 2000", "walk",
                                                          "sleep 2000", "walk", "sleep 2000"}));
    }
  }
}

TEST(JobsQueries, UnknownPropertyTouchesNothing) {
  const RunResult run = RunSim({"-p", "sensor"}, {SimState()});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.Files(), std::vector<std::string>{kStateFile});
}

}  // namespace
}  // namespace tessaro::e2e
