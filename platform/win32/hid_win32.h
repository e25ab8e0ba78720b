#pragma once
#include "transport/hid.h"

namespace tessaro {

// HID through SetupAPI and the HID class driver.
class Win32HidBackend final : public HidBackend {
 public:
  std::unique_ptr<HidWalk> BeginWalk() override;
  bool Open(const HidInterface& interface, HidHandle& out) override;
  bool GetCaps(HidHandle handle, uint16_t& usagePage, uint16_t& usage) override;
  bool GetVendorId(HidHandle handle, uint16_t& vendorId) override;
  bool SetOutputReport(HidHandle handle, const Report& report) override;
  bool GetInputReport(HidHandle handle, Report& report) override;
  void Close(HidHandle handle) override;
  uint32_t LastError() override;

 private:
  // Keeps GetLastError of the call that failed; always false.
  bool Fail();
  uint32_t lastError_ = 0;
};

}  // namespace tessaro
