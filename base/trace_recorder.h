#pragma once
// TESSARO_TRACE: every HID event and sleep of a run, recorded at the seams
// in the trace format of tessaro-sim, so that a field run on real hardware
// can be laid beside the same job on the simulator, line by line. It wraps
// whatever backends are installed, so it records the same in every build.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/hid.h"
#include "base/seams.h"
#include "base/trace.h"

namespace tessaro {

class TracingHid final : public HidBackend {
 public:
  TracingHid(HidBackend& inner, class TraceRecorder& recorder) : inner_(inner), recorder_(recorder) {}

  std::unique_ptr<HidWalk> BeginWalk() override;
  bool Open(const HidInterface& interface, HidHandle& out) override;
  bool GetCaps(HidHandle handle, uint16_t& usagePage, uint16_t& usage) override {
    return inner_.GetCaps(handle, usagePage, usage);
  }
  bool GetVendorId(HidHandle handle, uint16_t& vendorId) override { return inner_.GetVendorId(handle, vendorId); }
  bool SetOutputReport(HidHandle handle, const Report& report) override;
  bool GetInputReport(HidHandle handle, Report& report) override;
  // Not an event of the wire, but the lock must be the inner backend's.
  HidClaim Claim(const HidInterface& interface, HidHandle handle) override { return inner_.Claim(interface, handle); }
  void Close(HidHandle handle) override;
  uint32_t LastError() override { return inner_.LastError(); }

 private:
  HidBackend& inner_;
  TraceRecorder& recorder_;
  std::map<HidHandle, std::wstring> paths_;
};

class TracingClock final : public Clock {
 public:
  TracingClock(Clock& inner, TraceRecorder& recorder) : inner_(inner), recorder_(recorder) {}
  UtcTime NowUtc() override { return inner_.NowUtc(); }
  void SleepMs(uint32_t sleepMs) override;

 private:
  Clock& inner_;
  TraceRecorder& recorder_;
};

// Installs the two wrappers over the installed HID backend and clock for its
// life, and restores them when it ends. Sleeps before the first HID event are
// held back and dropped if the run never reaches the HID layer, so that such
// a run leaves the file alone, as tessaro-sim leaves its trace.
class TraceRecorder {
 public:
  explicit TraceRecorder(std::string path);
  TraceRecorder(const TraceRecorder&) = delete;
  TraceRecorder& operator=(const TraceRecorder&) = delete;

  void HidEvent(const std::string& line);
  void Sleep(const std::string& line);

 private:
  trace::File file_;
  bool hidUsed_ = false;
  std::vector<std::string> heldSleeps_;
  TracingHid hid_;
  TracingClock clock_;
  Installed<HidBackend> installedHid_;
  Installed<Clock> installedClock_;
};

// The recorder when TESSARO_TRACE names a file; nothing otherwise, so that
// an unset variable costs no wrapper at all.
std::unique_ptr<TraceRecorder> TraceRecorderFromEnvironment();

}  // namespace tessaro
