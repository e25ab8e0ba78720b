// The cases of the HID contract; see hid_contract.h for running them
// against a backend.
#include "tests/transport/hid_contract.h"

#include <cstring>

#include "tests/support/fake_hid.h"
#include "transport/connection.h"
#include "transport/registers.h"

namespace tessaro::testing {
namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::string Out(std::initializer_list<uint8_t> bytes) { return "out " + Hex(ReportBytes(bytes)); }

std::string OutFailed(std::initializer_list<uint8_t> bytes) { return "out-failed " + Hex(ReportBytes(bytes)); }

std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& line : lines) {
    if (StartsWith(line, prefix)) out.push_back(line);
  }
  return out;
}

// Checks a reply line: report ID, announced length, then the data.
void ExpectReply(const std::string& line, const std::vector<uint8_t>& data) {
  ASSERT_TRUE(StartsWith(line, "in ")) << line;
  const std::string hex = line.substr(3);
  ASSERT_EQ(hex.size(), 130u) << line;
  EXPECT_EQ(hex.substr(0, 2), "0e");
  const uint16_t announced = static_cast<uint16_t>(data.size());
  EXPECT_EQ(hex.substr(6, 4), Hex({static_cast<uint8_t>(announced >> 8), static_cast<uint8_t>(announced)}));
  EXPECT_EQ(hex.substr(10, data.size() * 2), Hex(data));
}

std::string PathOf(const std::string& line) {
  const size_t blank = line.find(' ');
  return blank == std::string::npos ? "" : line.substr(blank + 1);
}

// Each interface opened and not kept is closed before anything else happens.
void ExpectEveryOpenClosedAtOnce(const std::vector<std::string>& trace) {
  for (size_t i = 0; i < trace.size(); ++i) {
    if (!StartsWith(trace[i], "open ")) continue;
    ASSERT_LT(i + 1, trace.size()) << trace[i] << " never closed";
    EXPECT_EQ(trace[i + 1], "close " + PathOf(trace[i]));
  }
}

std::string OpeningFailures(int attempts) {
  std::string text;
  for (int i = 0; i < attempts; ++i) text += "error     : find device failed\r\nerror     : open TLC failed\n";
  return text;
}

std::vector<uint8_t> VersionBlock(const ContractDevice& device) {
  std::vector<uint8_t> block(device.pid.begin(), device.pid.end());
  block.insert(block.end(), device.vid.begin(), device.vid.end());
  block.insert(block.end(), {0x00, 0x00, device.sensorByte, 0x00});
  return block;
}

}  // namespace

void HidContractTest::SetUp() {
  harness = GetParam().make();
  const std::string reason = harness->SkipReason();
  if (!reason.empty()) GTEST_SKIP() << reason;
}

void HidContractTest::TearDown() {
  if (harness == nullptr) return;
  for (const auto& line : harness->Trace()) EXPECT_FALSE(StartsWith(line, "violation")) << line;
  harness.reset();
}

void HidContractTest::Start(const ContractDevice& device) { harness->Setup(device); }

TEST_P(HidContractTest, OpensTheControllerAndReadsItsVersion) {
  const ContractDevice device;
  Start(device);
  CConnectionTLC connection;
  ASSERT_TRUE(OpenForJob(connection));
  ASSERT_EQ(connection.SetBasicProperties(), 0);
  connection.Close();

  EXPECT_STREQ(connection.pid, device.pid.c_str());
  EXPECT_EQ(0, std::memcmp(connection.vid, device.vid.data(), 4));
  EXPECT_EQ(connection.vid[4], 0);
  EXPECT_EQ(connection.sensorId, device.sensorByte & 0x0F);

  const auto trace = harness->Trace();
  ASSERT_EQ(trace.size(), 5u);
  EXPECT_EQ(trace[0], "walk");
  ASSERT_TRUE(StartsWith(trace[1], "open "));
  const std::string path = PathOf(trace[1]);
  EXPECT_EQ(trace[2], Out({0x0E, 0x20, 0x00, 0x00, 0x05, 0x01, 0x82, 0x40, 0x00, 0x0C}));
  ExpectReply(trace[3], VersionBlock(device));
  EXPECT_EQ(trace[4], "close " + path);
  EXPECT_EQ(log.text(),
            "dbg info  : Find the target device success,path of device is " + path +
                "\ndbg info  : open TLC success\n");
  EXPECT_EQ(harness->SleptMs(), 0u);
}

