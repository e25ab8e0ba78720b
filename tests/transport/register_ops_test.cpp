// The report frame of every register operation, byte for byte, and what
// each failure says and leaves behind.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/fake_clock.h"
#include "tests/support/fake_hid.h"
#include "tests/support/log_capture.h"
#include "transport/connection.h"
#include "transport/registers.h"
#include "transport/report.h"

namespace tessaro {
namespace {

using testing::FakeHid;
using testing::HidCall;
using testing::ReportBytes;

class RegisterOpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(connection.Open());
    hid.events.clear();
    log.clear();
  }

  std::vector<std::vector<uint8_t>> Sent() const { return hid.DeliveredOutReports(); }
  int Attempts(HidCall call) const {
    int count = 0;
    for (const auto& event : hid.events) count += event.call == call ? 1 : 0;
    return count;
  }

  testing::FakeClock clock;
  FakeHid hid{{testing::MatchingInterface(L"\\\\?\\hid#controller")}};
  testing::LogCapture log{3};
  CConnectionTLC connection;
};

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> data(n);
  for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
  return data;
}

// ------------------------------------------------------------ ReadRegister

TEST_F(RegisterOpsTest, ReadSendsTheRequestAndCopiesTheAnnouncedBytes) {
  struct Case {
    uint16_t address;
    int32_t len;
  };
  for (const Case c : {Case{0x8050, 3}, Case{0x8240, 12}, Case{0xF300, 16}, Case{0x5095, 1}, Case{0x1234, 60}}) {
    SCOPED_TRACE(c.address);
    hid.events.clear();
    const std::vector<uint8_t> data = Pattern(static_cast<size_t>(c.len));
    hid.QueueReplyData(data);
    std::vector<uint8_t> dest(static_cast<size_t>(c.len) + 1, 0xEE);

    EXPECT_EQ(connection.ReadRegister(c.address, dest.data(), c.len), c.len);

    const uint8_t high = static_cast<uint8_t>(c.address >> 8);
    const uint8_t low = static_cast<uint8_t>(c.address & 0xFF);
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0], ReportBytes({0x0E, 0x20, 0x00, 0x00, 0x05, 0x01, high, low, 0x00,
                                      static_cast<uint8_t>(c.len)}));
    ASSERT_EQ(hid.events.back().call, HidCall::kGetInputReport);
    EXPECT_EQ(hid.events.back().entryBytes, ReportBytes({0x0E}));
    EXPECT_EQ(std::vector<uint8_t>(dest.begin(), dest.end() - 1), data);
    EXPECT_EQ(dest.back(), 0xEE) << "wrote past the length asked for";
  }
  EXPECT_EQ(log.text(), "");
}

TEST_F(RegisterOpsTest, ReadRefusesWhatNoReplyCouldHoldAndSendsNothing) {
  uint8_t dest[64] = {};
  for (const int32_t len : {0, -1, 61, 65, 1000}) {
    SCOPED_TRACE(len);
    EXPECT_EQ(connection.ReadRegister(0x8050, dest, len), -1);
  }
  EXPECT_EQ(connection.ReadRegister(0x8050, nullptr, 3), -1);
  EXPECT_TRUE(hid.events.empty());
  EXPECT_EQ(log.text(), "");
}

TEST_F(RegisterOpsTest, ReplyOfAnotherLengthIsRefusedAndLeavesDestUntouched) {
  struct Case {
    uint16_t announced;
    const char* line;
  };
  for (const Case c : {Case{4, "error     : valid data len from fw ERROR, readLen:3, fw_data_len:4\n"},
                       Case{2, "error     : valid data len from fw ERROR, readLen:3, fw_data_len:2\n"},
                       Case{0x0103, "error     : valid data len from fw ERROR, readLen:3, fw_data_len:259\n"}}) {
    SCOPED_TRACE(c.announced);
    log.clear();
    hid.QueueReplyAnnouncing(c.announced, {1, 2, 3, 4});
    uint8_t dest[3] = {0xAA, 0xAA, 0xAA};
    EXPECT_EQ(connection.ReadRegister(0x8050, dest, 3), -3);
    EXPECT_EQ(log.text(), c.line);
    EXPECT_EQ(dest[0], 0xAA);
    EXPECT_EQ(dest[1], 0xAA);
    EXPECT_EQ(dest[2], 0xAA);
  }
}

