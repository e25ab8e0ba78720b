// hid_win32.h comes before <windows.h>, whose `interface` macro would break
// the seam's declarations.
#include "platform/win32/hid_win32.h"

#include <windows.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "base/log.h"
#include "platform/win32/win32_api.h"

// The class driver's report requests, as hidclass.h defines them, for
// headers that lack them.
#ifndef IOCTL_HID_SET_OUTPUT_REPORT
#define IOCTL_HID_SET_OUTPUT_REPORT CTL_CODE(FILE_DEVICE_KEYBOARD, 101, METHOD_IN_DIRECT, FILE_ANY_ACCESS)
#endif
#ifndef IOCTL_HID_GET_INPUT_REPORT
#define IOCTL_HID_GET_INPUT_REPORT CTL_CODE(FILE_DEVICE_KEYBOARD, 104, METHOD_OUT_DIRECT, FILE_ANY_ACCESS)
#endif

namespace tessaro {

struct Win32HidBackend::Channel {
  HANDLE event = nullptr;
  OVERLAPPED overlapped = {};
  Report in = {};
  Report out = {};
  // A cancelled request that did not end: the driver may still write into
  // the buffers, so the channel is never reused nor freed.
  bool stuck = false;
};

namespace {

HANDLE ToHandle(HidHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// The set of present HID interfaces, destroyed with the walk.
class DeviceInfoSet {
 public:
  explicit DeviceInfoSet(HDEVINFO set) : set_(set) {}
  ~DeviceInfoSet() {
    if (set_ != INVALID_HANDLE_VALUE) Api().SetupDiDestroyDeviceInfoList(set_);
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
      if (!Api().SetupDiEnumDeviceInterfaces(set_.get(), nullptr, &guid_, index_, &interfaceData)) return false;
      ++index_;

      // The first call only tells the size; it fails by design.
      DWORD requiredBytes = 0;
      Api().SetupDiGetDeviceInterfaceDetailW(set_.get(), &interfaceData, nullptr, 0, &requiredBytes, nullptr);
      detail_.reset();
      if (requiredBytes < kSmallestDetailBytes) continue;
      detail_.reset(static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::calloc(1, requiredBytes)));
      // An interface whose details cannot be had is passed over like one
      // that cannot be opened.
      if (!detail_) continue;
      detail_->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
      if (!Api().SetupDiGetDeviceInterfaceDetailW(set_.get(), &interfaceData, detail_.get(), requiredBytes, nullptr,
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
    Api().HidD_GetHidGuid(&guid);
    return Api().SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
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
    if (data_ != nullptr) Api().HidD_FreePreparsedData(data_);
  }
  PreparsedData(const PreparsedData&) = delete;
  PreparsedData& operator=(const PreparsedData&) = delete;
  PHIDP_PREPARSED_DATA* out() { return &data_; }
  PHIDP_PREPARSED_DATA get() const { return data_; }

 private:
  PHIDP_PREPARSED_DATA data_ = nullptr;
};

// Caps of an opened collection; false (GetLastError set) without preparsed
// data. A failed HidP_GetCaps leaves the caps zeroed, which match nothing.
bool ReadCaps(HANDLE handle, HIDP_CAPS& caps) {
  PreparsedData preparsed;
  caps = {};
  if (!Api().HidD_GetPreparsedData(handle, preparsed.out())) return false;
  Api().HidP_GetCaps(preparsed.get(), &caps);
  return true;
}

}  // namespace

Win32HidBackend::Win32HidBackend() = default;

std::unique_ptr<HidWalk> Win32HidBackend::BeginWalk() { return std::make_unique<Win32Walk>(); }

bool Win32HidBackend::Open(const HidInterface& target, HidHandle& out) {
  out = kInvalidHidHandle;
  const HANDLE handle = Api().CreateFileW(target.path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return Fail();
  auto channel = std::make_unique<Channel>();
  // Manual reset: the request resets it when it starts, and it stays set
  // once the request has ended, however often that is asked.
  channel->event = Api().CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (channel->event == nullptr) {
    Fail();
    Api().CloseHandle(handle);
    return false;
  }
  out = reinterpret_cast<HidHandle>(handle);
  channels_[out] = std::move(channel);
  return true;
}

bool Win32HidBackend::GetCaps(HidHandle handle, uint16_t& usagePage, uint16_t& usage) {
  HIDP_CAPS caps;
  if (!ReadCaps(ToHandle(handle), caps)) return Fail();
  usagePage = caps.UsagePage;
  usage = caps.Usage;
  return true;
}

bool Win32HidBackend::GetReportLengths(HidHandle handle, uint16_t& inputBytes, uint16_t& outputBytes) {
  HIDP_CAPS caps;
  if (!ReadCaps(ToHandle(handle), caps)) return Fail();
  inputBytes = caps.InputReportByteLength;
  outputBytes = caps.OutputReportByteLength;
  return true;
}

bool Win32HidBackend::GetVendorId(HidHandle handle, uint16_t& vendorId) {
  HIDD_ATTRIBUTES attributes = {};
  attributes.Size = sizeof(attributes);
  if (!Api().HidD_GetAttributes(ToHandle(handle), &attributes)) return Fail();
  vendorId = attributes.VendorID;
  return true;
}

bool Win32HidBackend::Request(HidHandle handle, uint32_t ioctl, const Report& in, Report* out) {
  const auto found = channels_.find(handle);
  if (found == channels_.end()) return Fail(ERROR_INVALID_HANDLE);
  Channel& channel = *found->second;
  // The request before never ended: its buffers are still the driver's.
  if (channel.stuck) return Fail(kReportTimeoutError);

  // The report goes in both buffers: the class driver reads a report to
  // send from either, and fills a fetched one in place of the ID.
  std::memcpy(channel.in, in, sizeof(Report));
  std::memcpy(channel.out, in, sizeof(Report));
  channel.overlapped = {};
  channel.overlapped.hEvent = channel.event;
  const HANDLE device = ToHandle(handle);
  DWORD bytes = 0;
  if (!Api().DeviceIoControl(device, ioctl, channel.in, kReportLengthBytes, channel.out, kReportLengthBytes, &bytes,
                             &channel.overlapped)) {
    const DWORD error = Api().GetLastError();
    if (error != ERROR_IO_PENDING) return Fail(error);
    if (Api().WaitForSingleObject(channel.event, kReportTimeoutMs) != WAIT_OBJECT_0) {
      Api().CancelIoEx(device, &channel.overlapped);
      // The buffers may be handed back only once the request has ended.
      if (Api().WaitForSingleObject(channel.event, kCancelWaitMs) == WAIT_OBJECT_0) {
        Api().GetOverlappedResult(device, &channel.overlapped, &bytes, FALSE);
      } else {
        channel.stuck = true;
      }
      LOG_ERROR("error     : the controller did not answer a report within %u ms; request cancelled\n",
                static_cast<unsigned>(kReportTimeoutMs));
      return Fail(kReportTimeoutError);
    }
    if (!Api().GetOverlappedResult(device, &channel.overlapped, &bytes, FALSE)) return Fail();
  }
  if (out != nullptr) std::memcpy(*out, channel.out, sizeof(Report));
  return true;
}

bool Win32HidBackend::SetOutputReport(HidHandle handle, const Report& report) {
  return Request(handle, IOCTL_HID_SET_OUTPUT_REPORT, report, nullptr);
}

bool Win32HidBackend::GetInputReport(HidHandle handle, Report& report) {
  return Request(handle, IOCTL_HID_GET_INPUT_REPORT, report, &report);
}

bool Win32HidBackend::IsGoneError(uint32_t error) {
  return error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_FILE_NOT_FOUND;
}

Win32HidBackend::~Win32HidBackend() {
  for (const auto& claim : claims_) {
    Api().ReleaseMutex(claim.second);
    Api().CloseHandle(claim.second);
  }
  // Handles the connection left open are not closed here (that is its
  // business), but their channels go: none may be stuck and freed.
  for (auto& channel : channels_) {
    if (channel.second->stuck) {
      static_cast<void>(channel.second.release());
    } else {
      Api().CloseHandle(channel.second->event);
    }
  }
}

HidClaim Win32HidBackend::Claim(const HidInterface& target, HidHandle handle) {
  HidClaim claim;
  if (claims_.count(handle) != 0) return claim;
  const HANDLE mutex = Api().CreateMutexW(nullptr, FALSE, ControllerLockName(target.path).c_str());
  if (mutex == nullptr) {
    // A mutex of that name made by another user's process is not ours to
    // open: that process holds the controller.
    if (Api().GetLastError() == ERROR_ACCESS_DENIED) claim.outcome = HidClaim::Outcome::kBusy;
    return claim;
  }
  // An abandoned mutex (its owner ended without releasing it) is ours now.
  const DWORD wait = Api().WaitForSingleObject(mutex, 0);
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
    claims_[handle] = mutex;
  } else {
    Api().CloseHandle(mutex);
    if (wait == WAIT_TIMEOUT) claim.outcome = HidClaim::Outcome::kBusy;
  }
  return claim;
}

void Win32HidBackend::Close(HidHandle handle) {
  // Closing the device cancels what is still pending on it.
  Api().CloseHandle(ToHandle(handle));
  const auto channel = channels_.find(handle);
  if (channel != channels_.end()) {
    if (channel->second->stuck) {
      static_cast<void>(channel->second.release());  // the driver may still write into it
    } else {
      Api().CloseHandle(channel->second->event);
    }
    channels_.erase(channel);
  }
  const auto claim = claims_.find(handle);
  if (claim == claims_.end()) return;
  Api().ReleaseMutex(claim->second);
  Api().CloseHandle(claim->second);
  claims_.erase(claim);
}

bool Win32HidBackend::Fail() { return Fail(static_cast<uint32_t>(Api().GetLastError())); }

bool Win32HidBackend::Fail(uint32_t error) {
  lastError_ = error;
  return false;
}

// Taken at the call that failed: a message about it may first open the log
// file, which overwrites GetLastError.
uint32_t Win32HidBackend::LastError() { return lastError_; }

}  // namespace tessaro
