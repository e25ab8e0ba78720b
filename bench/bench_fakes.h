#pragma once
// What the benchmarks put behind the seams: a controller that costs nothing
// (it discards every write and answers every read at once) and a clock that
// never waits, so that only the tool's own work is timed.
#include <cstdint>
#include <cstring>
#include <memory>

#include "app/log.h"
#include "platform/clock.h"
#include "transport/connection.h"
#include "transport/hid.h"
#include "transport/registers.h"

namespace tessaro::bench {

// One matching collection whose controller answers every read at once:
// 0xDD at 0x5095 and 0xAA at 0x5096 (so a switch and every flashed chunk are
// confirmed by the first poll), the VERSION block of `pid` and `vid`, zeros
// elsewhere. It keeps nothing of what it is sent.
class InstantController final : public HidBackend {
 public:
  InstantController() : previous_(InstallHid(this)) {}
  ~InstantController() override { InstallHid(previous_); }
  InstantController(const InstantController&) = delete;
  InstantController& operator=(const InstantController&) = delete;

  std::unique_ptr<HidWalk> BeginWalk() override { return std::make_unique<OneWalk>(); }
  bool Open(const HidInterface&, HidHandle& out) override {
    out = 1;
    return true;
  }
  bool GetCaps(HidHandle, uint16_t& usagePage, uint16_t& usage) override {
    usagePage = reg::kUsagePage;
    usage = reg::kUsage;
    return true;
  }
  bool GetVendorId(HidHandle, uint16_t& vendorId) override {
    vendorId = kVendorId;
    return true;
  }
  bool SetOutputReport(HidHandle, const Report& report) override {
    ++outputReports;
    if (report[1] == reg::kCmdRegisterAccess && report[5] == reg::kDirRead) {
      askedAddress_ = static_cast<uint16_t>(report[6] << 8 | report[7]);
      askedBytes_ = static_cast<uint16_t>(report[8] << 8 | report[9]);
      if (askedBytes_ > reg::kMaxReadBytes) askedBytes_ = reg::kMaxReadBytes;
    }
    return true;
  }
  bool GetInputReport(HidHandle, Report& report) override {
    std::memset(report + 1, 0, sizeof(Report) - 1);
    report[3] = static_cast<uint8_t>(askedBytes_ >> 8);
    report[4] = static_cast<uint8_t>(askedBytes_);
    for (uint16_t i = 0; i < askedBytes_; ++i) report[5 + i] = ByteAt(static_cast<uint16_t>(askedAddress_ + i));
    return true;
  }
  void Close(HidHandle) override {}
  uint32_t LastError() override { return 0; }

  char pid[4] = {'T', 'S', '0', '1'};
  uint8_t vid[4] = {0x01, 0x00, 0x00, 0x01};
  uint64_t outputReports = 0;

 private:
  class OneWalk final : public HidWalk {
   public:
    bool Next(HidInterface& out) override {
      if (done_) return false;
      done_ = true;
      out = HidInterface{L"instant", 0};
      return true;
    }

   private:
    bool done_ = false;
  };

  uint8_t ByteAt(uint16_t address) const {
    if (address == reg::kPatchStateAddr) return reg::kPatchReady;
    if (address == reg::kFlashStateAddr) return reg::kFlashDone;
    const uint16_t offset = static_cast<uint16_t>(address - reg::kVersionAddr);
    if (offset < 4) return static_cast<uint8_t>(pid[offset]);
    if (offset < 8) return vid[offset - 4];
    return 0;
  }

  HidBackend* previous_;
  uint16_t askedAddress_ = 0;
  uint16_t askedBytes_ = 0;
};

class NoWaitClock final : public Clock {
 public:
  NoWaitClock() : previous_(InstallClock(this)) {}
  ~NoWaitClock() override { InstallClock(previous_); }
  NoWaitClock(const NoWaitClock&) = delete;
  NoWaitClock& operator=(const NoWaitClock&) = delete;

  // The time of day stays the one installed before, so log stamps are real.
  UtcTime NowUtc() override { return previous_->NowUtc(); }
  void SleepMs(uint32_t sleepMs) override { sleptMs += sleepMs; }
  uint64_t sleptMs = 0;

 private:
  Clock* previous_;
};

// The default log mask with a sink that takes the formatted line and drops
// it: progress lines are formatted as in a real run, and nothing is printed.
class SilentLog {
 public:
  SilentLog() : previousSink_(logSink), previousMask_(logMask) {
    logSink = [](const char*) {};
    logMask = kLogInfo;
  }
  ~SilentLog() {
    logSink = previousSink_;
    logMask = previousMask_;
  }
  SilentLog(const SilentLog&) = delete;
  SilentLog& operator=(const SilentLog&) = delete;

 private:
  LogSink previousSink_;
  int32_t previousMask_;
};

// A connection that counts as open on the instant controller.
inline void MarkOpen(CConnectionTLC& connection) {
  connection.deviceHandle = 1;
  connection.opened = 1;
}

}  // namespace tessaro::bench
