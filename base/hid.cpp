#include "base/hid.h"

namespace tessaro {

std::wstring ControllerLockName(const std::wstring& devicePath) {
  // 64-bit FNV-1a over the UTF-16 code units, low byte first.
  uint64_t hash = 0xcbf29ce484222325ull;
  for (wchar_t c : devicePath) {
    const auto unit = static_cast<uint16_t>(c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c);
    for (const uint8_t byte : {static_cast<uint8_t>(unit & 0xFF), static_cast<uint8_t>(unit >> 8)}) {
      hash ^= byte;
      hash *= 0x100000001b3ull;
    }
  }
  std::wstring name = L"Global\\tessaro-controller-";
  for (int shift = 60; shift >= 0; shift -= 4) name.push_back(L"0123456789abcdef"[(hash >> shift) & 0xF]);
  return name;
}

}  // namespace tessaro
