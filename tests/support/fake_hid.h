#pragma once
// Test doubles for the HID seam.
//
// FakeHid is a host with scripted HID interfaces. It installs itself as the
// HID backend for its lifetime, records every call as an HidEvent, answers
// input reports from a queue or a callback, and fails the calls a test picks.
//
//   FakeHid hid({MatchingInterface(L"\\\\?\\hid#ctl")});
//   hid.AnswerReadsWith([](uint16_t address, uint16_t lengthBytes) {
//     return std::vector<uint8_t>(lengthBytes, 0x11);   // any register reads 0x11
//   });
//   hid.FailNthCall(HidCall::kSetOutputReport, 2);       // the second output report fails
//   CConnectionTLC connection;
//   ... connection.Open(); connection.WriteRegister(...) ...
//   EXPECT_EQ(hid.DeliveredOutReports()[0], ExpectedBytes(...));
//   EXPECT_EQ(hid.OpenHandleCount(), 0);                  // nothing leaked
//
// RecordingHid wraps another backend (the platform's own, say) and records
// the same events while every call goes through to it.
//
// Both render their events as trace lines in the simulated controller's
// trace format (TraceLines), so that one contract test can check either.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/seams.h"
#include "transport/connection.h"

namespace tessaro::testing {

// Error codes the fake reports through LastError, named as on Windows.
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorDeviceNotConnected = 1167;

// One interface of the fake host, walked in the order of FakeHid::interfaces.
struct FakeHidInterface {
  std::wstring path;
  uint32_t collection = 0;
  uint16_t vendorId = 0;
  uint16_t usagePage = 0;
  uint16_t usage = 0;
  bool openable = true;         // false: Open fails with openError
  bool capsFail = false;        // true: GetCaps fails with capsError
  bool attributesFail = false;  // true: GetVendorId fails with attributesError
  uint32_t openError = kErrorAccessDenied;
  uint32_t capsError = kErrorInvalidParameter;
  uint32_t attributesError = kErrorGenFailure;
};

// The controller's register collection (usage page 0xFFF0, usage 1) of the
// given vendor, and another collection of a device (a digitizer by default).
FakeHidInterface MatchingInterface(std::wstring path, uint16_t vendorId = kVendorId, uint32_t collection = 0);
FakeHidInterface OtherInterface(std::wstring path, uint16_t vendorId = kVendorId, uint16_t usagePage = 0x000D,
                                uint16_t usage = 0x0004, uint32_t collection = 0);

enum class HidCall { kWalk, kOpen, kGetCaps, kGetVendorId, kSetOutputReport, kGetInputReport, kClose };

struct HidEvent {
  HidCall call = HidCall::kWalk;
  bool ok = true;
  // The interface concerned: for kOpen the one asked for, for the other
  // calls the one behind the handle; empty for kWalk and unknown handles.
  std::wstring path;
  uint32_t collection = 0;
  // kSetOutputReport: the 65 bytes handed over (also when sending failed).
  // kGetInputReport: the 65 bytes returned (empty when the fetch failed).
  std::vector<uint8_t> bytes;
  // kGetInputReport: the buffer as the caller passed it in.
  std::vector<uint8_t> entryBytes;
  // kGetCaps: usage page and usage; kGetVendorId: vendor ID (when ok).
  uint16_t usagePage = 0;
  uint16_t usage = 0;
  uint16_t vendorId = 0;
};

// Lower-case hex, two digits a byte, no separators.
std::string Hex(const std::vector<uint8_t>& bytes);
// A 65-byte report holding `bytes` from byte 0 on, zeros after.
std::vector<uint8_t> ReportBytes(std::initializer_list<uint8_t> bytes);
std::vector<uint8_t> ReportBytes(const std::vector<uint8_t>& bytes);

// The events as the simulated controller's trace writes them: "walk",
// "open PATH", "close PATH", "out HEX", "out-failed HEX", "in HEX",
// "in-failed". Failed opens, caps and attribute reads leave no line, as in
// that trace. Paths are narrowed character by character (non-ASCII as '?').
std::vector<std::string> TraceLines(const std::vector<HidEvent>& events);

// What the events say about handles: each successful open without a close.
int CountUnclosedOpens(const std::vector<HidEvent>& events);

class FakeHid final : public HidBackend {
 public:
  // Where an input report comes from when the queue is empty: the last
  // output report delivered on the same handle (nullptr when none) and the
  // buffer to fill (byte 0 is 0x0E, the rest zero). False fails the fetch
  // with kErrorGenFailure.
  using Responder = std::function<bool(const Report* lastOut, Report& reply)>;
  // Decides, before a call takes effect, whether it fails. `target` is
  // the one concerned (nullptr for kWalk and unknown handles), `report` the
  // output report for kSetOutputReport (else nullptr). Set `error` to the
  // code LastError should give; it starts as kErrorGenFailure.
  using FailPredicate =
      std::function<bool(HidCall call, const FakeHidInterface* target, const uint8_t* report, uint32_t& error)>;

  FakeHid();
  explicit FakeHid(std::vector<FakeHidInterface> interfaces);
  ~FakeHid() override;
  FakeHid(const FakeHid&) = delete;
  FakeHid& operator=(const FakeHid&) = delete;

