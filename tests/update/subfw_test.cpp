// Sub-firmware flashing: chunking, the load-flash command and its checksum,
// the confirmation poll, reloads, and the progress bar.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "images/fw_image.h"
#include "tests/support/log_capture.h"
#include "tests/update/controller_double.h"
#include "transport/registers.h"
#include "update/jobs.h"

namespace tessaro::testing {
namespace {

std::vector<uint8_t> Pattern(size_t length, uint8_t seed) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(seed * 31 + i * 7 + i / 251);
  return bytes;
}

// The checksum as the controller checks it, written out the long way.
uint16_t ReferenceChecksum(const std::vector<uint8_t>& chunk, int followingByte) {
  uint32_t sum = 0;
  for (size_t i = 0; i < chunk.size(); i += 2) {
    const uint32_t low = i + 1 < chunk.size() ? chunk[i + 1] : static_cast<uint32_t>(followingByte);
    sum += uint32_t{chunk[i]} << 8 | low;
  }
  return static_cast<uint16_t>(sum);
}

std::string LoadLine(uint32_t length, uint32_t address, uint16_t sum) {
  char line[32];
  std::snprintf(line, sizeof line, "load %04x %04x %04x", length, (address >> 8) & 0xFFFF, sum);
  return line;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t offset, size_t length) {
  return std::vector<uint8_t>(bytes.begin() + offset, bytes.begin() + offset + length);
}

std::string Bar(int cells) { return "[" + std::string(cells, '=') + std::string(50 - cells, ' ') + "]"; }

class SubFwTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(connection.Open()); }
  int32_t Load(uint32_t flashAddress, const std::vector<uint8_t>& image, size_t offset, uint32_t length) {
    return LoadSubFw(connection, flashAddress, image.data() + offset, length, image.data() + image.size());
  }

  ControllerDouble controller;
  CConnectionTLC connection;
};

TEST_F(SubFwTest, SplitsIntoChunksAtConsecutiveAddressesWithProgress) {
  const std::vector<uint8_t> image = Pattern(10000, 1);
  LogCapture log(1);
  EXPECT_EQ(Load(0x12000, image, 0, 10000), 0);

  const std::vector<Transfer> transfers = controller.Transfers();
  ASSERT_EQ(transfers.size(), 3u);
  const size_t lengths[3] = {4096, 4096, 1808};
  size_t offset = 0;
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(transfers[i].address, reg::kChunkBufferAddr);
    const std::vector<uint8_t> chunk(image.begin() + offset, image.begin() + offset + lengths[i]);
    EXPECT_EQ(transfers[i].data, chunk);
    const uint32_t address = 0x12000 + offset;
    const uint16_t sum = ReferenceChecksum(chunk, 0);
    EXPECT_EQ(controller.LoadCommands()[i],
              (std::vector<uint8_t>{0x0E, 0x12, 0x00, 0x00, 0x06, static_cast<uint8_t>(lengths[i] >> 8),
                                    static_cast<uint8_t>(lengths[i]), static_cast<uint8_t>(address >> 16),
                                    static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(sum >> 8),
                                    static_cast<uint8_t>(sum)}));
    offset += lengths[i];
  }
  EXPECT_EQ(log.text(), "info      : " + Bar(20) + " 40/100\r" + "info      : " + Bar(40) + " 81/100\r" +
                            "info      : " + Bar(50) + " 100/100\r" + "info      : \n");
  EXPECT_EQ(controller.Timeline(),
            (std::vector<std::string>{"walk", "open",
                                      "write 9000 [4096]", LoadLine(4096, 0x12000, ReferenceChecksum(Slice(image, 0, 4096), 0)),
                                      "sleep 80", "read 5096 -> aa",
                                      "write 9000 [4096]", LoadLine(4096, 0x13000, ReferenceChecksum(Slice(image, 4096, 4096), 0)),
                                      "sleep 80", "read 5096 -> aa",
                                      "write 9000 [1808]", LoadLine(1808, 0x14000, ReferenceChecksum(Slice(image, 8192, 1808), 0)),
                                      "sleep 80", "read 5096 -> aa"}));
}

