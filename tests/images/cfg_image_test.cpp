#include "images/cfg_image.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/system.h"
#include "tests/support/log_capture.h"
#include "tests/support/memory_files.h"
#include "tests/support/temp_dir.h"
#include "tools/image_builder.h"

namespace tessaro {
namespace {

using testing::LogCapture;
using testing::MemoryFileSystem;

std::vector<uint8_t> Bytes(const CfgImage& image) {
  if (!image.data) return {};
  return std::vector<uint8_t>(image.data.get(), image.data.get() + image.length);
}

void ExpectEmpty(const CfgImage& image) {
  EXPECT_EQ(image.valid, 0);
  EXPECT_EQ(image.data, nullptr);
  EXPECT_EQ(image.length, 0u);
}

const std::string kCountLine0 = "error     : cfg file ERROR, valid data count:0\n";
const std::string kCountLine1 = "error     : cfg file ERROR, valid data count:1\n";
const std::string kNoData = "error     : cfg file holds no data, cfg_name:{N}\n";

// The token rules, each row a file text and what it loads to.
struct TokenCase {
  const char* name;
  std::string text;
  int32_t result;
  std::vector<uint8_t> bytes;  // when the result is 1
  std::string log;             // exact text with logMask 1; "{N}" stands for the file name
};

std::vector<TokenCase> TokenCases() {
  return {
      {"commas", "0x80,0x01,0x7F", 1, {0x80, 0x01, 0x7F}, ""},
      {"upper and lower case, lines", "0X80\r\n0x01\n0x7f\n", 1, {0x80, 0x01, 0x7F}, ""},
      {"sum not zero", "0x80,0x01,0x7E", -5, {}, "error     : Check_sum err,  0xff\n"},
      {"one digit is the high nibble", "0x5,0xB0", 1, {0x50, 0xB0}, ""},
      {"a third digit is skipped", "0x123,0xEE", 1, {0x12, 0xEE}, ""},
      {"x inside a word starts a token", "0x01 box 0xFF", 1, {0x01, 0x00, 0xFF}, ""},
      {"a non-digit counts as 0", "0xg1,0xFF", 1, {0x01, 0xFF}, ""},
      {"marker in the high digit position", "0xxF1", 1, {0x0F, 0xF1}, ""},
      {"marker in the low digit position", "0xFX10", 1, {0xF0, 0x10}, ""},
      {"marker before the last byte: 0 beyond the end", "0xF0,0x1", 1, {0xF0, 0x10}, ""},
      {"marker as the last byte", "0x00,0x", 1, {0x00, 0x00}, ""},
      {"a lone marker", "x", 1, {0x00}, kCountLine1},
      {"only 0x00", "0x00", 1, {0x00}, kCountLine1},
      {"only one other byte", "0x01", -5, {}, kCountLine1 + "error     : Check_sum err,  0x1\n"},
      {"NUL and end-of-file bytes are plain bytes", std::string("0x80\0\x1a,0x01\x1a" "0x7F", 16), 1,
       {0x80, 0x01, 0x7F}, ""},
      {"bare pairs hold no token", "80 01 7F", kCfgErrNoData, {}, kCountLine0 + kNoData},
      {"empty file", "", kCfgErrNoData, {}, kCountLine0 + kNoData},
  };
}

std::string WithName(std::string text, const std::string& name) {
  const size_t at = text.find("{N}");
  if (at != std::string::npos) text.replace(at, 3, name);
  return text;
}

void CheckLoad(const TokenCase& row, const std::string& name) {
  LogCapture log(1);
  CfgImage image;
  EXPECT_EQ(image.LoadCfgFile(name.c_str()), row.result);
  EXPECT_EQ(log.text(), WithName(row.log, name));
  if (row.result == 1) {
    EXPECT_EQ(image.valid, 1);
    EXPECT_EQ(Bytes(image), row.bytes);
    EXPECT_EQ(image.length, row.bytes.size());
    EXPECT_EQ(image.version, row.bytes.front());
  } else {
    ExpectEmpty(image);
  }
}

TEST(CfgImageLoad, TokenRulesFromMemory) {
  for (const TokenCase& row : TokenCases()) {
    SCOPED_TRACE(row.name);
    MemoryFileSystem files;
    files.files["cfg.txt"] = row.text;
    CheckLoad(row, "cfg.txt");
    EXPECT_EQ(files.openHandles, 0) << "the file stays open";
  }
}

TEST(CfgImageLoad, TokenRulesFromDisk) {
  testing::TempDir dir;
  SystemBackends system;
  for (const TokenCase& row : TokenCases()) {
    SCOPED_TRACE(row.name);
    const std::string path = dir.File("cfg.txt");
    testing::WriteFileBytes(path, row.text);
    CheckLoad(row, path);
  }
}

TEST(CfgImageLoad, ALargeConfigurationRoundTrips) {
  const std::string body = testing::PatternBytes(2000, 7);
  const std::vector<uint8_t> bytes = testing::BalancedCfgBytes(0x85, std::vector<uint8_t>(body.begin(), body.end()));
  MemoryFileSystem files;
  files.files["cfg.txt"] = testing::CfgText(bytes, ", ");
  CfgImage image;
  ASSERT_EQ(image.LoadCfgFile("cfg.txt"), 1);
  EXPECT_EQ(Bytes(image), bytes);
  EXPECT_EQ(image.version, 0x85);
}

TEST(CfgImageLoad, DebugLinesOfASuccessfulLoad) {
  MemoryFileSystem files;
  files.files["cfg.txt"] = "0x80,0x01,0x7F";
  LogCapture log(3);
  CfgImage image;
  ASSERT_EQ(image.LoadCfgFile("cfg.txt"), 1);
  EXPECT_EQ(log.text(),
            "dbg info  : open cfg file success, cfg_name:cfg.txt\n"
            "dbg info  : cfg file size:14\n"
            "dbg info  : read raw data form cfg file success\n");
}

TEST(CfgImageLoad, FailuresBeforeTheTokens) {
  struct Case {
    const char* name;
    const char* file;
    uint32_t failReadNumber;
    std::optional<uint32_t> readLimit;
    std::optional<uint32_t> reportedSize;
    int32_t result;
    std::string log;
  } cases[] = {
      {"missing file", "other.txt", 0, {}, {}, -1, "error     : open cfg file FAILED, cfg_name:other.txt\n"},
      {"empty name", "", 0, {}, {}, -1, "error     : open cfg file FAILED, cfg_name:\n"},
      {"read fails", "cfg.txt", 1, {}, {}, -2, "error     : ReadFile FAILED,error:5\n"},
      {"read ends early", "cfg.txt", 0, 4, {}, -3, "error     : ReadFile fail, cfg_file_size:14, bytes read:4\n"},
      {"size larger than the file", "cfg.txt", 0, {}, 100, -3,
       "error     : ReadFile fail, cfg_file_size:100, bytes read:14\n"},
      // The low 32 bits of a file of 4 GiB + 10 bytes.
      {"more bytes than the size says", "cfg.txt", 0, {}, 10, -3,
       "error     : ReadFile fail, cfg_file_size:10, bytes read:11\n"},
      {"a size of 0 for a file of 4 GiB", "cfg.txt", 0, {}, 0, -3,
       "error     : ReadFile fail, cfg_file_size:0, bytes read:1\n"},
      {"the read after the whole file fails", "cfg.txt", 2, {}, {}, -2, "error     : ReadFile FAILED,error:5\n"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    MemoryFileSystem files;
    files.files["cfg.txt"] = "0x80,0x01,0x7F";
    files.failReadNumber = row.failReadNumber;
    files.readLimit = row.readLimit;
    files.reportedSize = row.reportedSize;
    LogCapture log(1);
    CfgImage image;
    EXPECT_EQ(image.LoadCfgFile(row.file), row.result);
    EXPECT_EQ(log.text(), row.log);
    ExpectEmpty(image);
    EXPECT_EQ(files.openHandles, 0);
  }
}

TEST(CfgImageLoad, OpenFailuresOnDisk) {
  testing::TempDir dir;
  SystemBackends system;
  for (const std::string& path : {dir.File("missing.txt"), std::string(), dir.path()}) {
    SCOPED_TRACE(path);
    LogCapture log(1);
    CfgImage image;
    EXPECT_EQ(image.LoadCfgFile(path.c_str()), -1);
    EXPECT_EQ(log.text(), "error     : open cfg file FAILED, cfg_name:" + path + "\n");
    ExpectEmpty(image);
  }
}

TEST(CfgImageLoad, NullNameLeavesTheRecordAsItWas) {
  MemoryFileSystem files;
  files.files["cfg.txt"] = "0x80,0x01,0x7F";
  CfgImage image;
  ASSERT_EQ(image.LoadCfgFile("cfg.txt"), 1);
  LogCapture log(1);
  EXPECT_EQ(image.LoadCfgFile(nullptr), -1);
  EXPECT_EQ(log.text(), "error     : cfg name is NULL!!!\n");
  EXPECT_EQ(image.valid, 1);
  EXPECT_EQ(Bytes(image), (std::vector<uint8_t>{0x80, 0x01, 0x7F}));
  EXPECT_EQ(files.opens, 1);
}

TEST(CfgImageLoad, AFailedReloadDropsTheBytesHeldBefore) {
  MemoryFileSystem files;
  files.files["good.txt"] = "0x80,0x01,0x7F";
  files.files["bad.txt"] = "0x80,0x01,0x7E";
  CfgImage image;
  ASSERT_EQ(image.LoadCfgFile("good.txt"), 1);
  EXPECT_EQ(image.LoadCfgFile("bad.txt"), -5);
  ExpectEmpty(image);
  ASSERT_EQ(image.LoadCfgFile("good.txt"), 1);
  image.Release();
  EXPECT_EQ(image.valid, 0);
  EXPECT_EQ(image.data, nullptr);
}

TEST(CfgImageLoad, ErrorLinesOnlyUnderBitZero) {
  MemoryFileSystem files;
  files.files["cfg.txt"] = "";
  LogCapture log(2);
  CfgImage image;
  EXPECT_EQ(image.LoadCfgFile("cfg.txt"), kCfgErrNoData);
  EXPECT_EQ(log.text(),
            "dbg info  : open cfg file success, cfg_name:cfg.txt\n"
            "dbg info  : cfg file size:0\n"
            "dbg info  : read raw data form cfg file success\n");
}

}  // namespace
}  // namespace tessaro
