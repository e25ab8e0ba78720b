#pragma once
// The HID seam: all that device discovery and register access need of the
// platform's HID stack. The Windows backend (SetupAPI + HID), the Linux
// hidraw backend and the simulated controller implement it.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tessaro {

using HidHandle = std::intptr_t;
constexpr HidHandle kInvalidHidHandle = -1;
constexpr int kReportLengthBytes = 65;
using Report = uint8_t[kReportLengthBytes];

// One top-level collection met in a walk. On Windows every collection is an
// interface of its own; one hidraw node carries several, so several entries
// may share a path and differ by collection index.
struct HidInterface {
  std::wstring path;
  uint32_t collection = 0;
};

// A walk over the present HID interfaces in the platform's order. Entries
// whose details cannot be fetched are skipped silently by the walk itself.
class HidWalk {
 public:
  virtual ~HidWalk() = default;
  virtual bool Next(HidInterface& out) = 0;
};

// A walk over the interfaces listed when it began, so that a host that
// changes during the walk does not move it. Backends that know their
// interfaces up front (the simulator, the doubles) walk with it.
class ListWalk final : public HidWalk {
 public:
  explicit ListWalk(std::vector<HidInterface> interfaces) : interfaces_(std::move(interfaces)) {}
  bool Next(HidInterface& out) override {
    if (next_ >= interfaces_.size()) return false;
    out = interfaces_[next_++];
    return true;
  }

 private:
  std::vector<HidInterface> interfaces_;
  size_t next_ = 0;
};

// What a claim on an opened controller found.
struct HidClaim {
  enum class Outcome { kTaken, kBusy };
  Outcome outcome = Outcome::kTaken;
  // When busy: the process that holds the controller where the platform can
  // tell, else 0.
  uint32_t holderPid = 0;
};

class HidBackend {
 public:
  virtual ~HidBackend() = default;
  virtual std::unique_ptr<HidWalk> BeginWalk() = 0;
  // Opens the interface for reading and writing, shared for both. A handle
  // given out is never 0 nor kInvalidHidHandle: the connection takes both as
  // "not open" and would never close such a handle.
  virtual bool Open(const HidInterface& interface, HidHandle& out) = 0;
  // Usage page and usage of the opened collection; false when its report
  // description (Windows: preparsed data) cannot be had.
  virtual bool GetCaps(HidHandle handle, uint16_t& usagePage, uint16_t& usage) = 0;
  virtual bool GetVendorId(HidHandle handle, uint16_t& vendorId) = 0;
  // Sends one whole 65-byte output report.
  virtual bool SetOutputReport(HidHandle handle, const Report& report) = 0;
  // Fetches one 65-byte input report; byte 0 holds the report ID on entry.
  virtual bool GetInputReport(HidHandle handle, Report& report) = 0;
  // The input and output report lengths, report ID included, that the
  // opened collection announces; false where the platform does not tell.
  virtual bool GetReportLengths(HidHandle handle, uint16_t& inputBytes, uint16_t& outputBytes) {
    (void)handle;
    inputBytes = outputBytes = 0;
    return false;
  }
  // Whether a call failed with `error` because the device is no longer
  // there (unplugged, or re-created under a new path after its reset).
  virtual bool IsGoneError(uint32_t error) {
    (void)error;
    return false;
  }
  // One job per controller: takes the host-wide lock of the controller
  // behind an opened interface, without waiting, and holds it until
  // Close(handle). Busy when another process holds it. A backend that
  // cannot lock, or a lock call that fails for another reason, answers
  // kTaken: the job goes on as it would without the lock.
  virtual HidClaim Claim(const HidInterface& interface, HidHandle handle) {
    (void)interface;
    (void)handle;
    return {};
  }
  virtual void Close(HidHandle handle) = 0;
  // The platform's last error code, for messages.
  virtual uint32_t LastError() = 0;
};

// The name of the host-wide mutex that stands for the controller at a
// Windows device path: "Global\\tessaro-controller-" and 16 hex digits of a
// hash of the path with ASCII letters folded to lower case (Windows paths
// are case-blind, and a backslash may not follow the namespace prefix).
std::wstring ControllerLockName(const std::wstring& devicePath);

// A device path as listings and records show it: UTF-8 (paths are UTF-16
// on Windows, UTF-32 elsewhere; bad units become U+FFFD).
std::string Utf8(const std::wstring& text);

// Whether two device paths as listings show them name the same interface:
// ASCII letters compared without case, as Windows compares its paths.
bool SameDevicePath(const std::string& a, const std::string& b);

// The installed backend; returns the one installed before. nullptr installs
// one with no devices, on which every call fails.
HidBackend& TheHid();
HidBackend* InstallHid(HidBackend* backend);

// One code point appended to UTF-8 text.
void AppendUtf8(std::string& text, uint32_t codePoint);

}  // namespace tessaro
