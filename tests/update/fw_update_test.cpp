// The firmware job against the scripted controller: update conditions, the
// sub-firmware selection, the attempts, and every sleep in its place.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "images/fw_image.h"
#include "tests/support/log_capture.h"
#include "tests/support/memory_files.h"
#include "tests/support/recording_update_guard.h"
#include "tests/update/controller_double.h"
#include "tools/image_builder.h"
#include "transport/registers.h"
#include "update/jobs.h"

namespace tessaro::testing {
namespace {

constexpr uint32_t kDefaultMask = 0x844;

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// An image the controller double accepts: its PID, another VID.
FwImageSpec UpdateSpec() {
  FwImageSpec spec;
  spec.pidField = "TS01";
  spec.vid = {0x01, 0x00, 0x00, 0x02};
  spec.subs = NeededSubFirmwares();  // types 2 (10000 bytes), 6 (4096), 11 (4097)
  return spec;
}

class FwUpdateTest : public ::testing::Test {
 protected:
  void UseImage(const FwImageSpec& spec) { files.files["fw.bin"] = BuildFwImage(spec); }
  // The controller reports the image's VID once it has been restarted.
  void VidAfterRestart(std::vector<uint8_t> vid) {
    controller.Script(reg::kVersionAddr, {Reply(controller.registers[reg::kVersionAddr]),
                                          Reply(ControllerDouble::VersionBlock("TS01", std::move(vid)))});
  }
  int CountLines(const std::string& text, const std::string& line) {
    int count = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++count;
    return count;
  }
  int CountCommands(uint8_t command) {
    int count = 0;
    for (const auto& out : controller.hid.DeliveredOutReports()) count += out[1] == command ? 1 : 0;
    return count;
  }