TEST_P(HidContractTest, ReadsTheConfigurationHeadAndZerosElsewhere) {
  const ContractDevice device;
  Start(device);
  CConnectionTLC connection;
  ASSERT_TRUE(OpenForJob(connection));
  uint8_t head[3] = {};
  ASSERT_EQ(connection.ReadRegister(reg::kConfigAddr, head, 3), 3);
  EXPECT_EQ(std::vector<uint8_t>(head, head + 3),
            std::vector<uint8_t>(device.config.begin(), device.config.begin() + 3));
  uint8_t debug[16];
  std::memset(debug, 0xEE, sizeof debug);
  ASSERT_EQ(connection.ReadRegister(reg::kFlashDebugAddr, debug, 16), 16);
  EXPECT_EQ(std::vector<uint8_t>(debug, debug + 16), std::vector<uint8_t>(16, 0));
}

TEST_P(HidContractTest, NonMatchingCollectionsAreOpenedExaminedAndClosed) {
  ContractDevice device;
  device.otherCollections = 2;
  Start(device);
  CConnectionTLC connection;
  ASSERT_TRUE(connection.Open());

  const auto trace = harness->Trace();
  ASSERT_EQ(trace.size(), 6u);
  EXPECT_EQ(trace[0], "walk");
  ExpectEveryOpenClosedAtOnce(std::vector<std::string>(trace.begin(), trace.end() - 1));
  const std::string kept = PathOf(trace[5]);
  EXPECT_NE(PathOf(trace[1]), PathOf(trace[3]));
  EXPECT_NE(PathOf(trace[3]), kept);
  EXPECT_EQ(log.text(), "dbg info  : Find the target device success,path of device is " + kept + "\n");
}

TEST_P(HidContractTest, LowerOfTwoMatchesIsTaken) {
  ContractDevice device;
  device.matchingCollections = 2;
  Start(device);
  CConnectionTLC connection;
  ASSERT_TRUE(connection.Open());
  const auto trace = harness->Trace();
  ASSERT_EQ(trace.size(), 2u) << "the walk went on past the first match";
  EXPECT_EQ(log.text(), "dbg info  : Find the target device success,path of device is " + PathOf(trace[1]) + "\n");
  ASSERT_EQ(connection.SetBasicProperties(), 0);
}

TEST_P(HidContractTest, ForeignVendorIsNotTaken) {
  ContractDevice device;
  device.foreignVendor = true;
  device.otherCollections = 1;
  Start(device);
  CConnectionTLC connection;
  EXPECT_FALSE(OpenForJob(connection));
  const auto trace = harness->Trace();
  EXPECT_EQ(Matching(trace, "walk").size(), 4u);
  EXPECT_EQ(Matching(trace, "open ").size(), 8u);
  ExpectEveryOpenClosedAtOnce(trace);
  EXPECT_TRUE(Matching(trace, "out").empty());
  EXPECT_EQ(log.text(), OpeningFailures(4));
  EXPECT_EQ(harness->SleptMs(), 8000u);
}

TEST_P(HidContractNoControllerTest, AbsentControllerFailsTheOpeningSequence) {
  ContractDevice device;
  device.present = false;
  Start(device);
  logMask = 1;  // the walk's own debug lines depend on what else the host has
  CConnectionTLC connection;
  EXPECT_FALSE(OpenForJob(connection));
  EXPECT_EQ(connection.opened, 0);
  const auto trace = harness->Trace();
  EXPECT_EQ(Matching(trace, "walk").size(), 4u);
  ExpectEveryOpenClosedAtOnce(trace);
  EXPECT_TRUE(Matching(trace, "out").empty());
  EXPECT_TRUE(Matching(trace, "in").empty());
  EXPECT_EQ(log.text(), OpeningFailures(4));
  EXPECT_EQ(harness->SleptMs(), 8000u);
}

TEST_P(HidContractTest, FailedWalksAreRetriedTwoSecondsApart) {
  ContractDevice device;
  device.openFailures = 2;
  Start(device);
  CConnectionTLC connection;
  ASSERT_TRUE(OpenForJob(connection));
  const auto trace = harness->Trace();
  EXPECT_EQ(Matching(trace, "walk").size(), 3u);
  EXPECT_TRUE(StartsWith(log.text(), OpeningFailures(2) + "dbg info  : Find the target device success"));
  EXPECT_EQ(harness->SleptMs(), 4000u);
}