TEST_F(RegisterOpsTest, ReadFailuresTellWhichHalfFailed) {
  uint8_t dest[3] = {};
  hid.FailNthCall(HidCall::kSetOutputReport, 1, testing::kErrorGenFailure);
  EXPECT_EQ(connection.ReadRegister(0x8050, dest, 3), -1);
  EXPECT_EQ(log.text(),
            "error     : write failed!! error:0x1f\n"
            "error     : Read FAILED, because of write operate fail:0x1f \n");
  EXPECT_EQ(Attempts(HidCall::kGetInputReport), 0) << "fetched a reply to a request never sent";

  log.clear();
  hid.QueueInputFailure(0x79);
  EXPECT_EQ(connection.ReadRegister(0x8050, dest, 3), -2);
  EXPECT_EQ(log.text(), "error     : Read FAILED, because of HidD_GetInputReport fail:0x79 \n");
}

TEST_F(RegisterOpsTest, ReadFailureLinesFollowTheErrorBit) {
  logMask = 2;
  uint8_t dest[3] = {};
  hid.FailNthCall(HidCall::kSetOutputReport, 1);
  EXPECT_EQ(connection.ReadRegister(0x8050, dest, 3), -1);
  hid.QueueReplyAnnouncing(9, {});
  EXPECT_EQ(connection.ReadRegister(0x8050, dest, 3), -3);
  EXPECT_EQ(log.text(), "");
}

// ----------------------------------------------------------- WriteRegister

// Every report of a write: report ID, command, flag, chunk number, count,
// direction, chunk address, chunk length, the data, then zeros.
void ExpectWriteReports(const std::vector<std::vector<uint8_t>>& sent, uint16_t address,
                        const std::vector<uint8_t>& data) {
  const size_t n = data.size();
  ASSERT_EQ(sent.size(), (n + 54) / 55);
  size_t offset = 0;
  for (size_t i = 0; i < sent.size(); ++i) {
    SCOPED_TRACE("chunk " + std::to_string(i));
    const size_t chunk = std::min<size_t>(55, n - offset);
    const uint16_t chunkAddress = static_cast<uint16_t>(address + offset);
    const uint8_t header[] = {0x0E,
                              0x20,
                              static_cast<uint8_t>(i + 1 < sent.size() ? 1 : 0),
                              static_cast<uint8_t>(i & 0xFF),
                              static_cast<uint8_t>(chunk + 5),
                              0x00,
                              static_cast<uint8_t>(chunkAddress >> 8),
                              static_cast<uint8_t>(chunkAddress & 0xFF),
                              0x00,
                              static_cast<uint8_t>(chunk)};
    std::vector<uint8_t> expected(data.begin() + static_cast<long>(offset),
                                  data.begin() + static_cast<long>(offset + chunk));
    expected.insert(expected.begin(), std::begin(header), std::end(header));
    EXPECT_EQ(sent[i], ReportBytes(expected));
    offset += chunk;
  }
}

TEST_F(RegisterOpsTest, WriteSplitsIntoChunksOf55) {
  struct Case {
    uint16_t address;
    size_t n;
  };
  // 55 fills one report to its last byte; 56 needs a second; 4096 is a
  // flash chunk (75 reports); 14081 runs the chunk number past 255; the
  // last two end on the last address, 0xFFFF.
  for (const Case c : {Case{0x8040, 1}, Case{0x8040, 3}, Case{0x8050, 54}, Case{0x8050, 55}, Case{0x8050, 56},
                       Case{0x8050, 110}, Case{0x8050, 111}, Case{0x9000, 4096}, Case{0x9000, 14081},
                       Case{0x8050, 32688}, Case{0xFFC9, 55}}) {
    SCOPED_TRACE(std::to_string(c.n) + " bytes at " + std::to_string(c.address));
    hid.events.clear();
    const std::vector<uint8_t> data = Pattern(c.n);
    EXPECT_EQ(connection.WriteRegister(c.address, data.data(), static_cast<uint32_t>(c.n)),
              static_cast<int32_t>(c.n));
    ExpectWriteReports(Sent(), c.address, data);
  }
  EXPECT_EQ(log.text(), "");
}

TEST_F(RegisterOpsTest, WriteOfTheConfigurationRequestIsExact) {
  const uint8_t request[3] = {0x80, 0x00, 0x80};
  EXPECT_EQ(connection.WriteRegister(0x8040, request, 3), 3);
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent()[0], ReportBytes({0x0E, 0x20, 0x00, 0x00, 0x08, 0x00, 0x80, 0x40, 0x00, 0x03, 0x80, 0x00, 0x80}));
}

