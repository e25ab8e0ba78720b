// Runs alone in its program: it replaces the allocation function the
// loaders use for their buffers, so that a test can make the n-th one fail.
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "images/cfg_image.h"
#include "images/fw_image.h"
#include "tests/support/log_capture.h"
#include "tests/support/memory_files.h"
#include "tools/image_builder.h"

namespace {

// 0: every allocation succeeds; n: the n-th nothrow array allocation from
// now on fails.
int failingAllocation = 0;

}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (failingAllocation > 0 && --failingAllocation == 0) return nullptr;
  // The plain form, so that delete[] matches whatever allocator is in place.
  try {
    return ::operator new[](size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

namespace tessaro {
namespace {

using testing::LogCapture;
using testing::MemoryFileSystem;

TEST(ImageAllocationFailure, FirmwareBuffer) {
  MemoryFileSystem files;
  files.files["fw.bin"] = testing::BuildFwImage(testing::FwImageSpec{});
  LogCapture log(1);
  FwImage image;
  failingAllocation = 1;
  EXPECT_EQ(image.LoadFwFile("fw.bin"), -1);
  failingAllocation = 0;
  EXPECT_EQ(log.text(), "error     : allocate memory for fw failed\n");
  EXPECT_EQ(image.valid, 0);
  EXPECT_EQ(image.data, nullptr);
  EXPECT_EQ(files.openHandles, 0);
  EXPECT_EQ(files.reads, 0u);
}

TEST(ImageAllocationFailure, ConfigurationBuffers) {
  struct Case {
    int failing;
    const char* log;
  } cases[] = {
      {1, "error     : allocate memory for cfg file failed\n"},
      {2, "error     : allocate memory for cfg data failed\n"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.log);
    MemoryFileSystem files;
    files.files["cfg.txt"] = "0x80,0x01,0x7F";
    LogCapture log(1);
    CfgImage image;
    failingAllocation = row.failing;
    EXPECT_EQ(image.LoadCfgFile("cfg.txt"), -1);
    failingAllocation = 0;
    EXPECT_EQ(log.text(), row.log);
    EXPECT_EQ(image.valid, 0);
    EXPECT_EQ(image.data, nullptr);
    EXPECT_EQ(files.openHandles, 0);
  }
}

}  // namespace
}  // namespace tessaro
