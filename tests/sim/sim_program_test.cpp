// tessaro-sim as a program: what its own main adds to the tool (the refusal
// of a malformed state file with its exit code), and the samples updating a
// fresh simulator.
#include <gtest/gtest.h>

#include "sim/sim_backends.h"
#include "tests/e2e/e2e_harness.h"
#include "tests/support/temp_dir.h"

namespace tessaro::testing {
namespace {

using e2e::ExitCode;
using e2e::RunSim;
using e2e::TextMode;

const char kMisspelt[] = R"({"faults": {"refuse": {"flsh": 1}}})";

TEST(SimProgramTest, MalformedStateEndsTheRunWithItsLineAndExitCode) {
  const auto run = RunSim({"-p", "vid"}, {{"tessaro-sim.json", kMisspelt}});
  EXPECT_EQ(run.err, TextMode("tessaro-sim.json: faults.refuse.flsh: unknown key\n"));
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.exitCode, ExitCode(sim::kStateFileErrorExitCode));
  EXPECT_EQ(run.ReadFile("tessaro-sim.json"), kMisspelt);
  EXPECT_EQ(run.Files(), std::vector<std::string>{"tessaro-sim.json"});
}

TEST(SimProgramTest, RunThatNeverReachesTheControllerIgnoresTheStateFile) {
  for (const auto& args : {std::vector<std::string>{"--version"}, {"-p", "sensor"}, {"-d"}}) {
    const auto run = RunSim(args, {{"tessaro-sim.json", kMisspelt}});
    EXPECT_EQ(run.err, "") << args[0];
    EXPECT_EQ(run.Files(), std::vector<std::string>{"tessaro-sim.json"}) << args[0];
  }
}

TEST(SimProgramTest, SamplesUpdateAFreshSimulator) {
  const std::string firmware = ReadFileBytes(TESSARO_SAMPLES_DIR "/firmware.bin");
  const std::string config = ReadFileBytes(TESSARO_SAMPLES_DIR "/config.txt");
  ASSERT_FALSE(firmware.empty());
  const auto first = RunSim({"-f", "--file=firmware.bin"},
                            {{"firmware.bin", firmware}, {"tessaro-sim.json", R"({"virtualTime": true})"}});
  EXPECT_EQ(first.exitCode, 0) << first.out;
  EXPECT_NE(first.out.find("VID after update:01 00 00 02"), std::string::npos) << first.out;
  EXPECT_EQ(first.ReadFile("tessaro-sim.trace").find("violation"), std::string::npos);

  const auto second = RunSim({"-c", "--file=config.txt"},
                             {{"config.txt", config},
                              {"tessaro-sim.json", first.ReadFile("tessaro-sim.json")},
                              {"tessaro-sim.flash", first.ReadFile("tessaro-sim.flash")}});
  EXPECT_EQ(second.exitCode, 0) << second.out;
  EXPECT_NE(second.out.find("Update Cfg Success! Cfg Ver:0x85"), std::string::npos) << second.out;
  EXPECT_EQ(second.ReadFile("tessaro-sim.trace").find("violation"), std::string::npos);
  EXPECT_EQ(second.ReadFile("tessaro-sim.flash"), first.ReadFile("tessaro-sim.flash"));
}

}  // namespace
}  // namespace tessaro::testing
