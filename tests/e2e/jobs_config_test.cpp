// The configuration job end to end on tessaro-sim: the handshake on the
// wire, the version decision, the controller's refusals and what it keeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/jobs_support.h"
#include "tests/support/fake_hid.h"
#include "tools/image_builder.h"
#include "tools/make-samples.h"

namespace tessaro::e2e {
namespace {

const std::string kEntry = "update configuration, file name:cfg.txt\n";
const std::string kSuccess = "info      : Update Cfg Success! Cfg Ver:0x85\r\n";
const std::string kGiveUp = "error     : Can't Update cfg correctly\n";

std::vector<uint8_t> SampleBytes() {
  std::vector<uint8_t> bytes;
  const std::string text = samples::SampleConfiguration();
  for (size_t at = text.find("0x"); at != std::string::npos; at = text.find("0x", at + 1)) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(at + 2, 2), nullptr, 16)));
  }
  return bytes;
}

std::string FailedAttempt(int attempt) { return "info      : Update cfg failed, retry=" + std::to_string(attempt) + "\n"; }

TEST(JobsConfig, SampleConfigurationUpdatesAFreshController) {
  const RunResult run = RunSim({"-c", "--file", "cfg.txt"}, {SimState(), SampleConfig()});
  EXPECT_EQ(run.out, ConsoleOf(kEntry, {kSuccess}));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(LogFile(run), LogFileOf({kSuccess}));
  EXPECT_EQ(Timeline(run),
            (std::vector<std::string>{"walk", "open", "read 8050 -> 84007c", "write 8040 800080", "sleep 100",
                                      "read 8040 -> 82", "write 8050 [64]", "write 8040 83", "sleep 80",
                                      "read 8040 -> ff", "sleep 200", "read 8050 -> 85007b", "close"}));
  // The handshake's reports byte for byte, and the bytes as the file holds them.
  const std::vector<std::string> trace = TraceLines(run);
  EXPECT_NE(std::find(trace.begin(), trace.end(),
                      "out " + testing::Hex(testing::ReportBytes({0x0E, 0x20, 0x00, 0x00, 0x08, 0x00, 0x80, 0x40, 0x00,
                                                                  0x03, 0x80, 0x00, 0x80}))),
            trace.end());
  EXPECT_NE(std::find(trace.begin(), trace.end(),
                      "out " + testing::Hex(testing::ReportBytes({0x0E, 0x20, 0x00, 0x00, 0x06, 0x00, 0x80, 0x40, 0x00,
                                                                  0x01, 0x83}))),
            trace.end());
  const std::vector<testing::Transfer> transfers = testing::TraceTransfers(trace);
  ASSERT_EQ(transfers.size(), 3u);
  EXPECT_EQ(transfers[1].address, 0x8050);
  EXPECT_EQ(transfers[1].data, SampleBytes());
  EXPECT_NE(run.ReadFile(kStateFile).find("\"config\": \"85007B"), std::string::npos);
}

struct DecisionCase {
  const char* name;
  std::string chipConfig;
  bool ignoreVersion;
  int32_t result;
  std::vector<std::string> messages;
};

TEST(JobsConfig, VersionDecision) {
  auto refused = [](int chip) {
    return "error     : chip cfg version is forward or equal to input cfg file,no need to update config, chip cfg "
           "version:" +
           std::to_string(chip) + ",cfg file version:133\n";
  };
  const std::vector<DecisionCase> cases = {
      {"older chip", "84007C", false, 0, {kSuccess}},
      {"newer chip", "86007A", false, -6, {refused(134)}},
      {"equal", "85007B", false, -6, {refused(133)}},
      {"equal, ignoreVer", "85007B", true, 0, {kSuccess}},
      {"chip at 0xff", "FF0001", false, -6, {refused(255)}},
      {"chip at 0xff, ignoreVer", "FF0001", true, 0, {kSuccess}},
  };
  for (const DecisionCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"-c", "--file", "cfg.txt"};
    if (c.ignoreVersion) args.push_back("-i");
    const RunResult run = RunSim(args, {SimState(R"("config": ")" + c.chipConfig + "\""), SampleConfig()});
    EXPECT_EQ(run.out, ConsoleOf(kEntry, c.messages));
    EXPECT_EQ(run.exitCode, ExitCode(c.result));
    EXPECT_EQ(LogFile(run), LogFileOf(c.messages));
    EXPECT_EQ(Timeline(run).size(), c.result == 0 ? 13u : 4u);
  }
}

TEST(JobsConfig, TemporaryConfigurationIsSentAfterItsWarning) {
  std::vector<uint8_t> body = {0x00, 0xFB};
  body.resize(20, 0x33);
  const std::string text = testing::CfgText(testing::BalancedCfgBytes(0x05, body));
  const RunResult run = RunSim({"-d", "-c", "-i", "--file", "cfg.txt"}, {SimState(), {"cfg.txt", text}});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find(TextMode("dbg info  : cfg_image Initialize success\n"
                                  "dbg info  : Warning:Your Input cfg didn't start with 0x80 in first byte\n"
                                  "dbg info  : Warning:which means this is a tmp cfg and it will not write to Flash\n"
                                  "dbg info  : download cfg success\n")),
            std::string::npos);
  EXPECT_NE(run.out.find(TextMode("info      : Update Cfg Success! Cfg Ver:0x5\r\n")), std::string::npos);
  // Without debug the warning does not show.
  const RunResult quiet = RunSim({"-c", "-i", "--file", "cfg.txt"}, {SimState(), {"cfg.txt", text}});
  EXPECT_EQ(quiet.out, ConsoleOf(kEntry, {"info      : Update Cfg Success! Cfg Ver:0x5\r\n"}));
}