  ControllerDouble controller;
  MemoryFileSystem files;
};

TEST_F(FwUpdateTest, SuccessfulUpdateSleepsInOrderAndReportsTheNewVid) {
  UseImage(UpdateSpec());
  VidAfterRestart({0x01, 0x00, 0x00, 0x02});
  LogCapture log(1);
  EXPECT_EQ(UpdateFw("fw.bin", false, kDefaultMask), 0);
  // Sleeps: switch, start, one 80 ms wait per chunk (3 + 1 + 2), restart,
  // then the pause before the VERSION read.
  EXPECT_EQ(controller.clock.sleeps, (std::vector<uint32_t>{250, 100, 80, 80, 80, 80, 80, 80, 200, 1000}));
  std::vector<std::string> shape;
  for (const std::string& line : controller.Timeline()) {
    if (line.rfind("write 9000", 0) != 0 && line.rfind("load", 0) != 0 && line != "read 5096 -> aa" && line != "sleep 80")
      shape.push_back(line);
  }
  EXPECT_EQ(shape, (std::vector<std::string>{"walk", "open", "read 8240 -> 545330310100000100001300", "cmd 10",
                                             "sleep 250", "read 5095 -> dd", "cmd 11", "sleep 100", "cmd 13",
                                             "sleep 200", "sleep 1000", "read 8240 -> 545330310100000200001300",
                                             "close"}));
  auto progress = [](int percent) {
    return "info      : [" + std::string(percent / 2, '=') + std::string(50 - percent / 2, ' ') + "] " +
           std::to_string(percent) + "/100\r";
  };
  const std::string end = "info      : \n";
  EXPECT_EQ(log.text(), progress(40) + progress(81) + progress(100) + end + progress(100) + end + progress(99) +
                            progress(100) + end + "info      : Update Firmware Success,VID after update:01 00 00 02\n");
  EXPECT_EQ(controller.hid.OpenHandleCount(), 0);
}

TEST_F(FwUpdateTest, DebugLogOfOneAttemptInOrder) {
  FwImageSpec spec = UpdateSpec();
  spec.subs = {MakeSubFirmware(2, 2, 0, 1), MakeSubFirmware(6, 2, 1, 2), MakeSubFirmware(11, 2, 2, 3)};
  UseImage(spec);
  LogCapture log(3);
  EXPECT_EQ(UpdateFw("fw.bin", false, kDefaultMask), 0);
  const std::string bar = "info      : [==================================================] 100/100\rinfo      : \n";
  const std::string expected =
      "dbg info  : open TLC success\n"
      "dbg info  : before update, read VERSION success\n"
      "dbg info  : VID befor update:01 00 00 01\n"
      "dbg info  : firmware vid:0x01,0x00,0x00,0x02\n"
      "dbg info  : fw_image Initialize success\n"
      "dbg info  : start switch\n"
      "dbg info  : switch end\n"
      "dbg info  : start update\n"
      "dbg info  : notify ic to entry update program\n"
      "dbg info  : ic entry update program\n"
      "dbg info  : start load firmware\n"
      "dbg info  : load firmware successful\n"
      "dbg info  : sub fw num:3\n"
      "dbg info  : Found a valid sub subsystem start loading, type:0x02\n"
      "dbg info  : Sub FW addr=0x0, len=2(Byte)\n" +
      bar +
      "dbg info  : update KV30 success\n"
      "dbg info  : Found a valid sub subsystem start loading, type:0x06\n"
      "dbg info  : Sub FW addr=0x1, len=2(Byte)\n" +
      bar +
      "dbg info  : update short test code success\n"
      "dbg info  : Found a valid sub subsystem start loading, type:0x0b\n"
      "dbg info  : Sub FW addr=0x2, len=2(Byte)\n" +
      bar +
      "dbg info  : update Q5 success\n"
      "dbg info  : small sys didn't been update\n"
      "dbg info  : boot code didn't been update\n"
      "dbg info  : reset ic\n"
      "dbg info  : reset ic successful\n"
      "dbg info  : Update fw success\n"
      "dbg info  : after update, read VERSION success\n"
      "info      : Update Firmware Success,VID after update:01 00 00 01\n";
  EXPECT_EQ(log.text().substr(log.text().find("dbg info  : open TLC success\n")), expected);
}

struct ConditionCase {
  const char* name;
  std::string pid;
  std::vector<uint8_t> vid;
  bool ignoreVersion;
  bool updates;
  std::string log;
};

TEST_F(FwUpdateTest, UpdateConditionsOnPidAndVid) {
  const std::string refused = "info      : Doesn't meet the update conditions\n";
  const std::vector<ConditionCase> cases = {
      {"same pid, other vid", "TS01", {1, 0, 0, 2}, false, true, ""},
      {"same pid, same vid", "TS01", {1, 0, 0, 1}, false, false, "info      : VID is equal, do not neet update\n" + refused},
      {"other pid", "XY99", {1, 0, 0, 2}, false, false,
       "error     : PID mismatch, PID from dev:TS01, PID from fw_bin:XY99\n" + refused},
      {"pid matched on its first four characters only", "TS01EXTRA", {1, 0, 0, 2}, false, true, ""},
      {"other pid, ignoreVer", "XY99", {1, 0, 0, 2}, true, true, ""},
      {"same vid, ignoreVer", "TS01", {1, 0, 0, 1}, true, true, ""},
  };
  for (const ConditionCase& c : cases) {
    SCOPED_TRACE(c.name);
    ControllerDouble fresh;
    FwImageSpec spec = UpdateSpec();
    spec.pidField = c.pid;
    spec.vid = {c.vid[0], c.vid[1], c.vid[2], c.vid[3]};
    UseImage(spec);
    LogCapture log(1);
    EXPECT_EQ(UpdateFw("fw.bin", c.ignoreVersion, kDefaultMask), 0);
    int switches = 0;
    for (const auto& out : fresh.hid.DeliveredOutReports()) switches += out[1] == reg::kCmdSwitchToPatch ? 1 : 0;
    EXPECT_EQ(switches, c.updates ? 1 : 0);
    if (!c.updates) {
      EXPECT_EQ(log.text(), c.log);
    }
    EXPECT_EQ(fresh.Timeline().back(), "close");
  }
}

TEST_F(FwUpdateTest, DefaultMaskSkipsSmallSysAndBootCodeButKeepsTheirPlace) {
  FwImageSpec spec = UpdateSpec();
  spec.subs = {MakeSubFirmware(2, 300, 0x0000, 1), MakeSubFirmware(5, 77, 0x0100, 2), MakeSubFirmware(6, 501, 0x0200, 3),
               MakeSubFirmware(11, 4100, 0x0300, 4), MakeSubFirmware(14, 99, 0x0400, 5)};
  UseImage(spec);
  LogCapture log(3);
  EXPECT_EQ(UpdateFw("fw.bin", false, kDefaultMask), 0);
  std::vector<std::vector<uint8_t>> chunks;
  for (const Transfer& transfer : controller.Transfers()) chunks.push_back(transfer.data);
  const std::vector<uint8_t> q5 = Bytes(spec.subs[3].data);
  EXPECT_EQ(chunks, (std::vector<std::vector<uint8_t>>{Bytes(spec.subs[0].data), Bytes(spec.subs[2].data),
                                                        std::vector<uint8_t>(q5.begin(), q5.begin() + 4096),
                                                        std::vector<uint8_t>(q5.begin() + 4096, q5.end())}));
  const auto loads = controller.LoadCommands();
  ASSERT_EQ(loads.size(), 4u);
  EXPECT_EQ((std::vector<int>{loads[0][7] << 8 | loads[0][8], loads[1][7] << 8 | loads[1][8],
                              loads[2][7] << 8 | loads[2][8], loads[3][7] << 8 | loads[3][8]}),
            (std::vector<int>{0x0000, 0x0200, 0x0300, 0x0310}));
  // Q5's last chunk (4 bytes) is even; the short test code's (501 bytes)
  // is odd and takes Q5's first byte, which follows it in the image.
  const std::vector<uint8_t> shortTest = Bytes(spec.subs[2].data);
  uint32_t sum = 0;
  for (size_t i = 0; i < shortTest.size(); i += 2) {
    sum += uint32_t{shortTest[i]} << 8 | (i + 1 < shortTest.size() ? shortTest[i + 1] : q5[0]);
  }
  EXPECT_EQ(loads[1][9] << 8 | loads[1][10], static_cast<uint16_t>(sum));
  const std::string& text = log.text();
  EXPECT_NE(text.find("dbg info  : Sub firmware type does not math,sub_fw_num:1, type:0x05\n"), std::string::npos);
  EXPECT_NE(text.find("dbg info  : Sub firmware type does not math,sub_fw_num:4, type:0x0e\n"), std::string::npos);
  EXPECT_NE(text.find("dbg info  : small sys didn't been update\ndbg info  : boot code didn't been update\n"),
            std::string::npos);
}

TEST_F(FwUpdateTest, BootCodeAndSmallSysWrittenWhenSelected) {
  FwImageSpec spec = UpdateSpec();
  spec.subs.push_back(MakeSubFirmware(5, 10, 0x0800, 7));
  spec.subs.push_back(MakeSubFirmware(14, 10, 0x0900, 8));
  UseImage(spec);
  LogCapture log(1);
  EXPECT_EQ(UpdateFw("fw.bin", false, kDefaultMask | 0x20 | 0x4000), 0);
  EXPECT_EQ(CountLines(log.text(), "info      : update boot code success\n"), 1);
  EXPECT_EQ(controller.Transfers().size(), 3u + 1 + 2 + 1 + 1);
}

struct FailingAttemptCase {
  const char* name;
  FwImageSpec spec;
  uint32_t mask;
  std::string errorLine;
};

// The outcome is certain from the image and the mask: the first missing
// kind's line, -1 once, and nothing but the VERSION read on the wire.
TEST_F(FwUpdateTest, ImageOrMaskWithoutANeededKindIsRefusedBeforeTheSwitch) {
  FwImageSpec noSubs = UpdateSpec();
  noSubs.subs.clear();
  FwImageSpec type34 = UpdateSpec();
  type34.subs[0].type = 34;  // selected by bit 2, but no KV30
  const std::vector<FailingAttemptCase> cases = {
      {"mask without Q5", UpdateSpec(), 0x044, "error     : Q5 didn't been update\n"},
      {"mask without the short test code", UpdateSpec(), 0x804, "error     : Short test code didn't been update\n"},
      {"mask without KV30 and Q5", UpdateSpec(), 0x040, "error     : KV30 didn't been update\n"},
      {"count of 0", noSubs, kDefaultMask, "error     : KV30 didn't been update\n"},
      {"type 34 is written but is no KV30", type34, kDefaultMask, "error     : KV30 didn't been update\n"},
  };
  for (const FailingAttemptCase& c : cases) {
    SCOPED_TRACE(c.name);
    ControllerDouble fresh;
    UseImage(c.spec);
    LogCapture log(1);
    EXPECT_EQ(UpdateFw("fw.bin", false, c.mask), -1);
    EXPECT_EQ(log.text(), c.errorLine);
    EXPECT_EQ(fresh.Timeline(), (std::vector<std::string>{"walk", "open", "read 8240 -> 545330310100000100001300",
                                                         "close"}));
  }
}

// Only entries the mask selects are written, so only their flash range
// counts; a selected one past 16 MiB is refused once, before the switch.
TEST_F(FwUpdateTest, FlashRangeCountsOnlyForSelectedEntries) {
  FwImageSpec spec = UpdateSpec();
  spec.subs.push_back(MakeSubFirmware(5, 300, 0xFFFF, 7));  // small sys at the end of flash
  struct Case {
    const char* name;
    uint32_t mask;
    int32_t result;
    std::string log;
  };
  const std::vector<Case> cases = {
      {"small sys skipped", kDefaultMask, 0, ""},
      {"small sys selected", kDefaultMask | 0x20, -4,
       "error     : sub fw past the end of flash, type:0x05, addr=0xffff, len=300(Byte)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ControllerDouble fresh;
    UseImage(spec);
    LogCapture log(1);
    EXPECT_EQ(UpdateFw("fw.bin", true, c.mask), c.result);
    const std::vector<std::string> timeline = fresh.Timeline();
    if (c.result < 0) {
      EXPECT_EQ(log.text(), c.log);
      EXPECT_EQ(timeline, (std::vector<std::string>{"walk", "open", "read 8240 -> 545330310100000100001300", "close"}));
    } else {
      EXPECT_EQ(std::count(timeline.begin(), timeline.end(), "cmd 10"), 1);
      EXPECT_EQ(std::count(timeline.begin(), timeline.end(), "cmd 13"), 1);
    }
  }
}

// The window that holds interruptions off opens right before the first
// report that changes the controller and closes after the controller is
// closed; jobs that change nothing never open it.
TEST_F(FwUpdateTest, UpdateWindowSpansTheChangingReportsOnly) {
  struct Case {
    const char* name;
    std::function<int32_t()> job;
    std::vector<std::string> events;
  };
  const std::vector<Case> cases = {
      {"firmware update", [] { return UpdateFw("fw.bin", true, kDefaultMask); },
       {"begin out:1 open:1", "end out:352 open:0"}},
      {"firmware refused for a missing kind", [] { return UpdateFw("fw.bin", true, 0x44); }, {}},
      {"firmware not needed", [] { return UpdateFw("fw.bin", false, kDefaultMask); }, {}},
      {"configuration update", [] { return UpdateCfg("cfg.txt", false); }, {"begin out:1 open:1", "end out:7 open:0"}},
      {"configuration not needed", [] { return UpdateCfg("cfg.txt", false); }, {}},
      {"query", [] { return ReadFwVid(); }, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ControllerDouble fresh;
    UseImage(UpdateSpec());
    if (std::string(c.name) == "firmware not needed") fresh.registers[reg::kVersionAddr] = ControllerDouble::VersionBlock("TS01", {1, 0, 0, 2});
    const uint8_t cfgVersion = std::string(c.name) == "configuration not needed" ? 0x84 : 0x85;
    files.files["cfg.txt"] = CfgText(BalancedCfgBytes(cfgVersion, {0x00, static_cast<uint8_t>(0x100 - cfgVersion)}));
    RecordingUpdateGuard guard([&fresh] {
      return "out:" + std::to_string(fresh.hid.DeliveredOutReports().size()) +
             " open:" + std::to_string(fresh.hid.OpenHandleCount());
    });
    LogCapture log(1);
    c.job();
    EXPECT_EQ(guard.events, c.events);
  }
}

TEST_F(FwUpdateTest, SuccessOnTheThirdAttempt) {
  UseImage(UpdateSpec());
  controller.Script(reg::kPatchStateAddr, Replies(0x00, 10));
  LogCapture log(3);
  EXPECT_EQ(UpdateFw("fw.bin", false, kDefaultMask), 0);
  const std::string& text = log.text();
  EXPECT_EQ(CountLines(text, "dbg info  : 0x5095 value is 0x0 != 0xDD, retry\n"), 10);
  EXPECT_NE(text.find("dbg info  : Reg 0x5095 != 0xDD\nerror     : switch failed\nerror     : Update fw failed, retry=0\n"),
            std::string::npos);
  EXPECT_NE(text.find("error     : Update fw failed, retry=1\n"), std::string::npos);
  EXPECT_EQ(text.find("retry=2"), std::string::npos);
  EXPECT_NE(text.find("dbg info  : Update fw success\n"), std::string::npos);
  const std::vector<std::string> timeline = Collapse(controller.Timeline());
  EXPECT_EQ(std::vector<std::string>(timeline.begin() + 3, timeline.begin() + 13),
            (std::vector<std::string>{"cmd 10", "sleep 250", "{read 5095 -> 00 | sleep 30} x5", "sleep 200", "cmd 10",
                                      "sleep 250", "{read 5095 -> 00 | sleep 30} x5", "sleep 200", "cmd 10",
                                      "sleep 250"}));
  EXPECT_EQ(timeline[13], "read 5095 -> dd");
}

TEST_F(FwUpdateTest, PatchModeOnTheFifthReadStillCounts) {
  UseImage(UpdateSpec());
  controller.Script(reg::kPatchStateAddr, {ReplyFails(), Reply({0x33}), ReplyFails(), Reply({0x00}), Reply({0xDD})});
  LogCapture log(3);
  EXPECT_EQ(UpdateFw("fw.bin", false, kDefaultMask), 0);
  // A failed read shows the last byte read before it (0 before any).
  EXPECT_NE(log.text().find("error     : Failed read 0x5095, ret = -2\n"
                            "dbg info  : 0x5095 value is 0x0 != 0xDD, retry\n"),
            std::string::npos);
  EXPECT_NE(log.text().find("error     : Failed read 0x5095, ret = -2\n"
                            "dbg info  : 0x5095 value is 0x33 != 0xDD, retry\n"),
            std::string::npos);
  EXPECT_EQ(CountCommands(reg::kCmdSwitchToPatch), 1);
}

TEST_F(FwUpdateTest, ThreeFailedAttemptsReturnTheThirdCode) {
  UseImage(UpdateSpec());
  controller.commandFailures[reg::kCmdSwitchToPatch] = 1;     // attempt 0: -2 from the send
  controller.Script(reg::kPatchStateAddr, Replies(0x00, 5));  // attempt 1: -2 from the poll
  controller.Script(reg::kPatchStateAddr, {Reply({0xDD})});
  controller.commandFailures[reg::kCmdRestart] = 3;  // attempt 2: -1 from the restart
  LogCapture log(1);
  EXPECT_EQ(UpdateFw("fw.bin", false, kDefaultMask), -1);
  const std::string& text = log.text();
  EXPECT_NE(text.find("error     : write failed!! error:0x1f\nerror     : Failed switch to patch,ret:-2\n"
                      "error     : Update fw failed, retry=0\n"),
            std::string::npos);
  EXPECT_NE(text.find("error     : switch failed\nerror     : Update fw failed, retry=1\n"), std::string::npos);
  std::string restartFailures;
  for (int i = 0; i < 3; ++i) {
    restartFailures += "error     : write failed!! error:0x1f\nerror     : Failed write restart command, ret=-2\n";
  }
  EXPECT_NE(text.find(restartFailures + "error     : reset ic failed\nerror     : Update fw failed, retry=2\n"
                                        "error     : Update fw finish ERROR\n"),
            std::string::npos);
  const std::vector<uint32_t>& sleeps = controller.clock.sleeps;
  EXPECT_EQ(std::vector<uint32_t>(sleeps.end() - 5, sleeps.end()), (std::vector<uint32_t>{300, 300, 300, 200, 200}));
}

TEST_F(FwUpdateTest, RestartSentOnItsThirdTry) {
  UseImage(UpdateSpec());
  controller.commandFailures[reg::kCmdRestart] = 2;
  LogCapture log(1);
  EXPECT_EQ(UpdateFw("fw.bin", false, kDefaultMask), 0);
  const std::vector<uint32_t>& sleeps = controller.clock.sleeps;
  EXPECT_EQ(std::vector<uint32_t>(sleeps.end() - 4, sleeps.end()), (std::vector<uint32_t>{300, 300, 200, 1000}));
}

TEST_F(FwUpdateTest, TwelveRefusalsOfAChunkFailTheAttempt) {
  UseImage(UpdateSpec());
  controller.Script(reg::kFlashStateAddr, Replies(0x00, 12 * 100));
  LogCapture log(1);
  EXPECT_EQ(UpdateFw("fw.bin", false, kDefaultMask), 0);
  EXPECT_NE(log.text().find("error     : Failed load sub firmware, type:0x02, ret=-1\n"
                            "error     : Update fw failed, retry=0\n"),
            std::string::npos);
  EXPECT_EQ(CountCommands(reg::kCmdSwitchToPatch), 2);
}

struct JobFailureCase {
  const char* name;
  std::function<void(ControllerDouble&, MemoryFileSystem&)> arrange;
  int32_t expected;
  std::string lastLine;
  int switches;
};

TEST_F(FwUpdateTest, JobFailuresAndTheirResults) {
  const std::vector<JobFailureCase> cases = {
      {"controller absent", [](ControllerDouble& c, MemoryFileSystem&) { c.absentWalks = 4; }, -1,
       "error     : open TLC failed\n", 0},
      {"version unreadable before",
       [](ControllerDouble& c, MemoryFileSystem&) { c.Script(reg::kVersionAddr, std::vector<ReadStep>(5, ReplyFails())); },
       -2, "error     : read VERSION failed\n", 0},
      {"missing image", [](ControllerDouble&, MemoryFileSystem& f) { f.files.clear(); }, -2,
       "error     : Failed read firmware file:fw.bin, ret:-1\n", 0},
      {"image with a bad checksum",
       [](ControllerDouble&, MemoryFileSystem& f) { f.files["fw.bin"][300] ^= 1; }, -2,
       "error     : Failed read firmware file:fw.bin, ret:-4\n", 0},
      {"table that does not fit",
       [](ControllerDouble&, MemoryFileSystem& f) {
         FwImageSpec spec = UpdateSpec();
         spec.subs[2].tableLength = 4098;
         f.files["fw.bin"] = BuildFwImage(spec);
       },
       -2, "error     : Failed read firmware file:fw.bin, ret:-7\n", 0},
      {"version unreadable after",
       [](ControllerDouble& c, MemoryFileSystem&) {
         c.Script(reg::kVersionAddr, {Reply(c.registers[reg::kVersionAddr])});
         c.Script(reg::kVersionAddr, std::vector<ReadStep>(5, ReplyFails()));
       },
       -2, "error     : after update, read VERSION failed\n", 1},
  };
  for (const JobFailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    ControllerDouble fresh;
    MemoryFileSystem freshFiles;
    freshFiles.files["fw.bin"] = BuildFwImage(UpdateSpec());
    c.arrange(fresh, freshFiles);
    LogCapture log(1);
    EXPECT_EQ(UpdateFw("fw.bin", false, kDefaultMask), c.expected);
    const std::string& text = log.text();
    EXPECT_EQ(text.substr(text.size() - c.lastLine.size()), c.lastLine);
    int switches = 0;
    for (const auto& out : fresh.hid.DeliveredOutReports()) switches += out[1] == reg::kCmdSwitchToPatch ? 1 : 0;
    EXPECT_EQ(switches, c.switches);
    EXPECT_EQ(fresh.hid.OpenHandleCount(), 0);
    EXPECT_EQ(freshFiles.openHandles, 0);
  }
}

TEST_F(FwUpdateTest, AbsentControllerLeavesTheImageUnread) {
  UseImage(UpdateSpec());
  controller.absentWalks = 4;
  LogCapture log(1);
  EXPECT_EQ(UpdateFw("fw.bin", false, kDefaultMask), -1);
  EXPECT_EQ(files.opens, 0);
  EXPECT_EQ(controller.clock.totalSleptMs, 8000u);
}

// DownloadFw on its own, with images the loader would never hand over.
class DownloadFwTest : public FwUpdateTest {
 protected:
  void SetUp() override {
    UseImage(UpdateSpec());
    ASSERT_EQ(image.LoadFwFile("fw.bin"), 1);
    ASSERT_TRUE(connection.Open());
  }
  FwImage image;
  CConnectionTLC connection;
};

TEST_F(DownloadFwTest, TableOutsideTheImageOrTheFlashIsRefusedBeforeAnythingIsSent) {
  struct Damage {
    const char* name;
    std::vector<std::pair<uint32_t, uint8_t>> bytes;  // offset, new value
    std::string line;
  };
  const std::string outside = "error     : sub fw table does not fit the image\n";
  const uint32_t entry3 = kFwTableOffset + 3 * kFwTableEntryBytes;
  const std::vector<Damage> damages = {
      {"count above 28", {{kFwCountOffset, 29}}, outside},
      {"an extra entry whose data is past the image", {{kFwCountOffset, 4}, {entry3 + 4, 1}}, outside},
      {"a length past the image", {{kFwTableOffset + 1, 0x7F}}, outside},
      {"flash range past 16 MiB", {{kFwTableOffset + 5, 0xFF}, {kFwTableOffset + 6, 0xFF}},
       "error     : sub fw past the end of flash, type:0x02, addr=0xffff, len=10000(Byte)\n"},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.name);
    const std::vector<uint8_t> saved(image.data.get(), image.data.get() + image.length);
    for (const auto& [offset, value] : damage.bytes) image.data[offset] = value;
    const size_t before = controller.hid.events.size();
    LogCapture log(3);
    EXPECT_EQ(DownloadFw(connection, image, kDefaultMask), -4);
    EXPECT_EQ(log.text(), damage.line);
    EXPECT_EQ(controller.hid.events.size(), before);
    std::copy(saved.begin(), saved.end(), image.data.get());
  }
}

TEST_F(DownloadFwTest, ImageNotLoadedIsFoundAfterTheStartCommand) {
  image.Release();
  LogCapture log(1);
  EXPECT_EQ(DownloadFw(connection, image, kDefaultMask), -4);
  EXPECT_EQ(log.text(), "error     : No valid fw data \n");
  EXPECT_EQ(controller.Timeline(),
            (std::vector<std::string>{"walk", "open", "cmd 10", "sleep 250", "read 5095 -> dd", "cmd 11", "sleep 100"}));
}

TEST_F(DownloadFwTest, StartCommandFailureEndsTheAttempt) {
  controller.commandFailures[reg::kCmdStartUpdate] = 1;
  LogCapture log(1);
  EXPECT_EQ(DownloadFw(connection, image, kDefaultMask), -2);
  EXPECT_EQ(log.text(), "error     : write failed!! error:0x1f\nerror     : Failed start update, ret=-2\n");
  EXPECT_EQ(controller.Timeline().back(), "FAIL cmd 11");
}

}  // namespace
}  // namespace tessaro::testing
