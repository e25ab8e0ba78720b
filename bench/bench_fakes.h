#pragma once
// What the benchmarks put behind the HID seam: a controller that costs
// nothing (it discards every write and answers every read at once), so that
// only the tool's own work is timed. The clock and the log are the tests'
// FakeClock and LogCapture, told to keep nothing.
#include <cstdint>
#include <cstring>
#include <memory>

#include "base/seams.h"
#include "transport/connection.h"
#include "transport/registers.h"
#include "transport/report.h"

namespace tessaro::bench {

// One matching collection whose controller answers every read at once:
// 0xDD at 0x5095 and 0xAA at 0x5096 (so a switch and every flashed chunk are
// confirmed by the first poll), the VERSION block of `pid` and `vid`, zeros
// elsewhere. It keeps nothing of what it is sent.
class InstantController final : public HidBackend {
 public:
  InstantController() = default;
  InstantController(const InstantController&) = delete;
  InstantController& operator=(const InstantController&) = delete;

  std::unique_ptr<HidWalk> BeginWalk() override {
    return std::make_unique<ListWalk>(std::vector<HidInterface>{{L"instant", 0}});
  }
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
    for (uint16_t i = 0; i < askedBytes_; ++i) {
      report[kReplyDataOffset + i] = ByteAt(static_cast<uint16_t>(askedAddress_ + i));
    }
    return true;
  }
  void Close(HidHandle) override {}
  uint32_t LastError() override { return 0; }

  char pid[4] = {'T', 'S', '0', '1'};
  uint8_t vid[4] = {0x01, 0x00, 0x00, 0x01};
  uint64_t outputReports = 0;

 private:
  uint8_t ByteAt(uint16_t address) const {
    if (address == reg::kPatchStateAddr) return reg::kPatchReady;
    if (address == reg::kFlashStateAddr) return reg::kFlashDone;
    const uint16_t offset = static_cast<uint16_t>(address - reg::kVersionAddr);
    if (offset < 4) return static_cast<uint8_t>(pid[offset]);
    if (offset < 8) return vid[offset - 4];
    return 0;
  }

  Installed<HidBackend> installed_{this};
  uint16_t askedAddress_ = 0;
  uint16_t askedBytes_ = 0;
};

// A connection that counts as open on the instant controller.
inline void MarkOpen(CConnectionTLC& connection) {
  connection.deviceHandle = 1;
  connection.opened = 1;
}

}  // namespace tessaro::bench