  // The host's interfaces; a test may change them between walks.
  std::vector<FakeHidInterface> interfaces;
  // Everything that happened, in order.
  std::vector<HidEvent> events;
  Responder responder;
  FailPredicate failIf;
  // What a claim on an opened interface finds; taken when unset.
  std::function<HidClaim(const HidInterface& target)> claimAnswer;

  // Input reports, served in order before the responder is asked.
  void QueueReply(const Report& reply);
  // A reply announcing data.size() bytes and carrying them.
  void QueueReplyData(const std::vector<uint8_t>& data);
  // A reply announcing `announcedBytes` but carrying `data`.
  void QueueReplyAnnouncing(uint16_t announcedBytes, const std::vector<uint8_t>& data);
  void QueueInputFailure(uint32_t error = kErrorGenFailure);
  // Sets a responder that answers each register read request with the bytes
  // `read` returns for its address and length (the reply announces their
  // number), and fails the fetch when the last output was no read request.
  void AnswerReadsWith(std::function<std::vector<uint8_t>(uint16_t address, uint16_t lengthBytes)> read);

  // The nth call of a kind (counting from 1 over the fake's life) fails. A
  // failed kWalk yields no interfaces; failed calls are recorded like others.
  void FailNthCall(HidCall call, int nth, uint32_t error = kErrorGenFailure);
  // Every call of a kind from the nth on fails.
  void FailCallsFrom(HidCall call, int nth, uint32_t error = kErrorGenFailure);

  int CallCount(HidCall call) const;
  // The 65-byte output reports that were delivered, in order.
  std::vector<std::vector<uint8_t>> DeliveredOutReports() const;
  // Handles given out and not closed yet.
  int OpenHandleCount() const { return static_cast<int>(open_.size()); }
  std::vector<std::string> Trace() const { return TraceLines(events); }

  std::unique_ptr<HidWalk> BeginWalk() override;
  bool Open(const HidInterface& target, HidHandle& out) override;
  bool GetCaps(HidHandle handle, uint16_t& usagePage, uint16_t& usage) override;
  bool GetVendorId(HidHandle handle, uint16_t& vendorId) override;
  bool SetOutputReport(HidHandle handle, const Report& report) override;
  bool GetInputReport(HidHandle handle, Report& report) override;
  HidClaim Claim(const HidInterface& target, HidHandle) override {
    return claimAnswer ? claimAnswer(target) : HidClaim{};
  }
  void Close(HidHandle handle) override;
  uint32_t LastError() override { return lastError_; }
  // As on Windows.
  bool IsGoneError(uint32_t error) override {
    return error == kErrorDeviceNotConnected || error == kErrorFileNotFound;
  }

 private:
  struct OpenInterface {
    FakeHidInterface target;
    std::vector<uint8_t> lastOut;
  };
  struct QueuedReply {
    bool ok = true;
    uint32_t error = 0;
    std::vector<uint8_t> bytes;
  };
  // Counts the call and applies FailNthCall/FailCallsFrom and failIf.
  bool ShouldFail(HidCall call, const FakeHidInterface* target, const uint8_t* report);
  OpenInterface* Find(HidHandle handle);
  HidEvent EventFor(HidCall call, const OpenInterface* open) const;

  Installed<HidBackend> installed_{this};
  std::map<HidHandle, OpenInterface> open_;
  HidHandle nextHandle_ = 0x100;
  uint32_t lastError_ = 0;
  std::deque<QueuedReply> replies_;
  std::map<HidCall, int> callCounts_;
  std::map<HidCall, std::map<int, uint32_t>> failNth_;
  std::map<HidCall, std::pair<int, uint32_t>> failFrom_;
};

// Records the calls made to another backend, which does the work. Installs
// itself for its lifetime, like FakeHid.
class RecordingHid final : public HidBackend {
 public:
  explicit RecordingHid(HidBackend& inner);
  ~RecordingHid() override;
  RecordingHid(const RecordingHid&) = delete;
  RecordingHid& operator=(const RecordingHid&) = delete;

  std::vector<HidEvent> events;
  std::vector<std::string> Trace() const { return TraceLines(events); }
  // Interfaces the walks yielded, in order, all walks together.
  std::vector<HidInterface> walked;

  std::unique_ptr<HidWalk> BeginWalk() override;
  bool Open(const HidInterface& target, HidHandle& out) override;
  bool GetCaps(HidHandle handle, uint16_t& usagePage, uint16_t& usage) override;
  bool GetVendorId(HidHandle handle, uint16_t& vendorId) override;
  bool SetOutputReport(HidHandle handle, const Report& report) override;
  bool GetInputReport(HidHandle handle, Report& report) override;
  HidClaim Claim(const HidInterface& target, HidHandle handle) override { return inner_.Claim(target, handle); }
  void Close(HidHandle handle) override;
  uint32_t LastError() override { return inner_.LastError(); }
  bool GetReportLengths(HidHandle handle, uint16_t& inputBytes, uint16_t& outputBytes) override {
    return inner_.GetReportLengths(handle, inputBytes, outputBytes);
  }
  bool IsGoneError(uint32_t error) override { return inner_.IsGoneError(error); }

 private:
  class Walk;
  HidEvent EventFor(HidCall call, HidHandle handle) const;

  HidBackend& inner_;
  Installed<HidBackend> installed_{this};
  std::map<HidHandle, HidInterface> open_;
};

}  // namespace tessaro::testing
