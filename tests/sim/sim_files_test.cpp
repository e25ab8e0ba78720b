// The simulator's files: read at the first use of the HID layer, written
// back at the end of the run, untouched by runs that never reach it, and a
// malformed state refused before any report with the file left as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>

#include "sim/state_files.h"
#include "tests/sim/sim_harness.h"
#include "transport/registers.h"

namespace tessaro::testing {
namespace {

using sim::kFlashFileName;
using sim::kStateFileName;
using sim::kTraceFileName;

struct MalformedCase {
  const char* name;
  std::string state;
  std::string message;
};

// Test names show the case, not its bytes.
void PrintTo(const MalformedCase& c, std::ostream* out) { *out << c.name; }

class MalformedStateTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedStateTest, EndsTheRunBeforeAnyReportAndChangesNothing) {
  SimFolder folder;
  folder.WriteState(GetParam().state);
  {
    SimBackends sim;
    try {
      CConnectionTLC connection;
      connection.Open();
      ADD_FAILURE() << "the run went on";
    } catch (const sim::StateFileError& error) {
      EXPECT_EQ(std::string(error.what()), GetParam().message);
    }
  }
  EXPECT_EQ(folder.StateText(), GetParam().state);
  EXPECT_FALSE(folder.Has(kTraceFileName));
  EXPECT_FALSE(folder.Has(kFlashFileName));
}

const MalformedCase kMalformed[] = {
    {"NotJson", "{\"present\": tru}", "tessaro-sim.json: not valid JSON (at byte 16)"},
    {"Empty", "", "tessaro-sim.json: not valid JSON (at byte 1)"},
    {"NotAnObject", "[1]", "tessaro-sim.json: (top level): expected an object"},
    {"UnknownKey", R"({"presnet": false})", "tessaro-sim.json: presnet: unknown key"},
    {"BoolAsNumber", R"({"present": 1})", "tessaro-sim.json: present: expected true or false"},
    {"VirtualTimeAsText", R"({"virtualTime": "yes"})", "tessaro-sim.json: virtualTime: expected true or false"},
    {"VendorIdTooLarge", R"({"vendorId": 65536})", "tessaro-sim.json: vendorId: expected an integer from 0 to 65535"},
    {"Negative", R"({"otherCollections": -1})",
     "tessaro-sim.json: otherCollections: expected an integer from 0 to 255"},
    {"Fraction", R"({"sensorByte": 1.0})", "tessaro-sim.json: sensorByte: expected an integer from 0 to 255"},
    {"NumberAsText", R"({"sensorByte": "13"})", "tessaro-sim.json: sensorByte: expected an integer from 0 to 255"},
    {"IdentityPastFlash", R"({"identityAddress": 16777209})",
     "tessaro-sim.json: identityAddress: expected an integer from 0 to 16777208"},
    {"PidTooShort", R"({"pid": "TS1"})", "tessaro-sim.json: pid: expected 4 characters"},
    {"PidBeyondOneByte", R"({"pid": "TS0\u20ac"})", "tessaro-sim.json: pid: expected 4 characters"},
    {"VidNotHex", R"({"vid": "0100000G"})", "tessaro-sim.json: vid: expected 8 hex digits"},
    {"VidWithPrefix", R"({"vid": "0x010000"})", "tessaro-sim.json: vid: expected 8 hex digits"},
    {"ConfigOddLength", R"({"config": "840"})", "tessaro-sim.json: config: expected hex bytes, at most 4016 of them"},
    {"FaultsNotAnObject", R"({"faults": []})", "tessaro-sim.json: faults: expected an object"},
    {"MisspeltFault", R"({"faults": {"openFailure": 1}})", "tessaro-sim.json: faults.openFailure: unknown key"},
    {"AddressKeyTooShort", R"({"faults": {"readFailures": {"824": 1}}})",
     "tessaro-sim.json: faults.readFailures.824: expected a key of 4 hex digits"},
    {"AddressKeyWithPrefix", R"({"faults": {"writeFailures": {"0x8040": 1}}})",
     "tessaro-sim.json: faults.writeFailures.0x8040: expected a key of 4 hex digits"},
    {"SameAddressTwice", R"({"faults": {"lengthMismatch": {"a000": 1, "A000": 2}}})",
     "tessaro-sim.json: faults.lengthMismatch.a000: the same number twice"},
    {"CommandKeyTooLong", R"({"faults": {"commandFailures": {"012": 1}}})",
     "tessaro-sim.json: faults.commandFailures.012: expected a key of 2 hex digits"},
    {"NegativeCounter", R"({"faults": {"readFailures": {"8240": -2}}})",
     "tessaro-sim.json: faults.readFailures.8240: expected an integer from 0 to 4294967295"},
    {"UnknownAcknowledgement", R"({"faults": {"refuse": {"flsh": 1}}})",
     "tessaro-sim.json: faults.refuse.flsh: unknown key"},
    {"AckAfterAsBool", R"({"faults": {"ackAfter": {"patch": true}}})",
     "tessaro-sim.json: faults.ackAfter.patch: expected an integer from 0 to 4294967295"},
    {"CounterWithUnknownKey", R"({"faults": {"keepConfig": {"aftr": 1}}})",
     "tessaro-sim.json: faults.keepConfig.aftr: unknown key"},
    {"CounterAfterNegative", R"({"faults": {"refuse": {"flash": {"after": -1, "count": 1}}}})",
     "tessaro-sim.json: faults.refuse.flash.after: expected an integer from 0 to 4294967295"},
    {"CounterCountAsText", R"({"faults": {"readFailures": {"8240": {"count": "2"}}}})",
     "tessaro-sim.json: faults.readFailures.8240.count: expected an integer from 0 to 4294967295"},
    {"AckAfterAsCounter", R"({"faults": {"ackAfter": {"patch": {"after": 1}}}})",
     "tessaro-sim.json: faults.ackAfter.patch: expected an integer from 0 to 4294967295"},
    {"UnknownMode", R"({"mode": "update"})",
     "tessaro-sim.json: mode: expected \"normal\", \"patch\" or \"updateProgram\""},
    {"NoControllers", R"({"controllers": 0})", "tessaro-sim.json: controllers: expected 1 or more"},
    {"SeveralControllersOfSeveralCollections", R"({"controllers": 2, "matchingCollections": 2})",
     "tessaro-sim.json: controllers: each controller is one matching collection; matchingCollections must be 1"},
    {"SeveralControllersWithAWalkFault", R"({"controllers": 2, "faults": {"openFailures": 1}})",
     "tessaro-sim.json: faults.openFailures: not available with controllers above 1"},
    {"KillAfterEventsAsCounter", R"({"faults": {"killAfterEvents": {"count": 1}}})",
     "tessaro-sim.json: faults.killAfterEvents: expected an integer from 0 to 4294967295"},
};

INSTANTIATE_TEST_SUITE_P(Sim, MalformedStateTest, ::testing::ValuesIn(kMalformed),
                         [](const ::testing::TestParamInfo<MalformedCase>& info) { return std::string(info.param.name); });

TEST(SimFilesTest, FlashFileLargerThanTheFlashIsRefused) {
  SimFolder folder;
  const std::string flash(sim::kFlashBytes + 1, '\x5A');
  WriteFileBytes(kFlashFileName, flash);
  {
    SimBackends sim;
    try {
      TheHid().BeginWalk();
      ADD_FAILURE() << "the run went on";
    } catch (const sim::StateFileError& error) {
      EXPECT_EQ(std::string(error.what()), "tessaro-sim.flash: larger than the flash (16777216 bytes)");
    }
  }
  EXPECT_EQ(std::filesystem::file_size(kFlashFileName), flash.size());
  EXPECT_FALSE(folder.Has(kStateFileName));
  EXPECT_FALSE(folder.Has(kTraceFileName));
}

// Usage, version, refused command lines and unknown prop words install the
// backends (and may sleep) but never reach the HID layer.
TEST(SimFilesTest, RunWithoutTheHidLayerTouchesNoFile) {
  SimFolder folder;
  {
    SimBackends sim;
    TheClock().SleepMs(0);
  }
  EXPECT_FALSE(folder.Has(kStateFileName));
  EXPECT_FALSE(folder.Has(kFlashFileName));
  EXPECT_FALSE(folder.Has(kTraceFileName));

  folder.WriteState("not even JSON");
  { SimBackends sim; }
  EXPECT_EQ(folder.StateText(), "not even JSON");
  EXPECT_FALSE(folder.Has(kTraceFileName));
}

TEST(SimFilesTest, FreshSimulatorShowsTheFactoryDefaultsAndWritesThemBack) {
  SimFolder folder;
  {
    SimRun run;
    ASSERT_EQ(run.connection.SetBasicProperties(), 0);
    EXPECT_STREQ(run.connection.pid, "TS01");
    EXPECT_EQ(std::vector<uint8_t>(run.connection.vid, run.connection.vid + 4),
              (std::vector<uint8_t>{0x01, 0x00, 0x00, 0x01}));
    EXPECT_EQ(run.connection.sensorId, 3);
    const auto head = run.Read(reg::kConfigAddr, 3);
    EXPECT_EQ(head, (std::vector<uint8_t>{0x84, 0x00, 0x7C}));
  }
  EXPECT_EQ(folder.StateText(), sim::SerializeState(sim::FactoryState(kVendorId), kVendorId));
  EXPECT_EQ(folder.Flash(), "");
  const sim::State state = folder.State();
  uint8_t sum = 0;
  for (uint8_t byte : state.config) sum = static_cast<uint8_t>(sum + byte);
  EXPECT_EQ(sum, 0) << "the default configuration sums to 0 like a configuration file";
}

// Every key is read, and written back as it was read.
TEST(SimFilesTest, StateIsWrittenBackAsRead) {
  SimFolder folder;
  const std::string written =
      R"({"present": true, "vendorId": 4660, "otherCollections": 2, "matchingCollections": 3, "pid": "AB\u00c8D",)"
      R"( "vid": "0a0B0c0D", "sensorByte": 255, "config": "", "identityAddress": 4096, "virtualTime": true,)"
      R"( "mode": "patch", "faults": {"openFailures": 7, "readFailures": {"5095": {"after": 2, "count": 1}},)"
      R"( "lengthMismatch": {"f300": 2}, "writeFailures": {"9000": 3}, "commandFailures": {"12": 4},)"
      R"( "refuse": {"cfgFinish": {"count": 5}}, "ackAfter": {"flash": 100}, "keepConfig": 6, "corruptHead": 8,)"
      R"( "killAfterEvents": 5}})";
  folder.WriteState(written);
  {
    SimRun run(/*open=*/false);
    TheHid().BeginWalk();
  }
  sim::State expected = sim::FactoryState(kVendorId);
  std::string error;
  ASSERT_TRUE(sim::ParseState(written, expected, error)) << error;
  expected.faults.openFailures.count = 6;  // the one walk
  expected.faults.killAfterEvents = 4;
  EXPECT_EQ(folder.StateText(), sim::SerializeState(expected, kVendorId));
  const sim::State state = folder.State();
  EXPECT_EQ(state.vendorId, 4660);
  EXPECT_EQ(state.pid, (std::array<uint8_t, 4>{'A', 'B', 0xC8, 'D'}));
  EXPECT_EQ(state.vid, (std::array<uint8_t, 4>{0x0A, 0x0B, 0x0C, 0x0D}));
  EXPECT_TRUE(state.config.empty());
  EXPECT_EQ(state.faults.lengthMismatch.at(0xF300).count, 2u);
  EXPECT_EQ(state.faults.readFailures.at(0x5095), (sim::Counter{2, 1}));
  EXPECT_EQ(state.mode, sim::Mode::kPatch);
  EXPECT_NE(folder.StateText().find(R"("5095": {)" "\n" R"(        "after": 2,)"), std::string::npos)
      << "a counter with events to let pass keeps its form";
  EXPECT_EQ(state.faults.ackAfter, (std::array<uint32_t, 4>{1, 100, 1, 1}));
}

TEST(SimFilesTest, BuildVendorIdIsNotWrittenSoARebuildKeepsTheState) {
  SimFolder folder;
  folder.WriteState("{\"vendorId\": " + std::to_string(kVendorId) + "}");
  { SimRun run; }
  EXPECT_EQ(folder.StateText().find("vendorId"), std::string::npos);
}

TEST(SimFilesTest, FlashFileHoldsEveryByteUpToTheHighestWritten) {
  SimFolder folder;
  {
    SimRun run;
    run.EnterUpdateProgram();
    run.LoadChunk(0x0300, {0xA1, 0xA2, 0xA3});
    run.LoadChunk(0x0100, {0xB1, 0xB2});
    EXPECT_EQ(run.ReadByte(reg::kFlashStateAddr), 0xAA);
  }
  std::string expected(0x303, '\xFF');
  expected.replace(0x100, 2, "\xB1\xB2");
  expected.replace(0x300, 3, "\xA1\xA2\xA3");
  EXPECT_EQ(folder.Flash(), expected);

  // The next run starts from that flash and adds to it.
  {
    SimRun run;
    run.EnterUpdateProgram();
    run.LoadChunk(0x0000, {0xC1});
  }
  expected[0] = '\xC1';
  EXPECT_EQ(folder.Flash(), expected);
}

TEST(SimFilesTest, RestartTakesTheWholeIdentityFromFlash) {
  SimFolder folder;
  folder.WriteState(R"({"identityAddress": 4096})");
  {
    SimRun run;
    run.EnterUpdateProgram();
    // Half an identity is not taken.
    run.LoadChunk(0x1000, {'N', 'E', 'W', '1'});
    run.Send({0x0E, 0x13, 0x00, 0x00, 0x01, 0x01});
    ASSERT_EQ(run.connection.SetBasicProperties(), 0);
    EXPECT_STREQ(run.connection.pid, "TS01");

    run.EnterUpdateProgram();
    run.LoadChunk(0x1000, {'N', 'E', 'W', '1', 0x02, 0x03, 0x04, 0x05, 0x99});
    run.Send({0x0E, 0x13, 0x00, 0x00, 0x01, 0x01});
    ASSERT_EQ(run.connection.SetBasicProperties(), 0);
    EXPECT_STREQ(run.connection.pid, "NEW1");
    EXPECT_EQ(std::vector<uint8_t>(run.connection.vid, run.connection.vid + 4),
              (std::vector<uint8_t>{0x02, 0x03, 0x04, 0x05}));
  }
  const sim::State state = folder.State();
  EXPECT_EQ(state.pid, (std::array<uint8_t, 4>{'N', 'E', 'W', '1'}));
  EXPECT_EQ(state.vid, (std::array<uint8_t, 4>{0x02, 0x03, 0x04, 0x05}));
}

TEST(SimFilesTest, IdentityWrittenInAnEarlierRunIsReadFromTheFlashFile) {
  SimFolder folder;
  WriteFileBytes(kFlashFileName, std::string("QRST\x01\x02\x03\x04", 8));
  {
    SimRun run;
    run.EnterUpdateProgram();
    run.Send({0x0E, 0x13, 0x00, 0x00, 0x01, 0x01});
    ASSERT_EQ(run.connection.SetBasicProperties(), 0);
    EXPECT_STREQ(run.connection.pid, "QRST");
  }
  EXPECT_EQ(folder.Flash(), std::string("QRST\x01\x02\x03\x04", 8));
}

TEST(SimFilesTest, DownloadedConfigurationIsWrittenBack) {
  SimFolder folder;
  { SimRun().DownloadConfig({0x85, 0x10, 0x6B, 0x01, 0xFF}); }
  EXPECT_EQ(folder.State().config, (std::vector<uint8_t>{0x85, 0x10, 0x6B, 0x01, 0xFF}));
  {
    SimRun run;
    EXPECT_EQ(run.Read(reg::kConfigAddr, 6), (std::vector<uint8_t>{0x85, 0x10, 0x6B, 0x01, 0xFF, 0x00}));
  }
}

}  // namespace
}  // namespace tessaro::testing
