// The controller's protocol checks: each offence gives its violation line
// and nothing else, and what the protocol allows gives none.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "tests/sim/sim_harness.h"
#include "transport/registers.h"
#include "transport/report.h"

namespace tessaro::testing {
namespace {

std::vector<uint8_t> Bytes(size_t count, uint8_t first = 0) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

// A register-write report as WriteRegister frames it, with the fields given.
std::vector<uint8_t> Chunk(uint8_t flag, uint8_t number, uint16_t address, size_t length) {
  std::vector<uint8_t> report = {0x0E, 0x20, flag, number, static_cast<uint8_t>(length + 5), 0x00,
                                 static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), 0x00,
                                 static_cast<uint8_t>(length)};
  const auto data = Bytes(length, 0x40);
  report.insert(report.end(), data.begin(), data.end());
  return report;
}

void Command(SimRun& run, uint8_t command) { run.Send({0x0E, command, 0x00, 0x00, 0x01, 0x01}); }

void LoadFlash(SimRun& run, uint16_t length, uint16_t checksum) {
  run.Send({0x0E, 0x12, 0x00, 0x00, 0x06, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), 0x00, 0x01,
            static_cast<uint8_t>(checksum >> 8), static_cast<uint8_t>(checksum)});
}

struct ProtocolCase {
  const char* name;
  std::function<void(SimRun&)> act;
  std::vector<std::string> violations;
};

// Test names show the case, not its bytes.
void PrintTo(const ProtocolCase& c, std::ostream* out) { *out << c.name; }

class ProtocolTest : public ::testing::TestWithParam<ProtocolCase> {};

TEST_P(ProtocolTest, GivesItsViolationLines) {
  SimFolder folder;
  {
    SimRun run;
    GetParam().act(run);
  }
  std::vector<std::string> expected;
  for (const auto& text : GetParam().violations) expected.push_back("violation " + text);
  EXPECT_EQ(folder.Trace("violation"), expected);
}