TEST(JobsConfig, RefusedInEveryAttempt) {
  const RunResult run = RunSim({"-c", "--file", "cfg.txt"},
                               {SimState(R"("faults": {"refuse": {"cfgAccept": 5}})"), SampleConfig()});
  std::vector<std::string> messages;
  for (int attempt = 0; attempt < 5; ++attempt) Append(messages, {"error     : send write cfg cmd failed!\n", FailedAttempt(attempt)});
  messages.push_back(kGiveUp);
  EXPECT_EQ(run.out, ConsoleOf(kEntry, messages));
  EXPECT_EQ(run.exitCode, ExitCode(-2));
  EXPECT_EQ(LogFile(run), LogFileOf(messages));
  std::vector<std::string> timeline = {"walk", "open", "read 8050 -> 84007c"};
  for (int attempt = 0; attempt < 5; ++attempt) {
    Append(timeline, {"write 8040 800080", "sleep 100", "{read 8040 -> 00 | sleep 30} x5", "sleep 200"});
  }
  timeline.push_back("close");
  EXPECT_EQ(testing::Collapse(Timeline(run)), testing::Collapse(timeline));
}

TEST(JobsConfig, SuccessOnTheSecondAndOnTheFifthAttempt) {
  for (int refusals : {1, 4}) {
    SCOPED_TRACE(refusals);
    const RunResult run = RunSim({"-c", "--file", "cfg.txt"},
                                 {SimState(R"("faults": {"refuse": {"cfgAccept": )" + std::to_string(refusals) + "}}"),
                                  SampleConfig()});
    std::vector<std::string> messages;
    for (int attempt = 0; attempt < refusals; ++attempt) {
      Append(messages, {"error     : send write cfg cmd failed!\n", FailedAttempt(attempt)});
    }
    messages.push_back(kSuccess);
    EXPECT_EQ(run.out, ConsoleOf(kEntry, messages));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(LogFile(run), LogFileOf(messages));
  }
}

TEST(JobsConfig, ConfigurationTheControllerDoesNotTake) {
  const RunResult run =
      RunSim({"-c", "--file", "cfg.txt"}, {SimState(R"("faults": {"keepConfig": 5})"), SampleConfig()});
  std::vector<std::string> messages(5,
                                    "error     : After config update,chip cfg version is not equal to cfg file "
                                    "version,chip cfg version:132,cfg file version:133\n");
  messages.push_back(kGiveUp);
  EXPECT_EQ(run.out, ConsoleOf(kEntry, messages));
  EXPECT_EQ(run.exitCode, ExitCode(-7));
  EXPECT_EQ(LogFile(run), LogFileOf(messages));
  EXPECT_NE(run.ReadFile(kStateFile).find("\"config\": \"84007C"), std::string::npos);
}

TEST(JobsConfig, BrokenHeadAfterTheDownload) {
  const RunResult run =
      RunSim({"-c", "--file", "cfg.txt"}, {SimState(R"("faults": {"corruptHead": 5})"), SampleConfig()});
  std::vector<std::string> messages(5, "error     : cfg from chip checksum error!");
  messages.push_back(kGiveUp);
  EXPECT_EQ(run.out, ConsoleOf(kEntry, messages));
  EXPECT_EQ(run.exitCode, ExitCode(-5));
  EXPECT_EQ(LogFile(run), LogFileOf(messages));
  // A failed check goes straight on to the next attempt's command.
  const std::vector<std::string> timeline = Timeline(run);
  EXPECT_EQ(std::vector<std::string>(timeline.begin() + 10, timeline.begin() + 13),
            (std::vector<std::string>{"sleep 200", timeline[11], "write 8040 800080"}));
  EXPECT_EQ(timeline[11].substr(0, 13), "read 8050 -> ");
}

TEST(JobsConfig, MissingFileIsFoundAfterTheHeadRead) {
  const RunResult run = RunSim({"-c", "--file", "missing.txt"}, {SimState()});
  const std::vector<std::string> messages = {"error     : open cfg file FAILED, cfg_name:missing.txt\n",
                                             "error     : Failed read cfg file:missing.txt, ret:-1\n"};
  EXPECT_EQ(run.out, ConsoleOf("update configuration, file name:missing.txt\n", messages));
  EXPECT_EQ(run.exitCode, ExitCode(-2));
  EXPECT_EQ(LogFile(run), LogFileOf(messages));
  EXPECT_EQ(Timeline(run), (std::vector<std::string>{"walk", "open", "read 8050 -> 84007c", "close"}));
}

TEST(JobsConfig, ControllerAbsent) {
  const RunResult run = RunSim({"-c", "--file", "cfg.txt"}, {SimState(R"("present": false)"), SampleConfig()});
  EXPECT_EQ(run.exitCode, ExitCode(-1));
  EXPECT_EQ(Sleeps(run), (std::vector<uint32_t>{2000, 2000, 2000, 2000}));
}

}  // namespace
}  // namespace tessaro::e2e
