#include "platform/linux/hid_hidraw.h"

#include <cerrno>

namespace tessaro {
namespace {

class EmptyWalk final : public HidWalk {
 public:
  bool Next(HidInterface&) override { return false; }
};

}  // namespace

// Placeholder until the hidraw walk lands: no device is ever found.
std::unique_ptr<HidWalk> HidrawBackend::BeginWalk() { return std::make_unique<EmptyWalk>(); }
bool HidrawBackend::Open(const HidInterface&, HidHandle& out) {
  out = kInvalidHidHandle;
  return false;
}
bool HidrawBackend::GetCaps(HidHandle, uint16_t&, uint16_t&) { return false; }
bool HidrawBackend::GetVendorId(HidHandle, uint16_t&) { return false; }
bool HidrawBackend::SetOutputReport(HidHandle, const Report&) { return false; }
bool HidrawBackend::GetInputReport(HidHandle, Report&) { return false; }
void HidrawBackend::Close(HidHandle) {}
uint32_t HidrawBackend::LastError() { return static_cast<uint32_t>(errno); }

}  // namespace tessaro
