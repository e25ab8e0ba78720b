#pragma once
#include <map>

#include "base/hid.h"

namespace tessaro {

// HID through SetupAPI and the HID class driver.
class Win32HidBackend final : public HidBackend {
 public:
  ~Win32HidBackend() override;
  std::unique_ptr<HidWalk> BeginWalk() override;
  bool Open(const HidInterface& interface, HidHandle& out) override;
  bool GetCaps(HidHandle handle, uint16_t& usagePage, uint16_t& usage) override;
  bool GetVendorId(HidHandle handle, uint16_t& vendorId) override;
  bool SetOutputReport(HidHandle handle, const Report& report) override;
  bool GetInputReport(HidHandle handle, Report& report) override;
  // A named mutex in the Global namespace for the device path
  // (ControllerLockName), owned until Close. Windows cannot tell its owner.
  HidClaim Claim(const HidInterface& interface, HidHandle handle) override;
  void Close(HidHandle handle) override;
  uint32_t LastError() override;

 private:
  // Keeps GetLastError of the call that failed; always false.
  bool Fail();
  uint32_t lastError_ = 0;
  // The mutex owned for each claimed handle.
  std::map<HidHandle, void*> claims_;
};

}  // namespace tessaro
