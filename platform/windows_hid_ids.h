#pragma once
// What Windows' device IDs and open errors tell about a HID collection.
// Portable, so that the rules are tested on every platform with IDs of the
// shape real machines show; the Windows diagnosis feeds them.
#include <cstdint>
#include <string>
#include <vector>

namespace tessaro {

// The bus told by one device node above a HID collection: its instance ID
// ("USB\VID_045E&PID_07A5&MI_01\7&...") and its compatible IDs (a
// HID-over-I2C device's ACPI node carries "ACPI\PNP0C50"). "I2C", "USB",
// "Bluetooth", or "" when this node tells nothing and its parent may.
std::string BusOfDeviceNode(const std::wstring& instanceId, const std::vector<std::wstring>& compatibleIds);

// The collections Windows opens for itself (keyboards, mice, system and
// consumer controls, touch digitizers): their role in words, else null.
const char* SystemRoleOfCollection(uint16_t usagePage, uint16_t usage);

// Whether an open error on a collection of that role is the system holding
// it: access denied or a sharing violation.
bool SystemHoldsCollection(const char* role, uint32_t openError);

// A REG_MULTI_SZ block as its strings; stops at the block's end even when
// the final terminators are missing.
std::vector<std::wstring> SplitMultiString(const wchar_t* block, size_t lengthChars);

}  // namespace tessaro
