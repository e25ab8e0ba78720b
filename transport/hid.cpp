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

HidBackend& TheHid() { return *installedHid; }

HidBackend* InstallHid(HidBackend* backend) {
  HidBackend* previous = installedHid;
  installedHid = backend != nullptr ? backend : &noHid;
  return previous;
}

}  // namespace tessaro
