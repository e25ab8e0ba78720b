// The simulated HID layer and clock as the tool meets them: the walk and its
// collections, the trace of every event, the handles, and the sleeps.
#include <gtest/gtest.h>

#include "sim/hex.h"
#include "tests/sim/sim_harness.h"
#include "transport/registers.h"

namespace tessaro::testing {
namespace {

const std::string kCol1 = "\\\\?\\hid#tessaro-sim&col01";
const std::string kCol2 = "\\\\?\\hid#tessaro-sim&col02";
const std::string kCol3 = "\\\\?\\hid#tessaro-sim&col03";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

TEST(SimHidTest, WalkShowsTheOtherCollectionsFirstEachWithItsOwnPath) {
  SimFolder folder;
  folder.WriteState(R"({"otherCollections": 2, "matchingCollections": 2})");
  SimRun run(/*open=*/false);
  HidBackend& hid = TheHid();
  const auto walk = hid.BeginWalk();
  std::vector<std::string> paths;
  std::vector<std::pair<uint16_t, uint16_t>> caps;
  for (HidInterface entry; walk->Next(entry);) {
    paths.push_back(Narrow(entry.path));
    HidHandle handle = kInvalidHidHandle;
    ASSERT_TRUE(hid.Open(entry, handle));
    EXPECT_NE(handle, 0);
    EXPECT_NE(handle, kInvalidHidHandle);
    uint16_t page = 0;
    uint16_t usage = 0;
    uint16_t vendorId = 0xFFFF;
    ASSERT_TRUE(hid.GetCaps(handle, page, usage));
    ASSERT_TRUE(hid.GetVendorId(handle, vendorId));
    EXPECT_EQ(vendorId, kVendorId);
    caps.emplace_back(page, usage);
    hid.Close(handle);
  }
  EXPECT_EQ(paths, (std::vector<std::string>{kCol1, kCol2, kCol3, "\\\\?\\hid#tessaro-sim&col04"}));
  EXPECT_EQ(caps, (std::vector<std::pair<uint16_t, uint16_t>>{
                      {0x000D, 0x0004}, {0x000D, 0x0004}, {0xFFF0, 0x0001}, {0xFFF0, 0x0001}}));
}

TEST(SimHidTest, ConnectionPassesOverTheOtherCollectionsAndTakesTheFirstMatch) {
  SimFolder folder;
  folder.WriteState(R"({"otherCollections": 2, "matchingCollections": 2})");
  { SimRun run; }
  EXPECT_EQ(folder.Trace(), (std::vector<std::string>{"walk", "open " + kCol1, "close " + kCol1, "open " + kCol2,
                                                      "close " + kCol2, "open " + kCol3, "close " + kCol3}));
}

TEST(SimHidTest, NoMatchWhenAbsentOrForeign) {
  const struct {
    const char* state;
    size_t opens;
  } cases[] = {
      {R"({"present": false})", 0},
      {R"({"present": false, "otherCollections": 1})", 1},
      {R"({"vendorId": 1234, "otherCollections": 1})", 2},
  };
  for (const auto& c : cases) {
    SimFolder folder;
    folder.WriteState(c.state);
    {
      SimRun run(/*open=*/false);
      EXPECT_FALSE(run.connection.Open()) << c.state;
    }
    EXPECT_EQ(folder.Trace("open ").size(), c.opens) << c.state;
    EXPECT_EQ(folder.Trace("close ").size(), c.opens) << c.state;
  }
}

TEST(SimHidTest, VersionReadIsTracedByteExact) {
  SimFolder folder;
  { ASSERT_EQ(SimRun().connection.SetBasicProperties(), 0); }
  EXPECT_EQ(folder.Trace(),
            (std::vector<std::string>{
                "walk",
                "open " + kCol1,
                "out 0e20000005018240000c" + std::string(110, '0'),
                // PID "TS01", VID 01 00 00 01, two zeros, the sensor byte 0x13, a zero.
                "in 0e0000000c" "5453303101000001000013" "00" + std::string(96, '0'),
                "close " + kCol1,
            }));
}

TEST(SimHidTest, ReportsOnOtherCollectionsAndStaleHandlesFail) {
  SimFolder folder;
  folder.WriteState(R"({"otherCollections": 1})");
  {
    SimRun run(/*open=*/false);
    HidBackend& hid = TheHid();
    HidHandle other = kInvalidHidHandle;
    ASSERT_TRUE(hid.Open(HidInterface{L"\\\\?\\hid#tessaro-sim&col01", 0}, other));
    Report report = {0x0E, 0x10, 0x00, 0x00, 0x01, 0x01};
    EXPECT_FALSE(hid.SetOutputReport(other, report));
    EXPECT_EQ(hid.LastError(), 87u);
    EXPECT_FALSE(hid.GetInputReport(other, report));
    hid.Close(other);
    EXPECT_FALSE(hid.SetOutputReport(other, report));
    EXPECT_EQ(hid.LastError(), 6u);
    HidHandle none = 0;
    EXPECT_FALSE(hid.Open(HidInterface{L"\\\\?\\hid#elsewhere", 0}, none));
    EXPECT_EQ(none, kInvalidHidHandle);
  }
  const std::string out = sim::ToHex(std::vector<uint8_t>{0x0E, 0x10, 0x00, 0x00, 0x01, 0x01}.data(), 6) +
                          std::string(118, '0');
  EXPECT_EQ(folder.Trace(), (std::vector<std::string>{"open " + kCol1, "out-failed " + out, "in-failed",
                                                      "close " + kCol1, "out-failed " + out}));
}

TEST(SimHidTest, SleepsAreTracedAndSleptUnlessTimeIsVirtual) {
  for (const bool virtualTime : {false, true}) {
    SimFolder folder;
    folder.WriteState(virtualTime ? R"({"virtualTime": true})" : "{}");
    uint64_t slept = 0;
    {
      SimRun run;
      SleepMs(250);
      SleepMs(30);
      slept = run.clock.totalSleptMs;
      EXPECT_EQ(TheClock().NowUtc().year, run.clock.now.year) << "the time of day is the underlying clock's";
    }
    EXPECT_EQ(slept, virtualTime ? 0u : 280u);
    EXPECT_EQ(folder.Trace("sleep"), (std::vector<std::string>{"sleep 250", "sleep 30"}));
  }
}

TEST(SimHidTest, OpeningSequenceAgainstAnAbsentControllerIsTracedWalkBySleep) {
  SimFolder folder;
  folder.WriteState(R"({"present": false, "virtualTime": true})");
  {
    SimRun run(/*open=*/false);
    EXPECT_FALSE(OpenForJob(run.connection));
  }
  EXPECT_EQ(folder.Trace(), (std::vector<std::string>{"walk", "sleep 2000", "walk", "sleep 2000", "walk",
                                                      "sleep 2000", "walk", "sleep 2000"}));
}

// The trace is written as events happen: a run cut short still leaves it whole.
TEST(SimHidTest, TraceIsWholeWhileTheRunGoesOnAndRewrittenByTheNext) {
  SimFolder folder;
  {
    SimRun run;
    EXPECT_EQ(run.ReadByte(reg::kConfigAddr), 0x84);
    EXPECT_EQ(folder.Trace().size(), 4u);
  }
  { SimRun run; }
  EXPECT_EQ(folder.Trace(), (std::vector<std::string>{"walk", "open " + kCol1, "close " + kCol1}));
}

}  // namespace
}  // namespace tessaro::testing
