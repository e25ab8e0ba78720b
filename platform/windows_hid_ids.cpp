#include "platform/windows_hid_ids.h"

namespace tessaro {
namespace {

// Device IDs are ASCII, compared without regard to case.
std::wstring Upper(const std::wstring& text) {
  std::wstring upper = text;
  for (wchar_t& c : upper) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  return upper;
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorSharingViolation = 32;

}  // namespace

std::string BusOfDeviceNode(const std::wstring& instanceId, const std::vector<std::wstring>& compatibleIds) {
  const std::wstring id = Upper(instanceId);
  if (StartsWith(id, L"USB\\")) return "USB";
  if (StartsWith(id, L"BTHENUM\\") || StartsWith(id, L"BTHLEDEVICE\\") || StartsWith(id, L"BTHLE\\")) {
    return "Bluetooth";
  }
  // PNP0C50 is the ACPI compatible ID of every HID-over-I2C device; the
  // node's own ID names only its maker's part.
  for (const std::wstring& compatible : compatibleIds) {
    const std::wstring upper = Upper(compatible);
    if (upper == L"ACPI\\PNP0C50" || upper == L"PNP0C50") return "I2C";
  }
  return "";
}

const char* SystemRoleOfCollection(uint16_t usagePage, uint16_t usage) {
  if (usagePage == 0x01 && usage == 0x06) return "keyboard";
  if (usagePage == 0x01 && usage == 0x02) return "mouse";
  if (usagePage == 0x01 && usage == 0x80) return "system control";
  if (usagePage == 0x0C) return "consumer control";
  if (usagePage == 0x0D) return "touch digitizer";
  return nullptr;
}

bool SystemHoldsCollection(const char* role, uint32_t openError) {
  return role != nullptr && (openError == kErrorAccessDenied || openError == kErrorSharingViolation);
}

std::vector<std::wstring> SplitMultiString(const wchar_t* block, size_t lengthChars) {
  std::vector<std::wstring> strings;
  if (block == nullptr) return strings;
  size_t start = 0;
  for (size_t i = 0; i <= lengthChars; ++i) {
    if (i == lengthChars || block[i] == L'\0') {
      if (i == start) break;  // an empty string ends the block
      strings.emplace_back(block + start, i - start);
      start = i + 1;
    }
  }
  return strings;
}

}  // namespace tessaro