TEST_P(HidContractTest, MissingRepliesAreRetriedByTheVersionRead) {
  ContractDevice device;
  device.readFailures[reg::kVersionAddr] = 2;
  Start(device);
  CConnectionTLC connection;
  ASSERT_TRUE(OpenForJob(connection));
  log.clear();
  ASSERT_EQ(connection.SetBasicProperties(), 0);
  EXPECT_EQ(connection.sensorId, device.sensorByte & 0x0F);

  const auto trace = harness->Trace();
  const std::string request = Out({0x0E, 0x20, 0x00, 0x00, 0x05, 0x01, 0x82, 0x40, 0x00, 0x0C});
  ASSERT_EQ(trace.size(), 8u);
  EXPECT_EQ(std::vector<std::string>(trace.begin() + 2, trace.end() - 1),
            (std::vector<std::string>{request, "in-failed", request, "in-failed", request}));
  ExpectReply(trace.back(), VersionBlock(device));
  EXPECT_NE(log.text().find("error     : Failed read VERSION, retry=5\n"), std::string::npos);
  EXPECT_NE(log.text().find("error     : Failed read VERSION, retry=4\n"), std::string::npos);
  EXPECT_EQ(log.text().find("retry=3"), std::string::npos);
}

TEST_P(HidContractTest, ReplyOfAnotherLengthIsRefusedOnce) {
  ContractDevice device;
  device.lengthMismatch[reg::kConfigAddr] = 1;
  Start(device);
  CConnectionTLC connection;
  ASSERT_TRUE(OpenForJob(connection));
  log.clear();
  uint8_t head[3] = {0xAA, 0xAA, 0xAA};
  EXPECT_EQ(connection.ReadRegister(reg::kConfigAddr, head, 3), -3);
  EXPECT_EQ(log.text(), "error     : valid data len from fw ERROR, readLen:3, fw_data_len:4\n");
  EXPECT_EQ(std::vector<uint8_t>(head, head + 3), std::vector<uint8_t>(3, 0xAA));
  EXPECT_EQ(connection.ReadRegister(reg::kConfigAddr, head, 3), 3);
  EXPECT_EQ(head[0], device.config[0]);
}

TEST_P(HidContractTest, WritesArriveByteExactAndAFailedOneIsReported) {
  ContractDevice device;
  device.writeFailures[reg::kConfigAddr] = 1;
  Start(device);
  CConnectionTLC connection;
  ASSERT_TRUE(OpenForJob(connection));
  log.clear();
  // Writes at 0x8050 outside a configuration download are taken and dropped
  // by the controller: they exercise the frame without changing its state.
  std::vector<uint8_t> data(56);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xA0 + i);
  EXPECT_EQ(connection.WriteRegister(reg::kConfigAddr, data.data(), 3), -2);
  EXPECT_EQ(connection.WriteRegister(reg::kConfigAddr, data.data(), 56), 56);

  std::vector<uint8_t> first(data.begin(), data.begin() + 55);
  const uint8_t header[] = {0x0E, 0x20, 0x01, 0x00, 0x3C, 0x00, 0x80, 0x50, 0x00, 0x37};
  first.insert(first.begin(), std::begin(header), std::end(header));
  const auto trace = harness->Trace();
  ASSERT_EQ(trace.size(), 5u);
  EXPECT_EQ(trace[2], OutFailed({0x0E, 0x20, 0x00, 0x00, 0x08, 0x00, 0x80, 0x50, 0x00, 0x03, 0xA0, 0xA1, 0xA2}));
  EXPECT_EQ(trace[3], "out " + Hex(ReportBytes(first)));
  EXPECT_EQ(trace[4], Out({0x0E, 0x20, 0x00, 0x01, 0x06, 0x00, 0x80, 0x87, 0x00, 0x01, 0xD7}));
  EXPECT_TRUE(StartsWith(log.text(), "error     : write failed!! error:0x"));
  EXPECT_NE(log.text().find("error     : Failed write data to addr=0x8050, len=3,ret = -2\n"), std::string::npos);
}

}  // namespace tessaro::testing
