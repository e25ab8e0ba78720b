#include "tests/support/fake_hid.h"

#include <cstring>

#include "transport/registers.h"
#include "transport/report.h"

namespace tessaro::testing {
namespace {

std::string Narrow(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  return out;
}

std::vector<uint8_t> Bytes(const Report& report) { return std::vector<uint8_t>(report, report + kReportLengthBytes); }

}  // namespace

FakeHidInterface MatchingInterface(std::wstring path, uint16_t vendorId, uint32_t collection) {
  FakeHidInterface result;
  result.path = std::move(path);
  result.collection = collection;
  result.vendorId = vendorId;
  result.usagePage = reg::kUsagePage;
  result.usage = reg::kUsage;
  return result;
}

FakeHidInterface OtherInterface(std::wstring path, uint16_t vendorId, uint16_t usagePage, uint16_t usage,
                                uint32_t collection) {
  FakeHidInterface result;
  result.path = std::move(path);
  result.collection = collection;
  result.vendorId = vendorId;
  result.usagePage = usagePage;
  result.usage = usage;
  return result;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

std::vector<uint8_t> ReportBytes(std::initializer_list<uint8_t> bytes) {
  return ReportBytes(std::vector<uint8_t>(bytes));
}

std::vector<uint8_t> ReportBytes(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> out(bytes);
  out.resize(kReportLengthBytes, 0);
  return out;
}

std::vector<std::string> TraceLines(const std::vector<HidEvent>& events) {
  std::vector<std::string> lines;
  for (const HidEvent& event : events) {
    switch (event.call) {
      case HidCall::kWalk:
        lines.push_back("walk");
        break;
      case HidCall::kOpen:
        if (event.ok) lines.push_back("open " + Narrow(event.path));
        break;
      case HidCall::kClose:
        if (event.ok) lines.push_back("close " + Narrow(event.path));
        break;
      case HidCall::kSetOutputReport:
        lines.push_back((event.ok ? "out " : "out-failed ") + Hex(event.bytes));
        break;
      case HidCall::kGetInputReport:
        lines.push_back(event.ok ? "in " + Hex(event.bytes) : "in-failed");
        break;
      case HidCall::kGetCaps:
      case HidCall::kGetVendorId:
        break;
    }
  }
  return lines;
}

int CountUnclosedOpens(const std::vector<HidEvent>& events) {
  int count = 0;
  for (const HidEvent& event : events) {
    if (event.call == HidCall::kOpen && event.ok) ++count;
    if (event.call == HidCall::kClose && event.ok) --count;
  }
  return count;
}

// ---------------------------------------------------------------- FakeHid

FakeHid::FakeHid() = default;

FakeHid::FakeHid(std::vector<FakeHidInterface> interfacesOfHost) : interfaces(std::move(interfacesOfHost)) {}

FakeHid::~FakeHid() = default;

void FakeHid::QueueReply(const Report& reply) { replies_.push_back({true, 0, Bytes(reply)}); }

void FakeHid::QueueReplyData(const std::vector<uint8_t>& data) {
  QueueReplyAnnouncing(static_cast<uint16_t>(data.size()), data);
}

void FakeHid::QueueReplyAnnouncing(uint16_t announcedBytes, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> reply(kReportLengthBytes, 0);
  reply[0] = reg::kReportId;
  reply[3] = static_cast<uint8_t>(announcedBytes >> 8);
  reply[4] = static_cast<uint8_t>(announcedBytes & 0xFF);
  for (size_t i = 0; i < data.size() && kReplyDataOffset + i < reply.size(); ++i) reply[kReplyDataOffset + i] = data[i];
  replies_.push_back({true, 0, reply});
}

void FakeHid::QueueInputFailure(uint32_t error) { replies_.push_back({false, error, {}}); }

void FakeHid::AnswerReadsWith(std::function<std::vector<uint8_t>(uint16_t address, uint16_t lengthBytes)> read) {
  responder = [read = std::move(read)](const Report* lastOut, Report& reply) {
    if (lastOut == nullptr) return false;
    const Report& out = *lastOut;
    if (out[1] != reg::kCmdRegisterAccess || out[5] != reg::kDirRead) return false;
    const uint16_t address = static_cast<uint16_t>(out[6] << 8 | out[7]);
    const uint16_t lengthBytes = static_cast<uint16_t>(out[8] << 8 | out[9]);
    const std::vector<uint8_t> data = read(address, lengthBytes);
    reply[3] = static_cast<uint8_t>(data.size() >> 8);
    reply[4] = static_cast<uint8_t>(data.size() & 0xFF);
    for (size_t i = 0; i < data.size() && kReplyDataOffset + i < sizeof(Report); ++i) {
      reply[kReplyDataOffset + i] = data[i];
    }
    return true;
  };
}

void FakeHid::FailNthCall(HidCall call, int nth, uint32_t error) { failNth_[call][nth] = error; }

void FakeHid::FailCallsFrom(HidCall call, int nth, uint32_t error) { failFrom_[call] = {nth, error}; }

int FakeHid::CallCount(HidCall call) const {
  const auto found = callCounts_.find(call);
  return found == callCounts_.end() ? 0 : found->second;
}

std::vector<std::vector<uint8_t>> FakeHid::DeliveredOutReports() const {
  std::vector<std::vector<uint8_t>> out;
  for (const HidEvent& event : events) {
    if (event.call == HidCall::kSetOutputReport && event.ok) out.push_back(event.bytes);
  }
  return out;
}

bool FakeHid::ShouldFail(HidCall call, const FakeHidInterface* target, const uint8_t* report) {
  const int count = ++callCounts_[call];
  const auto nth = failNth_.find(call);
  if (nth != failNth_.end()) {
    const auto hit = nth->second.find(count);
    if (hit != nth->second.end()) {
      lastError_ = hit->second;
      return true;
    }
  }
  const auto from = failFrom_.find(call);
  if (from != failFrom_.end() && count >= from->second.first) {
    lastError_ = from->second.second;
    return true;
  }
  if (failIf) {
    uint32_t error = kErrorGenFailure;
    if (failIf(call, target, report, error)) {
      lastError_ = error;
      return true;
    }
  }
  return false;
}

FakeHid::OpenInterface* FakeHid::Find(HidHandle handle) {
  const auto found = open_.find(handle);
  return found == open_.end() ? nullptr : &found->second;
}

HidEvent FakeHid::EventFor(HidCall call, const OpenInterface* open) const {
  HidEvent event;
  event.call = call;
  if (open != nullptr) {
    event.path = open->target.path;
    event.collection = open->target.collection;
  }
  return event;
}

std::unique_ptr<HidWalk> FakeHid::BeginWalk() {
  const bool fail = ShouldFail(HidCall::kWalk, nullptr, nullptr);
  HidEvent event = EventFor(HidCall::kWalk, nullptr);
  event.ok = !fail;
  events.push_back(event);
  // A snapshot: a test that changes the host mid-walk does not move this walk.
  std::vector<HidInterface> walked;
  if (!fail) {
    for (const FakeHidInterface& interface : interfaces) walked.push_back({interface.path, interface.collection});
  }
  return std::make_unique<ListWalk>(std::move(walked));
}

bool FakeHid::Open(const HidInterface& target, HidHandle& out) {
  out = kInvalidHidHandle;
  HidEvent event = EventFor(HidCall::kOpen, nullptr);
  event.path = target.path;
  event.collection = target.collection;
  const FakeHidInterface* known = nullptr;
  for (const FakeHidInterface& candidate : interfaces) {
    if (candidate.path == target.path && candidate.collection == target.collection) {
      known = &candidate;
      break;
    }
  }
  const bool fail = ShouldFail(HidCall::kOpen, known, nullptr);
  if (known == nullptr) {
    lastError_ = 2;  // not found
    event.ok = false;
  } else if (fail) {
    event.ok = false;
  } else if (!known->openable) {
    lastError_ = known->openError;
    event.ok = false;
  } else {
    out = nextHandle_;
    nextHandle_ += 4;
    open_[out] = OpenInterface{*known, {}};
  }
  events.push_back(event);
  return event.ok;
}

bool FakeHid::GetCaps(HidHandle handle, uint16_t& usagePage, uint16_t& usage) {
  OpenInterface* open = Find(handle);
  HidEvent event = EventFor(HidCall::kGetCaps, open);
  const bool fail = ShouldFail(HidCall::kGetCaps, open ? &open->target : nullptr, nullptr);
  if (open == nullptr) {
    lastError_ = kErrorInvalidHandle;
    event.ok = false;
  } else if (fail) {
    event.ok = false;
  } else if (open->target.capsFail) {
    lastError_ = open->target.capsError;
    event.ok = false;
  } else {
    usagePage = event.usagePage = open->target.usagePage;
    usage = event.usage = open->target.usage;
  }
  events.push_back(event);
  return event.ok;
}

bool FakeHid::GetVendorId(HidHandle handle, uint16_t& vendorId) {
  OpenInterface* open = Find(handle);
  HidEvent event = EventFor(HidCall::kGetVendorId, open);
  const bool fail = ShouldFail(HidCall::kGetVendorId, open ? &open->target : nullptr, nullptr);
  if (open == nullptr) {
    lastError_ = kErrorInvalidHandle;
    event.ok = false;
  } else if (fail) {
    event.ok = false;
  } else if (open->target.attributesFail) {
    lastError_ = open->target.attributesError;
    event.ok = false;
  } else {
    vendorId = event.vendorId = open->target.vendorId;
  }
  events.push_back(event);
  return event.ok;
}

bool FakeHid::SetOutputReport(HidHandle handle, const Report& report) {
  OpenInterface* open = Find(handle);
  HidEvent event = EventFor(HidCall::kSetOutputReport, open);
  event.bytes = Bytes(report);
  const bool fail = ShouldFail(HidCall::kSetOutputReport, open ? &open->target : nullptr, report);
  if (open == nullptr) {
    lastError_ = kErrorInvalidHandle;
    event.ok = false;
  } else if (fail) {
    event.ok = false;
  } else {
    open->lastOut = event.bytes;
  }
  events.push_back(event);
  return event.ok;
}

bool FakeHid::GetInputReport(HidHandle handle, Report& report) {
  OpenInterface* open = Find(handle);
  HidEvent event = EventFor(HidCall::kGetInputReport, open);
  event.entryBytes = Bytes(report);
  const bool fail = ShouldFail(HidCall::kGetInputReport, open ? &open->target : nullptr, nullptr);
  event.ok = false;
  if (open == nullptr) {
    lastError_ = kErrorInvalidHandle;
  } else if (fail) {
    // lastError_ set by ShouldFail
  } else if (!replies_.empty()) {
    const QueuedReply reply = replies_.front();
    replies_.pop_front();
    if (reply.ok) {
      std::memcpy(report, reply.bytes.data(), kReportLengthBytes);
      event.ok = true;
    } else {
      lastError_ = reply.error;
    }
  } else if (responder) {
    Report reply = {};
    reply[0] = reg::kReportId;
    Report lastOut = {};
    const bool haveOut = !open->lastOut.empty();
    if (haveOut) std::memcpy(lastOut, open->lastOut.data(), kReportLengthBytes);
    if (responder(haveOut ? &lastOut : nullptr, reply)) {
      std::memcpy(report, reply, kReportLengthBytes);
      event.ok = true;
    } else {
      lastError_ = kErrorGenFailure;
    }
  } else {
    lastError_ = kErrorGenFailure;
  }
  if (event.ok) event.bytes = Bytes(report);
  events.push_back(event);
  return event.ok;
}

void FakeHid::Close(HidHandle handle) {
  OpenInterface* open = Find(handle);
  HidEvent event = EventFor(HidCall::kClose, open);
  ++callCounts_[HidCall::kClose];
  if (open == nullptr) {
    lastError_ = kErrorInvalidHandle;
    event.ok = false;
  } else {
    open_.erase(handle);
  }
  events.push_back(event);
}

// ----------------------------------------------------------- RecordingHid

class RecordingHid::Walk final : public HidWalk {
 public:
  Walk(std::unique_ptr<HidWalk> inner, std::vector<HidInterface>& walked)
      : inner_(std::move(inner)), walked_(walked) {}
  bool Next(HidInterface& out) override {
    if (!inner_->Next(out)) return false;
    walked_.push_back(out);
    return true;
  }

 private:
  std::unique_ptr<HidWalk> inner_;
  std::vector<HidInterface>& walked_;
};

RecordingHid::RecordingHid(HidBackend& inner) : inner_(inner) {}

RecordingHid::~RecordingHid() = default;

HidEvent RecordingHid::EventFor(HidCall call, HidHandle handle) const {
  HidEvent event;
  event.call = call;
  const auto found = open_.find(handle);
  if (found != open_.end()) {
    event.path = found->second.path;
    event.collection = found->second.collection;
  }
  return event;
}

std::unique_ptr<HidWalk> RecordingHid::BeginWalk() {
  events.push_back(EventFor(HidCall::kWalk, kInvalidHidHandle));
  return std::make_unique<Walk>(inner_.BeginWalk(), walked);
}

bool RecordingHid::Open(const HidInterface& target, HidHandle& out) {
  HidEvent event = EventFor(HidCall::kOpen, kInvalidHidHandle);
  event.path = target.path;
  event.collection = target.collection;
  event.ok = inner_.Open(target, out);
  if (event.ok) open_[out] = target;
  events.push_back(event);
  return event.ok;
}

bool RecordingHid::GetCaps(HidHandle handle, uint16_t& usagePage, uint16_t& usage) {
  HidEvent event = EventFor(HidCall::kGetCaps, handle);
  event.ok = inner_.GetCaps(handle, usagePage, usage);
  if (event.ok) {
    event.usagePage = usagePage;
    event.usage = usage;
  }
  events.push_back(event);
  return event.ok;
}

bool RecordingHid::GetVendorId(HidHandle handle, uint16_t& vendorId) {
  HidEvent event = EventFor(HidCall::kGetVendorId, handle);
  event.ok = inner_.GetVendorId(handle, vendorId);
  if (event.ok) event.vendorId = vendorId;
  events.push_back(event);
  return event.ok;
}

bool RecordingHid::SetOutputReport(HidHandle handle, const Report& report) {
  HidEvent event = EventFor(HidCall::kSetOutputReport, handle);
  event.bytes = Bytes(report);
  event.ok = inner_.SetOutputReport(handle, report);
  events.push_back(event);
  return event.ok;
}

bool RecordingHid::GetInputReport(HidHandle handle, Report& report) {
  HidEvent event = EventFor(HidCall::kGetInputReport, handle);
  event.entryBytes = Bytes(report);
  event.ok = inner_.GetInputReport(handle, report);
  if (event.ok) event.bytes = Bytes(report);
  events.push_back(event);
  return event.ok;
}

void RecordingHid::Close(HidHandle handle) {
  HidEvent event = EventFor(HidCall::kClose, handle);
  event.ok = open_.erase(handle) == 1;
  inner_.Close(handle);
  events.push_back(event);
}

}  // namespace tessaro::testing
