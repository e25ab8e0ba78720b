// hid_win32.h comes before <windows.h>, whose `interface` macro would break
// the seam's declarations.
#include "platform/win32/hid_win32.h"

#include <windows.h>

#include <setupapi.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

// MinGW's HID headers do not declare their functions extern "C". hidsdi.h
// brings hidusage.h and hidpi.h in the order they need.
extern "C" {
#include <hidsdi.h>
}

namespace tessaro {
namespace {

HANDLE ToHandle(HidHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// The set of present HID interfaces, destroyed with the walk.
class DeviceInfoSet {
 public:
  explicit DeviceInfoSet(HDEVINFO set) : set_(set) {}
  ~DeviceInfoSet() {
    if (set_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set_);
  }
  DeviceInfoSet(const DeviceInfoSet&) = delete;
  DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
  HDEVINFO get() const { return set_; }

 private:
  HDEVINFO set_;
};

struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};
using DetailBuffer = std::unique_ptr<SP_DEVICE_INTERFACE_DETAIL_DATA_W, FreeDeleter>;

// The detail data must hold at least its size field and one path character.
constexpr DWORD kSmallestDetailBytes = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + sizeof(WCHAR);

class Win32Walk final : public HidWalk {
 public:
  Win32Walk() : set_(OpenSet(guid_)) {}

  bool Next(HidInterface& out) override {
    for (;;) {
      SP_DEVICE_INTERFACE_DATA interfaceData = {};
      interfaceData.cbSize = sizeof(interfaceData);
      if (!SetupDiEnumDeviceInterfaces(set_.get(), nullptr, &guid_, index_, &interfaceData)) return false;
      ++index_;

      // The first call only tells the size; it fails by design.
      DWORD requiredBytes = 0;
      SetupDiGetDeviceInterfaceDetailW(set_.get(), &interfaceData, nullptr, 0, &requiredBytes, nullptr);
      detail_.reset();
      if (requiredBytes < kSmallestDetailBytes) continue;
      detail_.reset(static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::calloc(1, requiredBytes)));
      // An interface whose details cannot be had is passed over like one
      // that cannot be opened.
      if (!detail_) continue;
      detail_->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
      if (!SetupDiGetDeviceInterfaceDetailW(set_.get(), &interfaceData, detail_.get(), requiredBytes, nullptr,
                                            nullptr)) {
        continue;
      }
      // The path ends within the buffer even if the call left it unterminated.
      const size_t maxChars = (requiredBytes - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(WCHAR);
      size_t length = 0;
      while (length < maxChars && detail_->DevicePath[length] != L'\0') ++length;
      out.path.assign(detail_->DevicePath, length);
      out.collection = 0;
      return true;
    }
  }

 private:
  static HDEVINFO OpenSet(GUID& guid) {
    HidD_GetHidGuid(&guid);
    return SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  }

  GUID guid_ = {};
  DeviceInfoSet set_;
  DWORD index_ = 0;
  DetailBuffer detail_;
};

class PreparsedData {
 public:
  PreparsedData() = default;
  ~PreparsedData() {
    if (data_ != nullptr) HidD_FreePreparsedData(data_);
  }
  PreparsedData(const PreparsedData&) = delete;
  PreparsedData& operator=(const PreparsedData&) = delete;
  PHIDP_PREPARSED_DATA* out() { return &data_; }
  PHIDP_PREPARSED_DATA get() const { return data_; }

 private:
  PHIDP_PREPARSED_DATA data_ = nullptr;
};

}  // namespace

std::unique_ptr<HidWalk> Win32HidBackend::BeginWalk() { return std::make_unique<Win32Walk>(); }

bool Win32HidBackend::Open(const HidInterface& target, HidHandle& out) {
  const HANDLE handle = CreateFileW(target.path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
    out = kInvalidHidHandle;
    return Fail();
  }
  out = reinterpret_cast<HidHandle>(handle);
  return true;
}

bool Win32HidBackend::GetCaps(HidHandle handle, uint16_t& usagePage, uint16_t& usage) {
  PreparsedData preparsed;
  if (!HidD_GetPreparsedData(ToHandle(handle), preparsed.out())) return Fail();
  // A failed HidP_GetCaps leaves the caps zeroed, which match nothing.
  HIDP_CAPS caps = {};
  HidP_GetCaps(preparsed.get(), &caps);
  usagePage = caps.UsagePage;
  usage = caps.Usage;
  return true;
}

bool Win32HidBackend::GetVendorId(HidHandle handle, uint16_t& vendorId) {
  HIDD_ATTRIBUTES attributes = {};
  attributes.Size = sizeof(attributes);
  if (!HidD_GetAttributes(ToHandle(handle), &attributes)) return Fail();
  vendorId = attributes.VendorID;
  return true;
}

bool Win32HidBackend::SetOutputReport(HidHandle handle, const Report& report) {
  // The call takes a writable buffer; hand it a copy.
  Report copy;
  std::memcpy(copy, report, sizeof(Report));
  return HidD_SetOutputReport(ToHandle(handle), copy, kReportLengthBytes) != FALSE || Fail();
}

bool Win32HidBackend::GetInputReport(HidHandle handle, Report& report) {
  return HidD_GetInputReport(ToHandle(handle), report, kReportLengthBytes) != FALSE || Fail();
}

Win32HidBackend::~Win32HidBackend() {
  for (const auto& claim : claims_) {
    ReleaseMutex(claim.second);
    CloseHandle(claim.second);
  }
}

HidClaim Win32HidBackend::Claim(const HidInterface& target, HidHandle handle) {
  HidClaim claim;
  if (claims_.count(handle) != 0) return claim;
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, ControllerLockName(target.path).c_str());
  if (mutex == nullptr) {
    // A mutex of that name made by another user's process is not ours to
    // open: that process holds the controller.
    if (GetLastError() == ERROR_ACCESS_DENIED) claim.outcome = HidClaim::Outcome::kBusy;
    return claim;
  }
  // An abandoned mutex (its owner ended without releasing it) is ours now.
  const DWORD wait = WaitForSingleObject(mutex, 0);
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
    claims_[handle] = mutex;
  } else {
    CloseHandle(mutex);
    if (wait == WAIT_TIMEOUT) claim.outcome = HidClaim::Outcome::kBusy;
  }
  return claim;
}

void Win32HidBackend::Close(HidHandle handle) {
  CloseHandle(ToHandle(handle));
  const auto claim = claims_.find(handle);
  if (claim == claims_.end()) return;
  ReleaseMutex(claim->second);
  CloseHandle(claim->second);
  claims_.erase(claim);
}

bool Win32HidBackend::Fail() {
  lastError_ = static_cast<uint32_t>(GetLastError());
  return false;
}

// Taken at the call that failed: a message about it may first open the log
// file, which overwrites GetLastError.
uint32_t Win32HidBackend::LastError() { return lastError_; }

}  // namespace tessaro
