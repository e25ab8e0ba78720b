// Which names Windows takes for devices: portable, so run in both builds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/device_name.h"

namespace tessaro {
namespace {

TEST(DeviceName, ReservedNamesAndTheDeviceNamespaceAreDevices) {
  struct Case {
    const char* path;
    bool device;
  };
  const std::vector<Case> cases = {
      {"COM1", true},          {"com9", true},          {"Aux", true},           {"nul.txt", true},
      {"CON", true},           {"prn.bin", true},       {"LPT3", true},          {"conin$", true},
      {"CONOUT$", true},       {"COM1 .txt", true},     {"dir\\COM1", true},     {"C:AUX", true},
      {"./sub/NUL", true},     {"\\\\.\\pipe\\x", true}, {"//./COM12", true},    {"\\\\.\\COM12", true},
      {"COM0", false},         {"COM10", false},        {"COMA", false},         {"console.txt", false},
      {"AUX\\cfg.txt", false}, {"fw.bin", false},       {"", false},             {"nul-config.txt", false},
      {"\\\\server\\share\\fw.bin", false},             {"C:\\fw\\com1x.bin", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(NamesWindowsDevice(c.path), c.device);
  }
  EXPECT_FALSE(NamesWindowsDevice(nullptr));
}

}  // namespace
}  // namespace tessaro