const ProtocolCase kCases[] = {
    // The report frame.
    {"OtherReportId", [](SimRun& run) { run.Send({0x05, 0x10, 0x00, 0x00, 0x01, 0x01}); },
     {"report ID 0x05, expected 0x0E"}},
    {"UnknownCommand", [](SimRun& run) { run.Send({0x0E, 0x33}); }, {"unknown command 0x33"}},
    {"ModeCommandFrame", [](SimRun& run) { run.Send({0x0E, 0x10, 0x00, 0x00, 0x02, 0x01}); },
     {"command 0x10 malformed: bytes 2 to 5 are 00000201, expected 00000101"}},
    {"LoadFlashFrame",
     [](SimRun& run) {
       run.EnterUpdateProgram();
       run.Send({0x0E, 0x12, 0x00, 0x00, 0x07});
     },
     {"command 0x12 malformed: bytes 2 to 4 are 000007, expected 000006"}},
    {"ReadFrame", [](SimRun& run) { run.Send({0x0E, 0x20, 0x00, 0x01, 0x05, 0x01, 0x82, 0x40, 0x00, 0x0C}); },
     {"read request at 0x8240 malformed: bytes 2 to 4 are 000105, expected 000005"}},
    {"ReadOfNothing", [](SimRun& run) { run.Send({0x0E, 0x20, 0x00, 0x00, 0x05, 0x01, 0x82, 0x40, 0x00, 0x00}); },
     {"read of 0 bytes at 0x8240, expected 1 to 60"}},
    {"ReadPastAReply", [](SimRun& run) { run.Send({0x0E, 0x20, 0x00, 0x00, 0x05, 0x01, 0x82, 0x40, 0x00, 0x3D}); },
     {"read of 61 bytes at 0x8240, expected 1 to 60"}},
    {"Direction", [](SimRun& run) { run.Send({0x0E, 0x20, 0x00, 0x00, 0x05, 0x02, 0x82, 0x40, 0x00, 0x01}); },
     {"register access with direction 0x02"}},
    {"FetchWithoutRequest",
     [](SimRun& run) {
       Report reply = {0x0E};
       EXPECT_TRUE(TheHid().GetInputReport(run.connection.deviceHandle, reply));
     },
     {"input report fetched without a read request"}},
    {"UnanswerableReadDropsTheEarlierReply",
     [](SimRun& run) {
       run.Send({0x0E, 0x20, 0x00, 0x00, 0x05, 0x01, 0x82, 0x40, 0x00, 0x0C});
       run.Send({0x0E, 0x20, 0x00, 0x00, 0x05, 0x01, 0x82, 0x40, 0x00, 0x00});
       Report reply = {0x0E};
       EXPECT_TRUE(TheHid().GetInputReport(run.connection.deviceHandle, reply));
       EXPECT_EQ(reply[4], 0) << "no data announced";
     },
     {"read of 0 bytes at 0x8240, expected 1 to 60", "input report fetched without a read request"}},
    {"FetchOfOtherReportId",
     [](SimRun& run) {
       Report reply = {0x05};
       EXPECT_FALSE(TheHid().GetInputReport(run.connection.deviceHandle, reply));
     },
     {"input report asked for with report ID 0x05, expected 0x0E"}},

    // One register write over several reports.
    {"CountByte", [](SimRun& run) { run.Send({0x0E, 0x20, 0x00, 0x00, 0x09, 0x00, 0x80, 0x40, 0x00, 0x03}); },
     {"write at 0x8040: count byte 9, expected 8 (data length + 5)"}},
    {"DataLongerThanAReport", [](SimRun& run) { run.Send({0x0E, 0x20, 0x00, 0x00, 0x3D, 0x00, 0x90, 0x00, 0x00, 0x38}); },
     {"write at 0x9000: data length 56, at most 55 fit a report"}},
    {"MoreFollowsFlag", [](SimRun& run) { run.Send(Chunk(0x02, 0, 0x1000, 3)); },
     {"write at 0x1000: more-follows flag 0x02"}},
    {"FirstChunkNotZero", [](SimRun& run) { run.Send(Chunk(0, 1, 0x1000, 3)); },
     {"write at 0x1000: chunk number 1, expected 0"}},
    {"ChunkSkipped",
     [](SimRun& run) {
       run.Send(Chunk(1, 0, 0x1000, 55));
       run.Send(Chunk(1, 2, 0x1037, 55));
       run.Send(Chunk(0, 3, 0x106E, 1));  // the rest of the broken write: ignored
     },
     {"write at 0x1037: chunk number 2, expected 1"}},
    {"AddressGap",
     [](SimRun& run) {
       run.Send(Chunk(1, 0, 0x1000, 55));
       run.Send(Chunk(0, 1, 0x1038, 1));
     },
     {"write chunk 1 at 0x1038, expected 0x1037"}},
    {"BrokenOffByARead",
     [](SimRun& run) {
       run.Send(Chunk(1, 0, 0x1000, 55));
       run.Send(Chunk(1, 1, 0x1037, 55));
       EXPECT_EQ(run.ReadByte(reg::kConfigAddr), 0x84);
     },
     {"write transfer at 0x1000 broken off after chunk 1"}},
    {"BrokenOffByANewWrite",
     [](SimRun& run) {
       run.Send(Chunk(1, 0, 0x1000, 55));
       run.Send(Chunk(0, 0, 0x2000, 3));
     },
     {"write transfer at 0x1000 broken off after chunk 0"}},
    {"ChunkNumbersWrapAt8Bits", [](SimRun& run) { EXPECT_EQ(run.Write(0x0100, Bytes(300 * 55)), 300 * 55); }, {}},
    {"ThreeSizesOfWrite",
     [](SimRun& run) {
       for (size_t n : {size_t{3}, size_t{55}, size_t{56}, size_t{4096}}) run.Write(0x1000, Bytes(n));
     },
     {}},

    // Modes and the chunk buffer.
    {"ChunkBufferInNormalMode", [](SimRun& run) { run.Write(reg::kChunkBufferAddr, Bytes(4096)); },
     {"write to 0x9000 outside the update program"}},
    {"ChunkBufferInPatchMode",
     [](SimRun& run) {
       Command(run, reg::kCmdSwitchToPatch);
       run.Write(reg::kChunkBufferAddr, Bytes(8));
     },
     {"write to 0x9000 outside the update program"}},
    {"PastTheChunkBuffer",
     [](SimRun& run) {
       run.EnterUpdateProgram();
       run.Write(0x9FF0, Bytes(32));
     },
     {"write at 0x9FF0 runs past the chunk buffer"}},
    {"StartUpdateOutsidePatchMode", [](SimRun& run) { Command(run, reg::kCmdStartUpdate); },
     {"start update (0x11) outside patch mode"}},
    {"LoadFlashOutsideTheUpdateProgram", [](SimRun& run) { LoadFlash(run, 0, 0); },
     {"load flash (0x12) outside the update program"}},
    {"RestartOutsideTheUpdateProgram",
     [](SimRun& run) {
       Command(run, reg::kCmdSwitchToPatch);
       Command(run, reg::kCmdRestart);
     },
     {"restart (0x13) outside the update program"}},
    {"PatchAgainFromTheUpdateProgram",
     [](SimRun& run) {
       run.EnterUpdateProgram();
       run.EnterUpdateProgram();
       run.LoadChunk(0, Bytes(4096));
       Command(run, reg::kCmdRestart);
     },
     {}},
    {"LoadFlashOfAnotherLength",
     [](SimRun& run) {
       run.EnterUpdateProgram();
       run.Write(reg::kChunkBufferAddr, Bytes(10));
       LoadFlash(run, 12, Checksum(Bytes(10)));
     },
     {"load flash of 12 bytes, the chunk buffer holds 10"}},
    {"LoadFlashChecksum",
     [](SimRun& run) {
       run.EnterUpdateProgram();
       run.Write(reg::kChunkBufferAddr, {0x12, 0x34, 0xFF, 0xFF});
       LoadFlash(run, 4, 0x1234);
       EXPECT_EQ(run.ReadByte(reg::kFlashStateAddr), 0x00);
     },
     {"load flash checksum 0x1234, the chunk sums to 0x1233"}},
    {"OddChunkTakesAnyLastLowByte",
     [](SimRun& run) {
       run.EnterUpdateProgram();
       for (uint16_t checksum : {0x6834, 0x6933}) {
         run.Write(reg::kChunkBufferAddr, {0x12, 0x34, 0x56});
         LoadFlash(run, 3, checksum);
         EXPECT_EQ(run.ReadByte(reg::kFlashStateAddr), 0xAA) << checksum;
       }
       run.Write(reg::kChunkBufferAddr, {0x12, 0x34, 0x56});
       LoadFlash(run, 3, 0x6934);
     },
     {"load flash checksum 0x6934, the chunk sums to 0x6834 plus its last low byte"}},
    {"LoadFlashEmptiesTheBuffer",
     [](SimRun& run) {
       run.EnterUpdateProgram();
       run.LoadChunk(0, Bytes(4));
       LoadFlash(run, 4, Checksum(Bytes(4)));
     },
     {"load flash of 4 bytes, the chunk buffer holds 0"}},
    {"ModeChangeEmptiesTheBuffer",
     [](SimRun& run) {
       run.EnterUpdateProgram();
       run.Write(reg::kChunkBufferAddr, Bytes(4));
       run.EnterUpdateProgram();
       LoadFlash(run, 4, Checksum(Bytes(4)));
     },
     {"load flash of 4 bytes, the chunk buffer holds 0"}},

    // The configuration handshake.
    {"UnknownHandshake", [](SimRun& run) { run.Write(reg::kConfigCtrlAddr, {0x80, 0x00}); },
     {"unknown handshake at 0x8040: 8000"}},
    {"FinishWithoutADownload", [](SimRun& run) { run.Write(reg::kConfigCtrlAddr, {0x83}); },
     {"finish command 0x83 without an open download"}},
    {"PastTheConfiguration",
     [](SimRun& run) {
       run.Write(reg::kConfigCtrlAddr, {0x80, 0x00, 0x80});
       run.Write(0x8FF0, Bytes(20));
     },
     {"write at 0x8FF0 runs past the configuration"}},
    {"ConfigurationBytesOutsideADownloadAreDropped",
     [](SimRun& run) {
       run.Write(reg::kConfigAddr, Bytes(10, 0x50));
       EXPECT_EQ(run.ReadByte(reg::kConfigAddr), 0x84);
     },
     {}},
};

INSTANTIATE_TEST_SUITE_P(Sim, ProtocolTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ProtocolCase>& info) { return std::string(info.param.name); });

// A violation comes right after the report that caused it, and the report is
// delivered all the same.
TEST(ProtocolTraceTest, ViolationFollowsItsReport) {
  SimFolder folder;
  {
    SimRun run;
    Command(run, reg::kCmdStartUpdate);
  }
  const auto trace = folder.Trace();
  ASSERT_GE(trace.size(), 3u);
  EXPECT_EQ(trace[trace.size() - 3], "out 0e1100000101" + std::string(118, '0'));
  EXPECT_EQ(trace[trace.size() - 2], "violation start update (0x11) outside patch mode");
}

}  // namespace
}  // namespace tessaro::testing
