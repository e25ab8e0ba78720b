// Each fault counter of the state file: used up by one triggering event at a
// time, what is left written back, and the fault spanning runs.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "tests/sim/sim_harness.h"
#include "transport/registers.h"
#include "transport/report.h"

namespace tessaro::testing {
namespace {

const std::vector<uint8_t> kNewConfig = {0x90, 0x00, 0x70, 0x11, 0x22, 0xCD};

int SendCommand(SimRun& run, uint8_t command) {
  const auto report = MakeModeCommand(command);
  return run.connection.WriteReport(report.data(), kModeCommandBytes);
}

struct FaultCase {
  const char* name;
  const char* state;
  // One triggering event in a run; gives what the host saw of it.
  std::function<int(SimRun&)> trigger;
  // What is left of the counter in a written-back state.
  std::function<sim::Counter(const sim::State&)> left;
  // Per run of three, each with one trigger.
  std::vector<int> seen;
  std::vector<uint32_t> leftAfter;
  // For a counter written {"after": M, "count": N}: what is left of M.
  std::vector<uint32_t> afterLeft = {0, 0, 0};
};

// Test names show the case, not its bytes.
void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

class FaultCounterTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultCounterTest, IsUsedUpOneByOneAndWrittenBack) {
  const FaultCase& c = GetParam();
  SimFolder folder;
  folder.WriteState(c.state);
  for (size_t i = 0; i < c.seen.size(); ++i) {
    {
      // The walk is the trigger of openFailures; every other case opens first.
      SimRun run(/*open=*/std::string(c.name).rfind("openFailures", 0) != 0);
      EXPECT_EQ(c.trigger(run), c.seen[i]) << "run " << i;
    }
    EXPECT_EQ(c.left(folder.State()).count, c.leftAfter[i]) << "run " << i;
    EXPECT_EQ(c.left(folder.State()).after, c.afterLeft[i]) << "run " << i;
  }
}

const FaultCase kFaultCases[] = {
    {"openFailures", R"({"faults": {"openFailures": 2}})",
     [](SimRun& run) { return run.connection.Open() ? 1 : 0; },
     [](const sim::State& s) { return s.faults.openFailures; }, {0, 0, 1}, {1, 0, 0}},
    {"readFailures", R"({"faults": {"readFailures": {"8240": 2}}})",
     [](SimRun& run) {
       uint8_t block[12];
       return run.connection.ReadRegister(reg::kVersionAddr, block, 12);
     },
     [](const sim::State& s) { return s.faults.readFailures.at(reg::kVersionAddr); }, {-2, -2, 12}, {1, 0, 0}},
    {"readFailuresOtherAddress", R"({"faults": {"readFailures": {"8240": 2}}})",
     [](SimRun& run) { return run.ReadByte(reg::kConfigAddr); },
     [](const sim::State& s) { return s.faults.readFailures.at(reg::kVersionAddr); }, {0x84, 0x84, 0x84}, {2, 2, 2}},
    {"lengthMismatch", R"({"faults": {"lengthMismatch": {"8050": 2}}})",
     [](SimRun& run) {
       uint8_t head[3];
       return run.connection.ReadRegister(reg::kConfigAddr, head, 3);
     },
     [](const sim::State& s) { return s.faults.lengthMismatch.at(reg::kConfigAddr); }, {-3, -3, 3}, {1, 0, 0}},
    {"writeFailures", R"({"faults": {"writeFailures": {"8040": 2}}})",
     [](SimRun& run) { return run.Write(reg::kConfigCtrlAddr, {0x80, 0x00, 0x80}); },
     [](const sim::State& s) { return s.faults.writeFailures.at(reg::kConfigCtrlAddr); }, {-2, -2, 3}, {1, 0, 0}},
    {"commandFailures", R"({"faults": {"commandFailures": {"13": 2}}})",
     [](SimRun& run) { return SendCommand(run, reg::kCmdRestart); },
     [](const sim::State& s) { return s.faults.commandFailures.at(reg::kCmdRestart); }, {-2, -2, 6}, {1, 0, 0}},
    {"refusePatch", R"({"faults": {"refuse": {"patch": 2}}})",
     [](SimRun& run) {
       SendCommand(run, reg::kCmdSwitchToPatch);
       return run.ReadByte(reg::kPatchStateAddr);
     },
     [](const sim::State& s) { return s.faults.refuse[0]; }, {0x00, 0x00, 0xDD}, {1, 0, 0}},
    {"refuseFlash", R"({"faults": {"refuse": {"flash": 2}}})",
     [](SimRun& run) {
       run.EnterUpdateProgram();
       run.LoadChunk(0x10000, {1, 2, 3, 4});
       return run.ReadByte(reg::kFlashStateAddr);
     },
     [](const sim::State& s) { return s.faults.refuse[1]; }, {0x00, 0x00, 0xAA}, {1, 0, 0}},
    {"refuseCfgAccept", R"({"faults": {"refuse": {"cfgAccept": 2}}})",
     [](SimRun& run) {
       run.Write(reg::kConfigCtrlAddr, {0x80, 0x00, 0x80});
       return run.ReadByte(reg::kConfigCtrlAddr);
     },
     [](const sim::State& s) { return s.faults.refuse[2]; }, {0x00, 0x00, 0x82}, {1, 0, 0}},
    {"refuseCfgFinish", R"({"faults": {"refuse": {"cfgFinish": 2}}})",
     [](SimRun& run) { return run.DownloadConfig(kNewConfig).second; },
     [](const sim::State& s) { return s.faults.refuse[3]; }, {0x00, 0x00, 0xFF}, {1, 0, 0}},
    {"keepConfig", R"({"faults": {"keepConfig": 2}})",
     [](SimRun& run) {
       EXPECT_EQ(run.DownloadConfig(kNewConfig).second, 0xFF) << "kept, yet acknowledged";
       return run.ReadByte(reg::kConfigAddr);
     },
     [](const sim::State& s) { return s.faults.keepConfig; }, {0x84, 0x84, 0x90}, {1, 0, 0}},
    {"corruptHead", R"({"faults": {"corruptHead": 2}})",
     [](SimRun& run) {
       EXPECT_EQ(run.DownloadConfig(kNewConfig).second, 0xFF);
       const auto head = run.Read(reg::kConfigAddr, 3);
       return (head[0] + head[1] + head[2]) & 0xFF;
     },
     [](const sim::State& s) { return s.faults.corruptHead; }, {1, 1, 0}, {1, 0, 0}},
    // The first M matching events pass, then N fail; other addresses and
    // commands do not count.
    {"readFailuresAfter", R"({"faults": {"readFailures": {"8240": {"after": 1, "count": 1}, "8050": 5}}})",
     [](SimRun& run) {
       uint8_t block[12];
       return run.connection.ReadRegister(reg::kVersionAddr, block, 12);
     },
     [](const sim::State& s) { return s.faults.readFailures.at(reg::kVersionAddr); }, {12, -2, 12}, {1, 0, 0},
     {0, 0, 0}},
    {"commandFailuresAfter", R"({"faults": {"commandFailures": {"13": {"after": 2, "count": 1}}}})",
     [](SimRun& run) { return SendCommand(run, reg::kCmdRestart); },
     [](const sim::State& s) { return s.faults.commandFailures.at(reg::kCmdRestart); }, {6, 6, -2}, {1, 1, 0},
     {1, 0, 0}},
    {"refuseAfter", R"({"faults": {"refuse": {"patch": {"after": 1, "count": 2}}}})",
     [](SimRun& run) {
       SendCommand(run, reg::kCmdSwitchToPatch);
       return run.ReadByte(reg::kPatchStateAddr);
     },
     [](const sim::State& s) { return s.faults.refuse[0]; }, {0xDD, 0x00, 0x00}, {2, 1, 0}, {0, 0, 0}},
    {"openFailuresAfter", R"({"faults": {"openFailures": {"after": 1, "count": 1}}})",
     [](SimRun& run) { return run.connection.Open() ? 1 : 0; },
     [](const sim::State& s) { return s.faults.openFailures; }, {1, 0, 1}, {1, 0, 0}},
};

INSTANTIATE_TEST_SUITE_P(Sim, FaultCounterTest, ::testing::ValuesIn(kFaultCases),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// ackAfter is a standing setting: every trigger waits for the Nth read again,
// and it is written back unchanged.
TEST(AckAfterTest, EveryTriggerShowsItsAcknowledgementFromTheNthReadOn) {
  SimFolder folder;
  folder.WriteState(R"({"faults": {"ackAfter": {"patch": 3, "flash": 0}}})");
  {
    SimRun run;
    for (int attempt = 0; attempt < 2; ++attempt) {
      SendCommand(run, reg::kCmdSwitchToPatch);
      std::vector<int> reads;
      for (int i = 0; i < 4; ++i) reads.push_back(run.ReadByte(reg::kPatchStateAddr));
      EXPECT_EQ(reads, (std::vector<int>{0x00, 0x00, 0xDD, 0xDD})) << "attempt " << attempt;
    }
    SendCommand(run, reg::kCmdStartUpdate);
    run.LoadChunk(0, {1, 2});
    for (int i = 0; i < 5; ++i) EXPECT_EQ(run.ReadByte(reg::kFlashStateAddr), 0x00) << "0 means never";
    // A block read that covers the register counts as one read of it.
    SendCommand(run, reg::kCmdSwitchToPatch);
    EXPECT_EQ(run.Read(0x5090, 8)[5], 0x00);
    EXPECT_EQ(run.Read(0x5090, 8)[5], 0x00);
    EXPECT_EQ(run.Read(0x5090, 8)[5], 0xDD);
  }
  EXPECT_EQ(folder.State().faults.ackAfter, (std::array<uint32_t, 4>{3, 0, 1, 1}));
}

}  // namespace
}  // namespace tessaro::testing