TEST_F(SubFwTest, LoadFlashCommandCarriesLengthAddressBitsAndChecksum) {
  // 0x12 0x34 0xFF 0xFF sums to 0x1233 once wrapped to 16 bits.
  const std::vector<uint8_t> image = {0x12, 0x34, 0xFF, 0xFF};
  LogCapture log(1);
  EXPECT_EQ(Load(0xABCD00, image, 0, 4), 0);
  EXPECT_EQ(controller.LoadCommands(),
            (std::vector<std::vector<uint8_t>>{{0x0E, 0x12, 0x00, 0x00, 0x06, 0x00, 0x04, 0xAB, 0xCD, 0x12, 0x33}}));
  EXPECT_EQ(controller.hid.DeliveredOutReports()[1], ReportBytes({0x0E, 0x12, 0x00, 0x00, 0x06, 0x00, 0x04, 0xAB, 0xCD,
                                                                  0x12, 0x33}));
}

TEST_F(SubFwTest, OddLastChunkTakesTheNextImageByteOrZeroAtTheImageEnd) {
  // Sub-firmware of 3 bytes followed by 0x77 in the image, and the same
  // 3 bytes ending the image.
  const std::vector<uint8_t> followed = {0x01, 0x02, 0x03, 0x77};
  LogCapture log(1);
  EXPECT_EQ(Load(0, followed, 0, 3), 0);
  EXPECT_EQ(Load(0, followed, 1, 3), 0);
  const auto commands = controller.LoadCommands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0][9] << 8 | commands[0][10], 0x0102 + 0x0377);
  EXPECT_EQ(commands[1][9] << 8 | commands[1][10], 0x0203 + 0x7700);
}

TEST_F(SubFwTest, ConfirmationOnTheHundredthReadStillCounts) {
  controller.Script(reg::kFlashStateAddr, Replies(0x00, 99));
  LogCapture log(1);
  EXPECT_EQ(Load(0x100, Pattern(2, 0), 0, 2), 0);
  const std::vector<std::string> timeline = Collapse(controller.Timeline());
  EXPECT_EQ(std::vector<std::string>(timeline.begin() + 4, timeline.end()),
            (std::vector<std::string>{"sleep 80", "{read 5096 -> 00 | sleep 2} x99", "read 5096 -> aa"}));
  EXPECT_EQ(log.text(), "info      : " + Bar(50) + " 100/100\rinfo      : \n");
}

TEST_F(SubFwTest, FailedPollReadsCountAsMissesAndShowZero) {
  controller.Script(reg::kFlashStateAddr, {ReplyFails(), Reply({0x55}), ReplyFails()});
  LogCapture log(1);
  EXPECT_EQ(Load(0x100, Pattern(2, 0), 0, 2), 0);
  EXPECT_EQ(log.text(),
            "error     : Read FAILED, because of HidD_GetInputReport fail:0x1f \n"
            "error     : Failed read 0x5096, ret=-2\n"
            "error     : Read FAILED, because of HidD_GetInputReport fail:0x1f \n"
            "error     : Failed read 0x5096, ret=-2\n"
            "info      : " + Bar(50) + " 100/100\rinfo      : \n");
}

