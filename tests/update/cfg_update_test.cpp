// The configuration job against the scripted controller: the version
// decision, the handshake on the wire, the attempts and their results.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "images/cfg_image.h"
#include "tests/support/log_capture.h"
#include "tests/support/memory_files.h"
#include "tests/update/controller_double.h"
#include "tools/image_builder.h"
#include "transport/registers.h"
#include "update/jobs.h"

namespace tessaro::testing {
namespace {

// Lines of one attempt that got no 0x82.
std::string NoAcceptLines(int attempt) {
  return "error     : send write cfg cmd failed!\ninfo      : Update cfg failed, retry=" + std::to_string(attempt) +
         "\n";
}

// 20 configuration bytes of `version` whose head (the first three) is
// intact, as a controller's is after it took them.
std::vector<uint8_t> ConfigBytes(uint8_t version, uint8_t fill = 0x11) {
  std::vector<uint8_t> body{0x00, static_cast<uint8_t>(0x100 - version)};
  body.resize(18, fill);
  return BalancedCfgBytes(version, body);
}

int CountOf(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

class CfgUpdateTest : public ::testing::Test {
 protected:
  // A configuration of `version` (20 bytes) as cfg.txt; the controller holds
  // a head of `chipVersion`.
  std::vector<uint8_t> Arrange(uint8_t chipVersion, uint8_t version) {
    const std::vector<uint8_t> bytes = ConfigBytes(version);
    files.files["cfg.txt"] = CfgText(bytes);
    controller.registers[reg::kConfigAddr] = BalancedCfgBytes(chipVersion, {0x00});
    return bytes;
  }
  int CountLines(const std::string& line) {
    int count = 0;
    for (size_t at = log.text().find(line); at != std::string::npos; at = log.text().find(line, at + 1)) ++count;
    return count;
  }

  ControllerDouble controller;
  MemoryFileSystem files;
  LogCapture log{1};
};

TEST_F(CfgUpdateTest, HandshakeOnTheWireAndTheHeadReadBack) {
  const std::vector<uint8_t> bytes = Arrange(0x84, 0x85);
  EXPECT_EQ(UpdateCfg("cfg.txt", false), 0);
  EXPECT_EQ(controller.Timeline(),
            (std::vector<std::string>{"walk", "open", "read 8050 -> 84007c", "write 8040 800080", "sleep 100",
                                      "read 8040 -> 82", "write 8050 [20]", "write 8040 83", "sleep 80",
                                      "read 8040 -> ff", "sleep 200", "read 8050 -> " + Hex({bytes[0], bytes[1], bytes[2]}),
                                      "close"}));
  const std::vector<Transfer> transfers = controller.Transfers();
  ASSERT_EQ(transfers.size(), 3u);
  EXPECT_EQ(transfers[1].address, reg::kConfigAddr);
  EXPECT_EQ(transfers[1].data, bytes);
  EXPECT_EQ(controller.hid.DeliveredOutReports()[1],
            ReportBytes({0x0E, 0x20, 0x00, 0x00, 0x08, 0x00, 0x80, 0x40, 0x00, 0x03, 0x80, 0x00, 0x80}));
  EXPECT_EQ(log.text(), "info      : Update Cfg Success! Cfg Ver:0x85\r\n");
}

TEST_F(CfgUpdateTest, DebugLogOfATemporaryConfigurationRefused) {
  Arrange(0x84, 0x05);
  LogCapture debug(3);
  EXPECT_EQ(UpdateCfg("cfg.txt", false), -6);
  const std::string& text = debug.text();
  EXPECT_EQ(text.substr(text.find("dbg info  : open TLC success\n")),
            "dbg info  : open TLC success\n"
            "dbg info  : befor update cfg\n"
            "dbg info  : 0x8050:0x84\n"
            "dbg info  : 0x8051:0x00\n"
            "dbg info  : 0x8052:0x7c\n"
            "dbg info  : open cfg file success, cfg_name:cfg.txt\n"
            "dbg info  : cfg file size:99\n"
            "dbg info  : read raw data form cfg file success\n"
            "dbg info  : cfg_image Initialize success\n"
            "dbg info  : Warning:Your Input cfg didn't start with 0x80 in first byte\n"
            "dbg info  : Warning:which means this is a tmp cfg and it will not write to Flash\n"
            "error     : chip cfg version is forward or equal to input cfg file,no need to update config, chip cfg "
            "version:132,cfg file version:5\n");
}

struct DecisionCase {
  const char* name;
  uint8_t chip;
  uint8_t file;
  bool ignoreVersion;
  int32_t expected;
};

TEST_F(CfgUpdateTest, VersionDecision) {
  const std::vector<DecisionCase> cases = {
      {"older chip", 0x7F, 0x80, false, 0},
      {"newer chip", 0x80, 0x7F, false, -6},
      {"equal", 0x85, 0x85, false, -6},
      {"equal, ignoreVer", 0x85, 0x85, true, 0},
      {"newer chip, ignoreVer", 0x90, 0x85, true, 0},
      {"chip at 0xff", 0xFF, 0xFF, false, -6},
      {"chip at 0xff, ignoreVer", 0xFF, 0x85, true, 0},
      {"file at 0xff", 0xFE, 0xFF, false, 0},
      {"temporary configuration", 0x01, 0x02, false, 0},
  };
  for (const DecisionCase& c : cases) {
    SCOPED_TRACE(c.name);
    ControllerDouble target;
    MemoryFileSystem freshFiles;
    LogCapture caseLog(1);
    freshFiles.files["cfg.txt"] = CfgText(ConfigBytes(c.file));
    target.registers[reg::kConfigAddr] = BalancedCfgBytes(c.chip, {0x00});
    EXPECT_EQ(UpdateCfg("cfg.txt", c.ignoreVersion), c.expected);
    const size_t writes = target.Transfers().size();
    EXPECT_EQ(writes, c.expected == 0 ? 3u : 0u);
    if (c.expected == -6) {
      char line[200];
      std::snprintf(line, sizeof line,
                    "error     : chip cfg version is forward or equal to input cfg file,no need to update config, "
                    "chip cfg version:%d,cfg file version:%d\n",
                    c.chip, c.file);
      EXPECT_EQ(caseLog.text(), line);
    }
  }
}

TEST_F(CfgUpdateTest, UnreadableHeadCountsAsVersionZeroWithoutWarning) {
  Arrange(0x84, 0x01);
  controller.Script(reg::kConfigAddr, {ReplyFails()});
  EXPECT_EQ(UpdateCfg("cfg.txt", false), 0);
  EXPECT_EQ(log.text(),
            "error     : Read FAILED, because of HidD_GetInputReport fail:0x1f \n"
            "info      : Update Cfg Success! Cfg Ver:0x1\r\n");
}

TEST_F(CfgUpdateTest, BrokenHeadBeforeTheUpdateOnlyWarns) {
  Arrange(0x84, 0x85);
  controller.Script(reg::kConfigAddr, {Reply({0x10, 0x00, 0x01})});
  EXPECT_EQ(UpdateCfg("cfg.txt", false), 0);
  EXPECT_EQ(log.text(),
            "error     : Warning:cfg before update from chip checksum error!"
            "info      : Update Cfg Success! Cfg Ver:0x85\r\n");
}

TEST_F(CfgUpdateTest, NoAcceptanceInAnyAttempt) {
  Arrange(0x84, 0x85);
  controller.Script(reg::kConfigCtrlAddr, Replies(0x00, 25));
  EXPECT_EQ(UpdateCfg("cfg.txt", false), -2);
  std::string expected;
  for (int attempt = 0; attempt < 5; ++attempt) expected += NoAcceptLines(attempt);
  EXPECT_EQ(log.text(), expected + "error     : Can't Update cfg correctly\n");
  const std::vector<std::string> timeline = Collapse(controller.Timeline());
  EXPECT_EQ(std::vector<std::string>(timeline.begin() + 3, timeline.begin() + 7),
            (std::vector<std::string>{"write 8040 800080", "sleep 100", "{read 8040 -> 00 | sleep 30} x5", "sleep 200"}));
  EXPECT_EQ(controller.Transfers().size(), 5u);  // the command only, five times
}

TEST_F(CfgUpdateTest, SuccessOnTheSecondAndOnTheFifthAttempt) {
  for (int failures : {1, 4}) {
    SCOPED_TRACE(failures);
    ControllerDouble fresh;
    LogCapture caseLog(1);
    files.files["cfg.txt"] = CfgText(ConfigBytes(0x90));
    fresh.Script(reg::kConfigCtrlAddr, Replies(0x00, 5 * failures));
    EXPECT_EQ(UpdateCfg("cfg.txt", false), 0);
    std::string expected;
    for (int attempt = 0; attempt < failures; ++attempt) expected += NoAcceptLines(attempt);
    EXPECT_EQ(caseLog.text(), expected + "info      : Update Cfg Success! Cfg Ver:0x90\r\n");
  }
}

TEST_F(CfgUpdateTest, FailedAckReadsShowTheCommandByteAndCountAsMisses) {
  Arrange(0x84, 0x85);
  controller.Script(reg::kConfigCtrlAddr, {ReplyFails(), Reply({0x82}), ReplyFails()});
  LogCapture debug(3);
  EXPECT_EQ(UpdateCfg("cfg.txt", false), 0);
  EXPECT_NE(debug.text().find("error     : Failed read 0x8040, ret = -2\n"
                              "dbg info  : 0x8040 value is 0x80 != 0x82, retry\n"),
            std::string::npos);
  EXPECT_NE(debug.text().find("error     : Failed read 0x8040, ret = -2\n"
                              "dbg info  : 0x8040 value is 0x83 != 0xff, retry\n"),
            std::string::npos);
}

TEST_F(CfgUpdateTest, NoFinishInAnyAttempt) {
  Arrange(0x84, 0x85);
  for (int attempt = 0; attempt < 5; ++attempt) {
    controller.Script(reg::kConfigCtrlAddr, {Reply({0x82})});
    controller.Script(reg::kConfigCtrlAddr, Replies(0x00, 5));
  }
  LogCapture debug(3);
  EXPECT_EQ(UpdateCfg("cfg.txt", false), -3);
  EXPECT_NE(debug.text().find("dbg info  : Reg 0x8040 != 0xff\nerror     : wait write cfg finish cmd failed!\n"
                              "info      : Update cfg failed, retry=4\nerror     : Can't Update cfg correctly\n"),
            std::string::npos);
}

TEST_F(CfgUpdateTest, ConfigurationNotTakenInAnyAttempt) {
  Arrange(0x84, 0x85);
  controller.keepConfig = true;
  EXPECT_EQ(UpdateCfg("cfg.txt", false), -7);
  const std::string mismatch =
      "error     : After config update,chip cfg version is not equal to cfg file version,chip cfg version:132,cfg "
      "file version:133\n";
  EXPECT_EQ(log.text(), mismatch + mismatch + mismatch + mismatch + mismatch + "error     : Can't Update cfg correctly\n");
}

TEST_F(CfgUpdateTest, BrokenHeadAfterTheDownload) {
  Arrange(0x84, 0x85);
  controller.Script(reg::kConfigAddr, {Reply(BalancedCfgBytes(0x84, {0x00}))});
  controller.Script(reg::kConfigAddr, std::vector<ReadStep>(5, Reply({0x85, 0x00, 0x00})));
  EXPECT_EQ(UpdateCfg("cfg.txt", false), -5);
  EXPECT_EQ(CountLines("error     : cfg from chip checksum error!"), 5);
  const std::string last = "error     : Can't Update cfg correctly\n";
  EXPECT_EQ(log.text().substr(log.text().size() - last.size()), last);
  // No pause between a failed check and the next attempt's command.
  const std::vector<std::string> timeline = controller.Timeline();
  EXPECT_EQ(std::vector<std::string>(timeline.begin() + 11, timeline.begin() + 13),
            (std::vector<std::string>{"read 8050 -> 850000", "write 8040 800080"}));
}

TEST_F(CfgUpdateTest, HeadReadBackFailingKeepsTheEarlierHead) {
  Arrange(0x84, 0x85);
  controller.Script(reg::kConfigAddr, {Reply(BalancedCfgBytes(0x84, {0x00}))});
  controller.Script(reg::kConfigAddr, std::vector<ReadStep>(5, ReplyFails()));
  EXPECT_EQ(UpdateCfg("cfg.txt", false), -7);
  EXPECT_EQ(CountLines("chip cfg version:132,cfg file version:133\n"), 5);
}

struct JobFailureCase {
  const char* name;
  std::function<void(ControllerDouble&, MemoryFileSystem&)> arrange;
  int32_t expected;
  std::string lastLine;
};

TEST_F(CfgUpdateTest, JobFailuresAndTheirResults) {
  const std::vector<JobFailureCase> cases = {
      {"controller absent", [](ControllerDouble& c, MemoryFileSystem&) { c.absentWalks = 4; }, -1,
       "error     : open TLC failed\n"},
      {"missing file", [](ControllerDouble&, MemoryFileSystem& f) { f.files.clear(); }, -2,
       "error     : Failed read cfg file:cfg.txt, ret:-1\n"},
      {"file not summing to 0", [](ControllerDouble&, MemoryFileSystem& f) { f.files["cfg.txt"] = "0x85,0x01"; }, -2,
       "error     : Failed read cfg file:cfg.txt, ret:-5\n"},
      {"send command not sent",
       [](ControllerDouble& c, MemoryFileSystem&) { c.writeFailures[reg::kConfigCtrlAddr] = 5; }, -2,
       "error     : Can't Update cfg correctly\n"},
      {"data not sent", [](ControllerDouble& c, MemoryFileSystem&) { c.writeFailures[reg::kConfigAddr] = 5; }, -2,
       "error     : Can't Update cfg correctly\n"},
  };
  for (const JobFailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    ControllerDouble fresh;
    MemoryFileSystem freshFiles;
    freshFiles.files["cfg.txt"] = CfgText(ConfigBytes(0x85, 0x22));
    c.arrange(fresh, freshFiles);
    LogCapture caseLog(1);
    EXPECT_EQ(UpdateCfg("cfg.txt", false), c.expected);
    const std::string& text = caseLog.text();
    ASSERT_GE(text.size(), c.lastLine.size());
    EXPECT_EQ(text.substr(text.size() - c.lastLine.size()), c.lastLine);
    EXPECT_EQ(fresh.hid.OpenHandleCount(), 0);
    EXPECT_EQ(freshFiles.openHandles, 0);
  }
}

TEST_F(CfgUpdateTest, AbsentControllerLeavesTheFileUnread) {
  Arrange(0x84, 0x85);
  controller.absentWalks = 4;
  EXPECT_EQ(UpdateCfg("cfg.txt", false), -1);
  EXPECT_EQ(files.opens, 0);
  EXPECT_EQ(controller.clock.sleeps, (std::vector<uint32_t>{2000, 2000, 2000, 2000}));
}

TEST_F(CfgUpdateTest, MissingFileIsFoundAfterTheHeadRead) {
  controller.registers[reg::kConfigAddr] = {0x84, 0x00, 0x7C};
  EXPECT_EQ(UpdateCfg("nothing.txt", false), -2);
  EXPECT_EQ(controller.Timeline(), (std::vector<std::string>{"walk", "open", "read 8050 -> 84007c", "close"}));
  EXPECT_EQ(log.text(),
            "error     : open cfg file FAILED, cfg_name:nothing.txt\n"
            "error     : Failed read cfg file:nothing.txt, ret:-1\n");
}

TEST_F(CfgUpdateTest, ConfigurationPastTheLastAddressIsRefusedBeforeTheHandshake) {
  // 32688 bytes end on 0xFFFF; one more would wrap onto 0x0000.
  for (const uint32_t length : {32688u, 32689u}) {
    SCOPED_TRACE(length);
    ControllerDouble fresh;
    fresh.registers[reg::kConfigAddr] = {0x84, 0x00, 0x7C};
    MemoryFileSystem freshFiles;
    std::vector<uint8_t> body(length - 2, 0x00);
    body[1] = 0x7B;  // an intact head: 0x85 + 0x00 + 0x7B
    freshFiles.files["cfg.txt"] = CfgText(BalancedCfgBytes(0x85, body));
    LogCapture caseLog(1);
    const int32_t result = UpdateCfg("cfg.txt", true);
    if (length == 32688u) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(CountOf(fresh.Timeline(), "write 8050 [32688]"), 1);
    } else {
      EXPECT_EQ(result, -8);
      EXPECT_EQ(caseLog.text(), "error     : cfg too long, len:32689, at most:32688\n");
      EXPECT_EQ(fresh.Timeline(), (std::vector<std::string>{"walk", "open", "read 8050 -> 84007c", "close"}));
    }
  }
}

TEST_F(CfgUpdateTest, DownloadOfAnEmptyImageStopsAfterTheAcceptance) {
  CConnectionTLC connection;
  ASSERT_TRUE(connection.Open());
  CfgImage empty;
  EXPECT_EQ(DownloadCfg(connection, empty), -4);
  EXPECT_EQ(log.text(), "error     : No valid cfg data \n");
  EXPECT_EQ(controller.Timeline(),
            (std::vector<std::string>{"walk", "open", "write 8040 800080", "sleep 100", "read 8040 -> 82"}));
}

TEST_F(CfgUpdateTest, DownloadWriteFailuresReturnTheWriteCode) {
  const std::vector<uint8_t> bytes = BalancedCfgBytes(0x85, {1, 2, 3});
  files.files["cfg.txt"] = CfgText(bytes);
  CfgImage image;
  ASSERT_EQ(image.LoadCfgFile("cfg.txt"), 1);
  CConnectionTLC connection;
  ASSERT_TRUE(connection.Open());
  const std::string writeFailed = "error     : write failed!! error:0x1f\n";
  controller.writeFailures[reg::kConfigCtrlAddr] = 1;
  EXPECT_EQ(DownloadCfg(connection, image), -2);
  EXPECT_EQ(log.text(), writeFailed + "error     : Failed write data to addr=0x8040, len=3,ret = -2\n" +
                            "error     : Failed write send cfg cmd,ret:-2\n");
  log.clear();
  controller.writeFailures[reg::kConfigAddr] = 1;
  EXPECT_EQ(DownloadCfg(connection, image), -2);
  EXPECT_EQ(log.text(), writeFailed + "error     : Failed write data to addr=0x8050, len=5,ret = -2\n" +
                            "error     : Failed write cfg to 0x8050,ret:-2\n");
  log.clear();
  // The command went out, then the finish command fails.
  controller.writeFailures[reg::kConfigCtrlAddr] = 0;
  controller.commandFailures.clear();
  int writesTo8040 = 0;
  controller.hid.failIf = [&, previous = controller.hid.failIf](HidCall call, const FakeHidInterface* i,
                                                                const uint8_t* report, uint32_t& error) {
    if (call == HidCall::kSetOutputReport && report[1] == 0x20 && report[5] == 0 && report[6] == 0x80 &&
        report[7] == 0x40 && ++writesTo8040 == 2) {
      return true;
    }
    return previous(call, i, report, error);
  };
  EXPECT_EQ(DownloadCfg(connection, image), -2);
  EXPECT_EQ(log.text(), writeFailed + "error     : Failed write data to addr=0x8040, len=1,ret = -2\n" +
                            "error     : Failed write send cfg finish cmd,ret:-2\n");
}

}  // namespace
}  // namespace tessaro::testing
