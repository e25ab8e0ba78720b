// Which names Windows takes for devices: portable, so run in both builds.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "platform/device_name.h"
#include "platform/windows_hid_ids.h"

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

// Device IDs as real machines show them: the node above a HID collection
// tells the bus (a HID-over-I2C device by its ACPI compatible ID, whatever
// its maker's own ID), and the collections Windows holds for itself.
namespace tessaro {
namespace {

TEST(WindowsHidIds, TheNodeAboveACollectionTellsItsBus) {
  struct Case {
    const wchar_t* instanceId;
    std::vector<std::wstring> compatible;
    const char* bus;
  };
  const std::vector<Case> cases = {
      {L"ACPI\\ELAN2514\\4&2a4d4e9b&0", {L"ACPI\\PNP0C50", L"PNP0C50"}, "I2C"},
      {L"ACPI\\WCOM508E\\4&1d3a0e0c&0", {L"acpi\\pnp0c50"}, "I2C"},
      {L"ACPI\\MSHW0030\\1", {L"ACPI\\PNP0C51"}, ""},  // HID over SPI: not I2C
      {L"USB\\VID_046D&PID_C31C&MI_00\\7&1b7f2cd&0&0000", {L"USB\\Class_03&SubClass_01&Prot_01"}, "USB"},
      {L"usb\\vid_04f3&pid_2a1c\\5&2c7b9d1&0&6", {}, "USB"},
      {L"BTHENUM\\{00001124-0000-1000-8000-00805f9b34fb}_VID&0002054c_PID&09cc\\8&2d1c&0&0", {}, "Bluetooth"},
      {L"BTHLEDevice\\{00001812-0000-1000-8000-00805f9b34fb}_Dev_VID&02046d_PID&b023\\9&3a&0&0020", {}, "Bluetooth"},
      {L"HID\\VEN_ELAN&DEV_2514&Col01\\5&3a5c1e2f&0&0000", {L"HID_DEVICE_UP:000D_U:0004"}, ""},
      {L"ROOT\\HIDCLASS\\0000", {}, ""},
      {L"", {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.instanceId, c.instanceId + std::wcslen(c.instanceId)));
    EXPECT_EQ(BusOfDeviceNode(c.instanceId, c.compatible), c.bus);
  }
}

TEST(WindowsHidIds, CollectionsTheSystemHolds) {
  EXPECT_STREQ(SystemRoleOfCollection(0x0D, 0x04), "touch digitizer");
  EXPECT_STREQ(SystemRoleOfCollection(0x0D, 0x05), "touch digitizer");  // touch pad
  EXPECT_STREQ(SystemRoleOfCollection(0x01, 0x06), "keyboard");
  EXPECT_STREQ(SystemRoleOfCollection(0x01, 0x02), "mouse");
  EXPECT_STREQ(SystemRoleOfCollection(0x01, 0x80), "system control");
  EXPECT_STREQ(SystemRoleOfCollection(0x0C, 0x01), "consumer control");
  EXPECT_EQ(SystemRoleOfCollection(0xFFF0, 0x01), nullptr);
  const char* digitizer = SystemRoleOfCollection(0x0D, 0x04);
  EXPECT_TRUE(SystemHoldsCollection(digitizer, 32));   // sharing violation
  EXPECT_TRUE(SystemHoldsCollection(digitizer, 5));    // access denied
  EXPECT_FALSE(SystemHoldsCollection(digitizer, 2));   // gone: not held
  EXPECT_FALSE(SystemHoldsCollection(nullptr, 32));    // the vendor's: another program
}

TEST(WindowsHidIds, MultiStringsEndAtTheBlockOrAnEmptyString) {
  const wchar_t block[] = L"ACPI\\PNP0C50\0PNP0C50\0\0junk";
  EXPECT_EQ(SplitMultiString(block, sizeof block / sizeof(wchar_t)),
            (std::vector<std::wstring>{L"ACPI\\PNP0C50", L"PNP0C50"}));
  const wchar_t unterminated[] = {L'A', L'\0', L'B', L'C'};
  EXPECT_EQ(SplitMultiString(unterminated, 4), (std::vector<std::wstring>{L"A", L"BC"}));
  EXPECT_TRUE(SplitMultiString(nullptr, 4).empty());
}

}  // namespace
}  // namespace tessaro
