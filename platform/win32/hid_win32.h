#pragma once
#include <map>
#include <memory>

#include "base/hid.h"

namespace tessaro {

// The longest a report request may take. A working controller answers in
// a few milliseconds; one that was reset mid-transfer or holds its bus low
// may never answer, and the request is then cancelled and counts as failed.
constexpr uint32_t kReportTimeoutMs = 5000;
// How long a cancelled request is given to end. A driver that ignores the
// cancel keeps the request's buffers for ever: they are then never freed,
// and every later report on that handle fails at once.
constexpr uint32_t kCancelWaitMs = 5000;
// The code a timed-out report leaves in LastError (ERROR_TIMEOUT).
constexpr uint32_t kReportTimeoutError = 1460;

// HID through SetupAPI and the HID class driver, every call through the
// Win32 table (win32_api.h). Reports go as overlapped DeviceIoControl
// requests bounded by kReportTimeoutMs.
class Win32HidBackend final : public HidBackend {
 public:
  Win32HidBackend();
  ~Win32HidBackend() override;
  std::unique_ptr<HidWalk> BeginWalk() override;
  bool Open(const HidInterface& interface, HidHandle& out) override;
  bool GetCaps(HidHandle handle, uint16_t& usagePage, uint16_t& usage) override;
  bool GetVendorId(HidHandle handle, uint16_t& vendorId) override;
  bool SetOutputReport(HidHandle handle, const Report& report) override;
  bool GetInputReport(HidHandle handle, Report& report) override;
  // HidP_GetCaps's InputReportByteLength and OutputReportByteLength.
  bool GetReportLengths(HidHandle handle, uint16_t& inputBytes, uint16_t& outputBytes) override;
  // ERROR_DEVICE_NOT_CONNECTED, ERROR_FILE_NOT_FOUND.
  bool IsGoneError(uint32_t error) override;
  // A named mutex in the Global namespace for the device path
  // (ControllerLockName), owned until Close. Windows cannot tell its owner.
  HidClaim Claim(const HidInterface& interface, HidHandle handle) override;
  void Close(HidHandle handle) override;
  uint32_t LastError() override;

 private:
  // One report request in flight at a time per handle: its OVERLAPPED,
  // event and buffers live on the heap, never on a frame that may return
  // while the driver still holds them.
  struct Channel;
  // Sends one request and waits for it within the bound; false (with
  // lastError_) when it failed, timed out or could not be sent.
  bool Request(HidHandle handle, uint32_t ioctl, const Report& in, Report* out);
  // Keeps GetLastError of the call that failed; always false.
  bool Fail();
  bool Fail(uint32_t error);
  uint32_t lastError_ = 0;
  std::map<HidHandle, std::unique_ptr<Channel>> channels_;
  // The mutex owned for each claimed handle.
  std::map<HidHandle, void*> claims_;
};

}  // namespace tessaro
