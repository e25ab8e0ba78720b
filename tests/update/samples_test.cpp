// The committed samples are what the generator makes, and they are what a
// fresh controller takes: same PID, another VID, a newer configuration.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "images/cfg_image.h"
#include "images/fw_image.h"
#include "tests/support/log_capture.h"
#include "tests/support/memory_files.h"
#include "tests/support/temp_dir.h"
#include "tests/update/controller_double.h"
#include "tools/make-samples.h"
#include "transport/registers.h"
#include "update/jobs.h"

namespace tessaro::testing {
namespace {

std::string Committed(const char* name) { return ReadFileBytes(std::string(TESSARO_SAMPLES_DIR) + "/" + name); }

TEST(Samples, RegeneratingGivesTheCommittedBytes) {
  const std::string firmware = Committed(samples::kFirmwareFile);
  const std::string config = Committed(samples::kConfigFile);
  ASSERT_FALSE(firmware.empty());
  ASSERT_FALSE(config.empty());
  EXPECT_TRUE(firmware == samples::SampleFirmwareImage()) << "run tools/make-samples and commit samples/";
  EXPECT_TRUE(config == samples::SampleConfiguration()) << "run tools/make-samples and commit samples/";
}

TEST(Samples, LoadAndCarryWhatAFreshControllerNeeds) {
  MemoryFileSystem files;
  files.files["fw"] = samples::SampleFirmwareImage();
  files.files["cfg"] = samples::SampleConfiguration();
  LogCapture log(1);
  FwImage image;
  ASSERT_EQ(image.LoadFwFile("fw"), 1);
  EXPECT_STREQ(image.pid, "TS01");
  EXPECT_EQ(std::vector<uint8_t>(image.vid, image.vid + 4), (std::vector<uint8_t>{1, 0, 0, 2}));
  std::set<uint8_t> types;
  for (uint32_t i = 0; i < image.SubCount(); ++i) types.insert(image.SubEntry(i).type);
  EXPECT_EQ(types, (std::set<uint8_t>{2, 5, 6, 11, 14}));
  // The identity sits at the start of the sub-firmware that lands at 0.
  ASSERT_EQ(image.SubEntry(0).flashAddress, 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image.data.get()) + kFwDataOffset, 8),
            std::string("TS01\x01\x00\x00\x02", 8));
  CfgImage config;
  ASSERT_EQ(config.LoadCfgFile("cfg"), 1);
  EXPECT_EQ(config.version, 0x85);
  EXPECT_EQ(static_cast<uint8_t>(config.data[0] + config.data[1] + config.data[2]), 0);
  EXPECT_GT(config.length, reg::kWriteChunkBytes);
  EXPECT_EQ(log.text(), "");
}

TEST(Samples, UpdateAControllerAtTheFactoryDefaults) {
  ControllerDouble controller;
  MemoryFileSystem files;
  files.files["fw"] = samples::SampleFirmwareImage();
  files.files["cfg"] = samples::SampleConfiguration();
  LogCapture log(1);
  EXPECT_EQ(UpdateFw("fw", false, 0x844), 0);
  EXPECT_EQ(UpdateCfg("cfg", false), 0);
  EXPECT_NE(log.text().find("info      : Update Cfg Success! Cfg Ver:0x85\r\n"), std::string::npos);
}

}  // namespace
}  // namespace tessaro::testing
