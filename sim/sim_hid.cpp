#include "sim/sim_hid.h"

#include <cstdio>

#include "base/trace.h"
#include "transport/registers.h"

namespace tessaro::sim {
namespace {

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

std::wstring CollectionPath(uint32_t number) {
  char text[64];
  std::snprintf(text, sizeof text, "\\\\?\\hid#tessaro-sim&col%02u", static_cast<unsigned>(number));
  return std::wstring(text, text + std::char_traits<char>::length(text));
}

}  // namespace

void SimHid::Begin() {
  if (session_.begun()) return;
  session_.Begin();
  const State& state = session_.state();
  const uint32_t matching = state.present ? state.matchingCollections : 0;
  for (uint32_t i = 0; i < state.otherCollections + matching; ++i) {
    collections_.push_back(Collection{CollectionPath(i + 1), i >= state.otherCollections});
  }
}

std::unique_ptr<HidWalk> SimHid::BeginWalk() {
  Begin();
  session_.Trace(trace::Walk());
  const bool hideMatching = [&] {
    uint32_t& openFailures = session_.state().faults.openFailures;
    if (openFailures == 0) return false;
    --openFailures;
    return true;
  }();
  std::vector<HidInterface> interfaces;
  for (size_t i = 0; i < collections_.size(); ++i) {
    if (collections_[i].matching && hideMatching) continue;
    interfaces.push_back(HidInterface{collections_[i].path, static_cast<uint32_t>(i)});
  }
  return std::make_unique<ListWalk>(std::move(interfaces));
}

bool SimHid::Open(const HidInterface& interface, HidHandle& out) {
  Begin();
  out = kInvalidHidHandle;
  for (size_t i = 0; i < collections_.size(); ++i) {
    if (collections_[i].path != interface.path) continue;
    out = nextHandle_++;
    openHandles_[out] = i;
    session_.Trace(trace::Open(interface.path));
    return true;
  }
  return Fail(kErrorFileNotFound);
}

const SimHid::Collection* SimHid::Find(HidHandle handle) {
  const auto it = openHandles_.find(handle);
  return it == openHandles_.end() ? nullptr : &collections_[it->second];
}

bool SimHid::GetCaps(HidHandle handle, uint16_t& usagePage, uint16_t& usage) {
  Begin();
  const Collection* collection = Find(handle);
  if (collection == nullptr) return Fail(kErrorInvalidHandle);
  usagePage = collection->matching ? reg::kUsagePage : kOtherUsagePage;
  usage = collection->matching ? reg::kUsage : kOtherUsage;
  return true;
}

bool SimHid::GetVendorId(HidHandle handle, uint16_t& vendorId) {
  Begin();
  if (Find(handle) == nullptr) return Fail(kErrorInvalidHandle);
  vendorId = session_.state().vendorId;
  return true;
}

bool SimHid::SetOutputReport(HidHandle handle, const Report& report) {
  Begin();
  const Collection* collection = Find(handle);
  if (collection == nullptr || !collection->matching) {
    session_.Trace(trace::Out(report, kReportLengthBytes, false));
    // The digitizer collection has no report of this ID.
    return Fail(collection == nullptr ? kErrorInvalidHandle : kErrorInvalidParameter);
  }
  return session_.controller().SendOutput(report) || Fail(kErrorGenFailure);
}

bool SimHid::GetInputReport(HidHandle handle, Report& report) {
  Begin();
  const Collection* collection = Find(handle);
  if (collection == nullptr || !collection->matching) {
    session_.Trace(trace::InFailed());
    return Fail(collection == nullptr ? kErrorInvalidHandle : kErrorInvalidParameter);
  }
  return session_.controller().FetchInput(report) || Fail(kErrorGenFailure);
}

void SimHid::Close(HidHandle handle) {
  Begin();
  const Collection* collection = Find(handle);
  if (collection == nullptr) {
    Fail(kErrorInvalidHandle);
    return;
  }
  session_.Trace(trace::Close(collection->path));
  openHandles_.erase(handle);
}

uint32_t SimHid::LastError() { return lastError_; }

bool SimHid::Fail(uint32_t error) {
  lastError_ = error;
  return false;
}

}  // namespace tessaro::sim
