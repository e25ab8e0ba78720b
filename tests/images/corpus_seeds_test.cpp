// The fuzz targets start from the committed seeds; a seed that no longer
// loads would start them from nothing but the rejection paths.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/system.h"
#include "images/cfg_image.h"
#include "images/fw_image.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;

TEST(FuzzSeeds, EveryValidSeedLoads) {
  SystemBackends system;
  int seen = 0;
  for (const char* target : {"fw_image", "cfg_image"}) {
    const fs::path folder = fs::path(TESSARO_SOURCE_DIR) / "fuzz" / "corpus" / target;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("valid-", 0) != 0) continue;
      SCOPED_TRACE(name);
      ++seen;
      const std::string path = entry.path().generic_string();
      if (std::string(target) == "fw_image") {
        FwImage image;
        EXPECT_EQ(image.LoadFwFile(path.c_str()), 1);
      } else {
        CfgImage image;
        EXPECT_EQ(image.LoadCfgFile(path.c_str()), 1);
      }
    }
  }
  EXPECT_GE(seen, 4);
}

}  // namespace
}  // namespace tessaro