TEST_F(SubFwTest, ElevenReloadsThenSuccessAndTheCounterStartsAgainForTheNextChunk) {
  // Both chunks go unconfirmed eleven times: only a counter that starts
  // again at 0 lets the second one through.
  for (int chunk = 0; chunk < 2; ++chunk) {
    controller.Script(reg::kFlashStateAddr, Replies(0x00, 11 * 100));
    controller.Script(reg::kFlashStateAddr, {Reply({0xAA})});
  }
  LogCapture log(3);
  const std::vector<uint8_t> image = Pattern(4096 + 10, 3);
  EXPECT_EQ(Load(0x2000, image, 0, 4096 + 10), 0);
  EXPECT_EQ(controller.LoadCommands().size(), 24u);
  EXPECT_NE(log.text().find("dbg info  : Reload(11) subFW:addr:0x2000\n"), std::string::npos);
  EXPECT_NE(log.text().find("dbg info  : Reload(11) subFW:addr:0x3000\n"), std::string::npos);
  EXPECT_EQ(log.text().find("Reload(12)"), std::string::npos);
  // Every resend carries the same bytes to the same address.
  const std::vector<Transfer> transfers = controller.Transfers();
  ASSERT_EQ(transfers.size(), 24u);
  for (size_t i = 1; i < 12; ++i) EXPECT_EQ(transfers[i].data, transfers[0].data);
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(controller.LoadCommands()[i], controller.LoadCommands()[0]);
}

TEST_F(SubFwTest, TwelfthMissInARowFailsAfterTheDebugDump) {
  controller.Script(reg::kFlashStateAddr, Replies(0x00, 12 * 100));
  controller.registers[reg::kFlashDebugAddr] = Pattern(16, 9);
  LogCapture log(3);
  EXPECT_EQ(Load(0x100, Pattern(8, 0), 0, 8), -1);
  EXPECT_EQ(controller.LoadCommands().size(), 12u);
  std::string dump = "dbg info  : Read back 0x5096(0x0) != 0xAA\n";
  const std::vector<uint8_t> block = Pattern(16, 9);
  for (int i = 0; i < 16; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "dbg info  : 0x%04x: 0x%02x\n", 0xF300 + i, block[i]);
    dump += line;
  }
  const std::string& text = log.text();
  EXPECT_EQ(text.substr(text.size() - dump.size()), dump);
  EXPECT_EQ(text.find("info      : "), std::string::npos);
  // One send's wait: 80 ms, then 100 misses of 2 ms each.
  const std::vector<std::string> timeline = Collapse(controller.Timeline());
  EXPECT_EQ(std::vector<std::string>(timeline.end() - 4, timeline.end()),
            (std::vector<std::string>{LoadLine(8, 0x100, ReferenceChecksum(Pattern(8, 0), 0)), "sleep 80",
                                      "{read 5096 -> 00 | sleep 2} x100", "read f300 -> " + Hex(block)}));
}

TEST_F(SubFwTest, FailuresToSendEndTheCallAtOnce) {
  {
    controller.writeFailures[reg::kChunkBufferAddr] = 1;
    LogCapture log(1);
    EXPECT_EQ(Load(0x12000, Pattern(100, 0), 0, 100), -2);
    EXPECT_EQ(log.text(),
              "error     : write failed!! error:0x1f\n"
              "error     : Failed write data to addr=0x9000, len=55,ret = -2\n"
              "error     : Failed write sub fw,total length:100, flash_addr:0x12000, now write len:100, ret:-2\n");
    EXPECT_TRUE(controller.LoadCommands().empty());
  }
  {
    controller.commandFailures[reg::kCmdLoadFlash] = 1;
    LogCapture log(1);
    EXPECT_EQ(Load(0x100, Pattern(100, 0), 0, 100), -2);
    EXPECT_EQ(log.text(),
              "error     : write failed!! error:0x1f\n"
              "error     : Failed write load flash command, ret =-2\n");
    EXPECT_EQ(controller.Timeline().back(), "FAIL " + LoadLine(100, 0x100, ReferenceChecksum(Pattern(100, 0), 0)));
  }
}

TEST_F(SubFwTest, EmptySubFirmwareSendsNothing) {
  LogCapture log(3);
  const std::vector<uint8_t> image = {1};
  EXPECT_EQ(Load(0x100, image, 0, 0), 0);
  EXPECT_EQ(log.text(), "info      : \n");
  EXPECT_EQ(controller.Timeline(), (std::vector<std::string>{"walk", "open"}));
}

}  // namespace
}  // namespace tessaro::testing