TEST_F(RegisterOpsTest, WriteOfFourKilobytesNumbersItsSeventyFiveChunks) {
  const std::vector<uint8_t> data = Pattern(4096);
  EXPECT_EQ(connection.WriteRegister(0x9000, data.data(), 4096), 4096);
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 75u);
  EXPECT_EQ(sent[74][2], 0x00);
  EXPECT_EQ(sent[74][3], 74);
  EXPECT_EQ(sent[74][4], 4096 - 74 * 55 + 5);
  EXPECT_EQ((sent[74][6] << 8) | sent[74][7], 0x9000 + 74 * 55);
  EXPECT_EQ(sent[73][2], 0x01);
}

TEST_F(RegisterOpsTest, WriteRefusesNothingToSend) {
  const uint8_t byte = 0x83;
  EXPECT_EQ(connection.WriteRegister(0x8040, &byte, 0), -1);
  EXPECT_EQ(connection.WriteRegister(0x8040, nullptr, 3), -1);
  // A range past 0xFFFF would wrap onto 0x0000: refused whole, not cut.
  const std::vector<uint8_t> data = Pattern(32689);
  EXPECT_EQ(connection.WriteRegister(0x8050, data.data(), 32689), -1);
  EXPECT_EQ(connection.WriteRegister(0xFFC9, data.data(), 56), -1);
  EXPECT_EQ(connection.WriteRegister(0xFFFF, data.data(), 2), -1);
  EXPECT_TRUE(hid.events.empty());
  EXPECT_EQ(log.text(), "");
}

TEST_F(RegisterOpsTest, FailedChunkEndsTheWriteAndEarlierChunksStaySent) {
  hid.FailNthCall(HidCall::kSetOutputReport, 3, 0x57);
  const std::vector<uint8_t> data = Pattern(200);
  EXPECT_EQ(connection.WriteRegister(0x9000, data.data(), 200), -2);
  EXPECT_EQ(Sent().size(), 2u);
  EXPECT_EQ(Attempts(HidCall::kSetOutputReport), 3) << "went on after a failed chunk";
  EXPECT_EQ(log.text(),
            "error     : write failed!! error:0x57\n"
            "error     : Failed write data to addr=0x906e, len=55,ret = -2\n");
}

// ------------------------------------------------------------- WriteReport

TEST_F(RegisterOpsTest, WriteReportRefusesOversizedNegativeAndNull) {
  uint8_t buffer[70] = {};
  struct Case {
    const uint8_t* buffer;
    int32_t len;
    const char* line;
  };
  for (const Case c : {Case{buffer, 66, "error     : write len ERROR, len:66\n"},
                       Case{buffer, -1, "error     : write len ERROR, len:-1\n"},
                       Case{nullptr, 6, "error     : write ERROR, buffer is NULL\n"},
                       Case{nullptr, 66, "error     : write len ERROR, len:66\n"}}) {
    SCOPED_TRACE(c.len);
    log.clear();
    EXPECT_EQ(connection.WriteReport(c.buffer, c.len), -1);
    EXPECT_EQ(log.text(), c.line);
  }
  EXPECT_TRUE(hid.events.empty());
}

TEST_F(RegisterOpsTest, WriteReportSendsTheCallersBytesBehindTheReportId) {
  uint8_t buffer[kReportLengthBytes];
  for (int i = 0; i < kReportLengthBytes; ++i) buffer[i] = static_cast<uint8_t>(0xC0 ^ i);
  EXPECT_EQ(connection.WriteReport(buffer, 65), 65);
  std::vector<uint8_t> expected(buffer, buffer + kReportLengthBytes);
  expected[0] = 0x0E;
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent()[0], expected);

  // Only `len` bytes are taken; the rest of the report is zero.
  hid.events.clear();
  EXPECT_EQ(connection.WriteReport(buffer, 6), 6);
  std::vector<uint8_t> six(buffer, buffer + 6);
  six[0] = 0x0E;
  EXPECT_EQ(Sent()[0], ReportBytes(six));

  hid.events.clear();
  EXPECT_EQ(connection.WriteReport(buffer, 0), 0);
  EXPECT_EQ(Sent()[0], ReportBytes({0x0E}));
  EXPECT_EQ(log.text(), "");
}

TEST_F(RegisterOpsTest, WriteReportFailureGivesTheErrorCode) {
  hid.FailNthCall(HidCall::kSetOutputReport, 1, 87);
  const auto restart = MakeModeCommand(reg::kCmdRestart);
  EXPECT_EQ(connection.WriteReport(restart.data(), kModeCommandBytes), -2);
  EXPECT_EQ(log.text(), "error     : write failed!! error:0x57\n");
}

