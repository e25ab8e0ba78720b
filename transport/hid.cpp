#include "transport/hid.h"

namespace tessaro {
namespace {

class NoHidWalk final : public HidWalk {
 public:
  bool Next(HidInterface&) override { return false; }
};

class NoHid final : public HidBackend {
 public:
  std::unique_ptr<HidWalk> BeginWalk() override { return std::make_unique<NoHidWalk>(); }
  bool Open(const HidInterface&, HidHandle& out) override {
    out = kInvalidHidHandle;
    return false;
  }
  bool GetCaps(HidHandle, uint16_t&, uint16_t&) override { return false; }
  bool GetVendorId(HidHandle, uint16_t&) override { return false; }
  bool SetOutputReport(HidHandle, const Report&) override { return false; }
  bool GetInputReport(HidHandle, Report&) override { return false; }
  void Close(HidHandle) override {}
  uint32_t LastError() override { return 0; }
};

NoHid noHid;
HidBackend* installedHid = &noHid;

}  // namespace

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

HidBackend& TheHid() { return *installedHid; }

HidBackend* InstallHid(HidBackend* backend) {
  HidBackend* previous = installedHid;
  installedHid = backend != nullptr ? backend : &noHid;
  return previous;
}

}  // namespace tessaro
