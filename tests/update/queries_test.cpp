// The property queries against the scripted controller: what each prints,
// what it returns (the exit code), and what it costs on the wire.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/support/log_capture.h"
#include "tests/update/controller_double.h"
#include "transport/registers.h"
#include "update/jobs.h"

namespace tessaro::testing {
namespace {

using Query = std::function<int32_t()>;

struct VersionCase {
  const char* name;
  Query query;
  std::vector<uint8_t> versionBlock;
  int32_t expected;
  std::string infoLine;
};

TEST(PropertyQueries, EachReadsTheVersionBlockAndPrintsItsProperty) {
  const std::vector<VersionCase> cases = {
      {"sensor id is the low nibble", ReadSensorId, ControllerDouble::VersionBlock("TS01", {1, 2, 3, 4}, 0x23), 3,
       "info      : Sensor ID:03\n"},
      {"vid packed high byte first", ReadFwVid, ControllerDouble::VersionBlock("TS01", {1, 2, 3, 4}), 0x01020304,
       "info      : VID:01 02 03 04\n"},
      {"vid with the top bit set is negative", ReadFwVid, ControllerDouble::VersionBlock("TS01", {0x80, 0, 0, 1}),
       static_cast<int32_t>(0x80000001u), "info      : VID:80 00 00 01\n"},
      {"vid of all ones reads as -1", ReadFwVid, ControllerDouble::VersionBlock("TS01", {0xFF, 0xFF, 0xFF, 0xFF}), -1,
       "info      : VID:ff ff ff ff\n"},
      {"pid is printed, the result is 0", ReadFwPid, ControllerDouble::VersionBlock("AB9Z", {1, 2, 3, 4}), 0,
       "info      : PID:AB9Z\n"},
  };
  for (const VersionCase& c : cases) {
    SCOPED_TRACE(c.name);
    ControllerDouble controller;
    controller.registers[reg::kVersionAddr] = c.versionBlock;
    LogCapture log(1);
    EXPECT_EQ(c.query(), c.expected);
    EXPECT_EQ(log.text(), c.infoLine);
    EXPECT_EQ(controller.Timeline(), (std::vector<std::string>{"walk", "open", "read 8240 -> " + Hex(c.versionBlock),
                                                                "close"}));
    EXPECT_EQ(controller.hid.OpenHandleCount(), 0);
  }
}

TEST(PropertyQueries, DebugLinesComeBeforeTheInfoLine) {
  ControllerDouble controller;
  controller.registers[reg::kVersionAddr] = ControllerDouble::VersionBlock("TS01", {1, 2, 3, 4}, 0x35);
  LogCapture log(3);
  EXPECT_EQ(ReadSensorId(), 5);
  EXPECT_EQ(log.text().substr(log.text().find("dbg info  : open TLC success\n")),
            "dbg info  : open TLC success\n"
            "dbg info  : read Sensor ID success\n"
            "dbg info  : Sensor ID:05\n"
            "info      : Sensor ID:05\n");
  log.clear();
  EXPECT_EQ(ReadFwVid(), 0x01020304);
  EXPECT_NE(log.text().find("dbg info  : read Fw vid success\ndbg info  : VID:01 02 03 04\ninfo      : VID:01 02 03 04\n"),
            std::string::npos);
  log.clear();
  EXPECT_EQ(ReadFwPid(), 0);
  EXPECT_NE(log.text().find("dbg info  : read Fw pid success\ndbg info  : PID:TS01\ninfo      : PID:TS01\n"),
            std::string::npos);
}

TEST(PropertyQueries, UnreadableVersionBlockGivesEachQueryItsFailureValue) {
  const std::vector<std::pair<Query, int32_t>> cases = {{ReadSensorId, 255}, {ReadFwVid, -1}, {ReadFwPid, -1}};
  for (const auto& [query, failure] : cases) {
    ControllerDouble controller;
    controller.Script(reg::kVersionAddr, std::vector<ReadStep>(5, ReplyFails()));
    LogCapture log(1);
    EXPECT_EQ(query(), failure);
    const std::string& text = log.text();
    for (int left = 5; left >= 1; --left) {
      EXPECT_NE(text.find("error     : Failed read VERSION, retry=" + std::to_string(left) + "\n"), std::string::npos);
    }
    EXPECT_EQ(text.substr(text.size() - 32), "error     : read VERSION failed\n");
    EXPECT_EQ(text.find("info      : "), std::string::npos);
    EXPECT_EQ(controller.Timeline().back(), "close");
  }
}

TEST(PropertyQueries, AbsentControllerCostsFourWalksAndEightSeconds) {
  const std::vector<std::pair<Query, int32_t>> cases = {
      {ReadSensorId, 255}, {ReadFwVid, -1}, {ReadFwPid, -1}, {ReadCfgVersion, 255}};
  for (const auto& [query, failure] : cases) {
    ControllerDouble controller;
    controller.absentWalks = 4;
    LogCapture log(1);
    EXPECT_EQ(query(), failure);
    EXPECT_EQ(controller.Timeline(), (std::vector<std::string>{"walk", "sleep 2000", "walk", "sleep 2000", "walk",
                                                                "sleep 2000", "walk", "sleep 2000"}));
    std::string once = "error     : find device failed\r\nerror     : open TLC failed\n";
    EXPECT_EQ(log.text(), once + once + once + once);
  }
}

struct HeadCase {
  const char* name;
  std::vector<ReadStep> head;
  int32_t expected;
  std::string log;
};

TEST(PropertyQueries, ConfigurationVersionFromTheHead) {
  const std::string warning = "error     : Warning:cfg before update from chip checksum error!";
  const std::vector<HeadCase> cases = {
      {"intact head", {Reply({0x45, 0x00, 0xBB})}, 0x45, "info      : CFG VER:0x45\n"},
      {"head not summing to 0 warns, version all the same", {Reply({0x45, 0x01, 0xBB})}, 0x45,
       warning + "info      : CFG VER:0x45\n"},
      {"version 0xff looks like a failure", {Reply({0xFF, 0x00, 0x01})}, 255, "info      : CFG VER:0xff\n"},
      {"unreadable head", {ReplyFails()}, 255,
       "error     : Read FAILED, because of HidD_GetInputReport fail:0x1f \nerror     : read cfg version failed\n"},
      {"length mismatch", {ReplyWrongLength()}, 255,
       "error     : valid data len from fw ERROR, readLen:3, fw_data_len:4\nerror     : read cfg version failed\n"},
  };
  for (const HeadCase& c : cases) {
    SCOPED_TRACE(c.name);
    ControllerDouble controller;
    controller.Script(reg::kConfigAddr, c.head);
    LogCapture log(1);
    EXPECT_EQ(ReadCfgVersion(), c.expected);
    EXPECT_EQ(log.text(), c.log);
    const std::vector<std::string> timeline = controller.Timeline();
    ASSERT_EQ(timeline.size(), 5u);
    EXPECT_EQ(timeline[2], "sleep 100");
    EXPECT_EQ(timeline[3].substr(0, 9), "read 8050");
  }
}

TEST(PropertyQueries, ConfigurationHeadIsShownInDebugLinesEvenWhenUnread) {
  ControllerDouble controller;
  controller.Script(reg::kConfigAddr, {ReplyFails()});
  LogCapture log(3);
  EXPECT_EQ(ReadCfgVersion(), 255);
  EXPECT_NE(log.text().find("dbg info  : befor update cfg\n"
                            "dbg info  : 0x8050:0x00\n"
                            "dbg info  : 0x8051:0x00\n"
                            "dbg info  : 0x8052:0x00\n"
                            "error     : read cfg version failed\n"),
            std::string::npos);
  log.clear();
  EXPECT_EQ(ReadCfgVersion(), 0x84);
  EXPECT_NE(log.text().find("dbg info  : 0x8052:0x7c\n"
                            "dbg info  : read Fw cfg version success\n"
                            "dbg info  : cfg Version:0x84\n"
                            "info      : CFG VER:0x84\n"),
            std::string::npos);
}

}  // namespace
}  // namespace tessaro::testing
