#include "platform/win32/hid_win32.h"


namespace tessaro {
namespace {

class EmptyWalk final : public HidWalk {
 public:
  bool Next(HidInterface&) override { return false; }
};

}  // namespace

// Placeholder until the SetupAPI walk lands: no device is ever found.
std::unique_ptr<HidWalk> Win32HidBackend::BeginWalk() { return std::make_unique<EmptyWalk>(); }
bool Win32HidBackend::Open(const HidInterface&, HidHandle& out) {
  out = kInvalidHidHandle;
  return false;
}
bool Win32HidBackend::GetCaps(HidHandle, uint16_t&, uint16_t&) { return false; }
bool Win32HidBackend::GetVendorId(HidHandle, uint16_t&) { return false; }
bool Win32HidBackend::SetOutputReport(HidHandle, const Report&) { return false; }
bool Win32HidBackend::GetInputReport(HidHandle, Report&) { return false; }
void Win32HidBackend::Close(HidHandle) {}
uint32_t Win32HidBackend::LastError() { return static_cast<uint32_t>(0); }

}  // namespace tessaro
