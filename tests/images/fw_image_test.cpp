#include "images/fw_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/system.h"
#include "tests/support/log_capture.h"
#include "tests/support/memory_files.h"
#include "tests/support/temp_dir.h"
#include "tools/image_builder.h"

namespace tessaro {
namespace {

using testing::BuildFwImage;
using testing::FwImageSpec;
using testing::LogCapture;
using testing::MakeSubFirmware;
using testing::MemoryFileSystem;

std::string Bytes(const FwImage& image) {
  return std::string(reinterpret_cast<const char*>(image.data.get()), image.length);
}

void ExpectEmpty(const FwImage& image) {
  EXPECT_EQ(image.valid, 0);
  EXPECT_EQ(image.data, nullptr);
  EXPECT_EQ(image.length, 0u);
  EXPECT_EQ(image.SubCount(), 0);
}

FwImageSpec TypicalSpec() {
  FwImageSpec spec;
  spec.subs = testing::NeededSubFirmwares();
  spec.subs.push_back(MakeSubFirmware(14, 301, 0x0800, 9));
  return spec;
}

// Contents that every file system delivers the same way: each row is run from
// a file in memory and from a file on disk.
struct ContentCase {
  const char* name;
  std::string bytes;
  int32_t result;
  std::string log;  // exact text with logMask 1; "{N}" stands for the file name
};

std::string WithName(std::string text, const std::string& name) {
  const size_t at = text.find("{N}");
  if (at != std::string::npos) text.replace(at, 3, name);
  return text;
}

std::vector<ContentCase> ContentCases() {
  std::vector<ContentCase> cases;
  cases.push_back({"valid", BuildFwImage(TypicalSpec()), 1, ""});
  cases.push_back({"valid, only the header area", BuildFwImage(FwImageSpec{}), 1, ""});

  {
    FwImageSpec spec = TypicalSpec();
    spec.checksum = 0x1234;
    const std::string good = BuildFwImage(TypicalSpec());
    char expected[80];
    std::snprintf(expected, sizeof expected, "error     : Check_sum err  0x%x != 0x1234\n", testing::FwChecksum(good));
    cases.push_back({"checksum wrong", BuildFwImage(spec), -4, expected});
    spec.payloadLength = 7;
    cases.push_back({"checksum and length wrong: checksum first", BuildFwImage(spec), -4, expected});
  }
  {
    FwImageSpec spec;
    spec.trailer = std::string(44, '\x11');  // 300 bytes in all
    spec.payloadLength = 295;
    cases.push_back({"length field one short", BuildFwImage(spec), -5,
                     "error     : Check file len failed 301 != 300\n"});
    spec.payloadLength = 0xFFFFFFFFu;  // + 6 wraps to 5 in 32 bits
    cases.push_back({"length field wraps", BuildFwImage(spec), -5, "error     : Check file len failed 5 != 300\n"});
  }
  // Too short to hold the header and table area: refused before any field
  // is read, whatever the fields would say.
  cases.push_back({"empty file", "", kFwErrTooShort,
                   "error     : fw file too short, fw_name:{N}, fw_bin_len:0, at least:256\n"});
  cases.push_back({"six bytes, fields that would pass", std::string("\0\0\0\0\0\0", 6), kFwErrTooShort,
                   "error     : fw file too short, fw_name:{N}, fw_bin_len:6, at least:256\n"});
  {
    std::string almost = BuildFwImage(FwImageSpec{});
    almost.pop_back();
    testing::SealFwImage(almost);
    cases.push_back({"255 bytes, sealed", almost, kFwErrTooShort,
                     "error     : fw file too short, fw_name:{N}, fw_bin_len:255, at least:256\n"});
  }
  // The sub-firmware table, after checksum and length.
  {
    FwImageSpec spec;
    spec.count = 29;
    cases.push_back({"count 29", BuildFwImage(spec), kFwErrTable,
                     "error     : sub fw table invalid, sub fw num:29, at most:28\n"});
    spec.count = 255;
    cases.push_back({"count 255", BuildFwImage(spec), kFwErrTable,
                     "error     : sub fw table invalid, sub fw num:255, at most:28\n"});
    char expected[80];
    std::snprintf(expected, sizeof expected, "error     : Check_sum err  0x%x != 0x0\n",
                  testing::FwChecksum(BuildFwImage(spec)));
    spec.checksum = 0;
    cases.push_back({"count 255 and checksum wrong: checksum first", BuildFwImage(spec), -4, expected});
  }
  {
    FwImageSpec spec;
    spec.subs.assign(28, MakeSubFirmware(2, 3, 0, 1));
    cases.push_back({"28 entries fill the table", BuildFwImage(spec), 1, ""});
  }
  {
    FwImageSpec spec = TypicalSpec();
    spec.subs[2].tableLength = static_cast<uint32_t>(spec.subs[2].data.size() + 302);
    cases.push_back({"last entry one byte past the end", BuildFwImage(spec), kFwErrTable,
                     "error     : sub fw data past end of file, sub_fw_num:2, offset:14352, len:4399, "
                     "fw_bin_len:18750\n"});
    spec.subs[2].tableLength = static_cast<uint32_t>(spec.subs[2].data.size() + 301);
    spec.subs[3].tableLength = 0;
    cases.push_back({"an entry's data ends the file exactly", BuildFwImage(spec), 1, ""});
  }
  {
    // 0xFFFFFF00 + 0x101 wraps to 1 in 32 bits; the file holds that one byte.
    FwImageSpec spec;
    spec.subs = {MakeSubFirmware(2, 0, 0, 1), MakeSubFirmware(6, 1, 0, 2)};
    spec.subs[0].tableLength = 0xFFFFFF00u;
    spec.subs[1].tableLength = 0x101u;
    cases.push_back({"entry lengths that wrap in 32 bits", BuildFwImage(spec), kFwErrTable,
                     "error     : sub fw data past end of file, sub_fw_num:0, offset:256, len:4294967040, "
                     "fw_bin_len:257\n"});
  }
  {
    // Entries past the count are not part of the table.
    FwImageSpec spec = TypicalSpec();
    spec.count = 2;
    spec.subs[3].tableLength = 0xFFFFFFFFu;
    cases.push_back({"garbage past the count is ignored", BuildFwImage(spec), 1, ""});
  }
  return cases;
}

void CheckLoad(FwImage& image, const ContentCase& row, const std::string& name, const LogCapture& log) {
  EXPECT_EQ(image.LoadFwFile(name.c_str()), row.result);
  EXPECT_EQ(log.text(), WithName(row.log, name));
  if (row.result == 1) {
    EXPECT_EQ(image.valid, 1);
    EXPECT_EQ(image.length, row.bytes.size());
    EXPECT_EQ(Bytes(image), row.bytes);
  } else {
    ExpectEmpty(image);
  }
}

TEST(FwImageLoad, EveryContentRowFromMemory) {
  for (const ContentCase& row : ContentCases()) {
    SCOPED_TRACE(row.name);
    MemoryFileSystem files;
    files.files["fw.bin"] = row.bytes;
    LogCapture log(1);
    FwImage image;
    CheckLoad(image, row, "fw.bin", log);
    EXPECT_EQ(files.openHandles, 0) << "the file stays open";
    EXPECT_EQ(files.requested.front(), row.bytes.size()) << "one request for the whole file";
  }
}

TEST(FwImageLoad, EveryContentRowFromDisk) {
  testing::TempDir dir;
  SystemBackends system;
  for (const ContentCase& row : ContentCases()) {
    SCOPED_TRACE(row.name);
    const std::string path = dir.File("fw.bin");
    testing::WriteFileBytes(path, row.bytes);
    LogCapture log(1);
    FwImage image;
    CheckLoad(image, row, path, log);
  }
}

TEST(FwImageLoad, FailuresBeforeTheContent) {
  testing::TempDir dir;
  SystemBackends system;
  const std::string missing = dir.File("missing.bin");
  struct Case {
    const char* name;
    std::string path;
  } cases[] = {{"missing file", missing}, {"empty name", ""}, {"a folder", dir.path()}};
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    LogCapture log(1);
    FwImage image;
    EXPECT_EQ(image.LoadFwFile(row.path.c_str()), -1);
    EXPECT_EQ(log.text(), "error     : open fw file FAILED, fw_name:" + row.path + "\n");
    ExpectEmpty(image);
  }
}

TEST(FwImageLoad, ReadFaults) {
  const std::string good = BuildFwImage(TypicalSpec());  // 18750 bytes
  struct Case {
    const char* name;
    uint32_t failReadNumber;
    std::optional<uint32_t> readLimit;
    std::optional<uint32_t> reportedSize;
    int32_t result;
    std::string log;
  } cases[] = {
      {"read fails", 1, {}, {}, -2, "error     : ReadFile FAILED,error:5\n"},
      {"read ends early", 0, 1000, {}, -3, "error     : ReadFile fail, fw_bin_len:18750, read length:1000\n"},
      {"size larger than the file", 0, {}, 20000, -3,
       "error     : ReadFile fail, fw_bin_len:20000, read length:18750\n"},
      // The low 32 bits of a file of 4 GiB + 300 bytes: the first 300 bytes
      // must not pass as the file.
      {"more bytes than the size says", 0, {}, 300, -3, "error     : ReadFile fail, fw_bin_len:300, read length:301\n"},
      {"the read after the whole file fails", 2, {}, {}, -2, "error     : ReadFile FAILED,error:5\n"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    MemoryFileSystem files;
    files.files["fw.bin"] = good;
    files.failReadNumber = row.failReadNumber;
    files.readLimit = row.readLimit;
    files.reportedSize = row.reportedSize;
    LogCapture log(1);
    FwImage image;
    EXPECT_EQ(image.LoadFwFile("fw.bin"), row.result);
    EXPECT_EQ(log.text(), row.log);
    ExpectEmpty(image);
    EXPECT_EQ(files.openHandles, 0);
  }
}

TEST(FwImageLoad, NullNameLeavesTheRecordAsItWas) {
  MemoryFileSystem files;
  files.files["fw.bin"] = BuildFwImage(TypicalSpec());
  FwImage image;
  ASSERT_EQ(image.LoadFwFile("fw.bin"), 1);
  LogCapture log(1);
  EXPECT_EQ(image.LoadFwFile(nullptr), -1);
  EXPECT_EQ(log.text(), "error     : fw name is NULL!!!\n");
  EXPECT_EQ(image.valid, 1);
  EXPECT_EQ(Bytes(image), files.files["fw.bin"]);
  EXPECT_EQ(files.opens, 1);
}

TEST(FwImageLoad, AFailedReloadDropsTheImageHeldBefore) {
  MemoryFileSystem files;
  files.files["good.bin"] = BuildFwImage(TypicalSpec());
  FwImageSpec bad = TypicalSpec();
  bad.checksum = 0;
  files.files["bad.bin"] = BuildFwImage(bad);
  FwImage image;
  ASSERT_EQ(image.LoadFwFile("good.bin"), 1);
  EXPECT_EQ(image.LoadFwFile("bad.bin"), -4);
  ExpectEmpty(image);
  EXPECT_EQ(std::string(image.pid), "");
}

TEST(FwImageLoad, PidSkipsZeroBytesWherever) {
  struct Case {
    std::string field;
    const char* pid;
  } cases[] = {
      {std::string("ABCD\0\0\0\0", 8), "ABCD"}, {std::string("\0\0\0\0ABCD", 8), "ABCD"},
      {std::string("AB\0\0CD\0\0", 8), "ABCD"}, {"ABCDEFGH", "ABCDEFGH"},
      {std::string(8, '\0'), ""},               {std::string("\0" "9\0" "1\0" "1\0" "7", 8), "9117"},
  };
  MemoryFileSystem files;
  for (const Case& row : cases) {
    SCOPED_TRACE(row.pid);
    FwImageSpec spec;
    spec.pidField = row.field;
    files.files["fw.bin"] = BuildFwImage(spec);
    FwImage image;
    ASSERT_EQ(image.LoadFwFile("fw.bin"), 1);
    EXPECT_STREQ(image.pid, row.pid);
    EXPECT_EQ(image.pid[8], '\0');
  }
}

TEST(FwImageLoad, VidTakenUnchangedAndShownInDebug) {
  MemoryFileSystem files;
  FwImageSpec spec;
  spec.vid = {0x00, 0xAB, 0x0F, 0x00};
  files.files["fw.bin"] = BuildFwImage(spec);
  FwImage image;
  {
    LogCapture log(3);
    ASSERT_EQ(image.LoadFwFile("fw.bin"), 1);
    EXPECT_EQ(log.text(), "dbg info  : firmware vid:0x00,0xAB,0x0F,0x00\n");
  }
  EXPECT_EQ(0, std::memcmp(image.vid, "\x00\xAB\x0F\x00\x00", 5));
  LogCapture quiet(1);
  ASSERT_EQ(image.LoadFwFile("fw.bin"), 1);
  EXPECT_EQ(quiet.text(), "");
}

TEST(FwImageLoad, ErrorLinesOnlyUnderBitZero) {
  MemoryFileSystem files;
  files.files["fw.bin"] = "short";
  FwImage image;
  LogCapture log(2);
  EXPECT_EQ(image.LoadFwFile("fw.bin"), kFwErrTooShort);
  EXPECT_EQ(image.LoadFwFile("missing.bin"), -1);
  EXPECT_EQ(image.LoadFwFile(nullptr), -1);
  EXPECT_EQ(log.text(), "");
}

TEST(FwImageLoad, ChecksumWrapsAt16Bits) {
  // Header bytes from offset 6: "ABCD" (266) and the VID 1, 2, 3, 4 (10).
  // 255 bytes of 0xFF and one of 240 bring the sum to 65536 + 5.
  FwImageSpec spec;
  spec.trailer = std::string(255, '\xFF') + '\xF0';
  const std::string bytes = BuildFwImage(spec);
  ASSERT_EQ(bytes[4], 0x00);
  ASSERT_EQ(bytes[5], 0x05);
  MemoryFileSystem files;
  files.files["fw.bin"] = bytes;
  FwImage image;
  EXPECT_EQ(image.LoadFwFile("fw.bin"), 1);
}

TEST(FwImageLoad, ChecksumCoversEveryByteFromSix) {
  const std::string good = BuildFwImage(TypicalSpec());
  MemoryFileSystem files;
  for (size_t offset : {size_t{6}, size_t{14}, size_t{28}, size_t{39}, size_t{255}, good.size() - 1}) {
    SCOPED_TRACE(offset);
    std::string bytes = good;
    bytes[offset] = static_cast<char>(bytes[offset] ^ 0x40);
    files.files["fw.bin"] = bytes;
    FwImage image;
    EXPECT_EQ(image.LoadFwFile("fw.bin"), -4);
  }
}

TEST(FwImageTable, EntriesAndDataOffsetsOfAValidImage) {
  const FwImageSpec spec = TypicalSpec();
  MemoryFileSystem files;
  files.files["fw.bin"] = BuildFwImage(spec);
  FwImage image;
  ASSERT_EQ(image.LoadFwFile("fw.bin"), 1);
  ASSERT_EQ(image.SubCount(), spec.subs.size());
  uint32_t offset = kFwDataOffset;
  for (uint32_t i = 0; i < spec.subs.size(); ++i) {
    SCOPED_TRACE(i);
    const FwSubEntry entry = image.SubEntry(i);
    EXPECT_EQ(entry.type, spec.subs[i].type);
    EXPECT_EQ(entry.length, spec.subs[i].data.size());
    EXPECT_EQ(entry.flashAddress, spec.subs[i].flashAddress);
    EXPECT_EQ(image.SubDataOffset(i), offset);
    EXPECT_EQ(0, std::memcmp(image.data.get() + offset, spec.subs[i].data.data(), entry.length));
    offset += entry.length;
  }
  EXPECT_EQ(image.SubDataOffset(image.SubCount()), image.length);
  EXPECT_EQ(image.SubEntry(image.SubCount()).length, 0u);
  image.Release();
  EXPECT_EQ(image.valid, 0);
  EXPECT_EQ(image.data, nullptr);
  EXPECT_EQ(image.SubCount(), 0);
  EXPECT_EQ(image.SubEntry(0).type, 0);
}

TEST(ChunkChecksum, WordsBigEndianWithTheOddTail) {
  const uint8_t image[] = {0x12, 0x34, 0xFF, 0xFF, 0xAB, 0xCD, 0x01};
  const uint8_t* end = image + sizeof image;
  struct Case {
    const char* name;
    uint32_t offset;
    uint32_t length;
    uint16_t sum;
  } cases[] = {
      {"even chunk, 16-bit wrap", 0, 4, 0x1233},
      {"odd chunk takes the next image byte as its low byte", 0, 3, 0x1233},
      {"odd chunk inside the image", 2, 3, 0xABCC},
      {"odd chunk that ends the image takes 0", 4, 3, 0xACCD},
      {"single last byte", 6, 1, 0x0100},
      {"empty chunk", 7, 0, 0},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(ChunkChecksum(image + row.offset, row.length, end), row.sum);
  }
  // A chunk said to run past the end reads nothing there.
  EXPECT_EQ(ChunkChecksum(image + 4, 8, end), 0xACCD);
}

}  // namespace
}  // namespace tessaro