TEST_F(RegisterOpsTest, ModeAndLoadFlashCommandsAreExact) {
  struct Case {
    uint8_t command;
    std::vector<uint8_t> report;
  };
  for (const Case& c : {Case{reg::kCmdSwitchToPatch, {0x0E, 0x10, 0x00, 0x00, 0x01, 0x01}},
                        Case{reg::kCmdStartUpdate, {0x0E, 0x11, 0x00, 0x00, 0x01, 0x01}},
                        Case{reg::kCmdRestart, {0x0E, 0x13, 0x00, 0x00, 0x01, 0x01}}}) {
    hid.events.clear();
    const auto command = MakeModeCommand(c.command);
    EXPECT_EQ(connection.WriteReport(command.data(), kModeCommandBytes), kModeCommandBytes);
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0], ReportBytes(c.report));
  }
  hid.events.clear();
  const auto load = MakeLoadFlashCommand(0x1000, 0x0123, 0xBEEF);
  EXPECT_EQ(connection.WriteReport(load.data(), kLoadFlashCommandBytes), kLoadFlashCommandBytes);
  EXPECT_EQ(Sent()[0], ReportBytes({0x0E, 0x12, 0x00, 0x00, 0x06, 0x10, 0x00, 0x01, 0x23, 0xBE, 0xEF}));
}

// ------------------------------------------------------ SetBasicProperties

const std::vector<uint8_t> kVersionBlock = {'A', 'B', 'C', 'D', 0x01, 0x02, 0x03, 0x04, 0x99, 0x98, 0x35, 0x97};

TEST_F(RegisterOpsTest, VersionBlockFillsPidVidAndSensorId) {
  hid.QueueReplyData(kVersionBlock);
  EXPECT_EQ(connection.SetBasicProperties(), 0);
  EXPECT_STREQ(connection.pid, "ABCD");
  EXPECT_EQ(std::vector<uint8_t>(connection.vid, connection.vid + 5), (std::vector<uint8_t>{1, 2, 3, 4, 0}));
  EXPECT_EQ(connection.sensorId, 5);
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent()[0], ReportBytes({0x0E, 0x20, 0x00, 0x00, 0x05, 0x01, 0x82, 0x40, 0x00, 0x0C}));
  EXPECT_EQ(log.text(), "");
}

TEST_F(RegisterOpsTest, VersionReadIsTriedFiveTimesWithTheCountsLeft) {
  std::strcpy(connection.pid, "WXYZ");
  connection.vid[0] = 0x77;
  connection.sensorId = 9;
  hid.FailCallsFrom(HidCall::kGetInputReport, 1, 0x1F);

  EXPECT_EQ(connection.SetBasicProperties(), -1);

  std::string expected;
  for (int retry = 5; retry >= 1; --retry) {
    expected += "error     : Read FAILED, because of HidD_GetInputReport fail:0x1f \n";
    expected += "error     : Failed read VERSION, retry=" + std::to_string(retry) + "\n";
  }
  EXPECT_EQ(log.text(), expected);
  EXPECT_EQ(Sent().size(), 5u);
  EXPECT_EQ(hid.CallCount(HidCall::kGetInputReport), 5);
  EXPECT_STREQ(connection.pid, "WXYZ");
  EXPECT_EQ(connection.vid[0], 0x77);
  EXPECT_EQ(connection.sensorId, 2);
  EXPECT_TRUE(clock.sleeps.empty()) << "the VERSION attempts follow each other without a pause";
}

TEST_F(RegisterOpsTest, VersionReadSucceedsAfterFailuresOfEveryKind) {
  hid.FailNthCall(HidCall::kSetOutputReport, 1);
  hid.QueueReplyAnnouncing(13, kVersionBlock);
  hid.QueueReplyData(kVersionBlock);
  logMask = 2;  // the failure lines are error lines

  EXPECT_EQ(connection.SetBasicProperties(), 0);
  EXPECT_EQ(log.text(), "");
  EXPECT_EQ(connection.sensorId, 5);
  EXPECT_EQ(Sent().size(), 2u);
}

TEST(SetBasicPropertiesTest, RefusesAConnectionThatIsNotOpen) {
  FakeHid hid{{testing::MatchingInterface(L"p")}};
  testing::LogCapture log{3};
  CConnectionTLC connection;
  EXPECT_EQ(connection.sensorId, 0x10);
  EXPECT_EQ(connection.SetBasicProperties(), -1);
  EXPECT_EQ(connection.sensorId, 2);
  EXPECT_EQ(log.text(), "error     : SetBasicProperties failed, please open device first\n");
  EXPECT_TRUE(hid.events.empty());
}

}  // namespace
}  // namespace tessaro
