#include "sim/sim_hid.h"

#include <cstdio>

#include "base/trace.h"
#include "sim/hex.h"
#include "sim/sim_backends.h"
#include "transport/registers.h"

namespace tessaro::sim {
namespace {

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
  // The walk's fault is the controller's state: it is used up only under
  // the lock. A walk while another run holds the controller shows it as it
  // is, and the open that follows finds it busy.
  uint32_t holderPid = 0;
  const bool locked = session_.Acquire(holderPid);
  session_.Trace(trace::Walk());
  bool changed = false;
  const bool hideMatching = locked && UseUp(session_.state().faults.openFailures, changed);
  if (changed) session_.controller().MarkStateChanged();
  std::vector<HidInterface> interfaces;
  for (size_t i = 0; i < collections_.size(); ++i) {
    if (collections_[i].matching && hideMatching) continue;
    interfaces.push_back(HidInterface{collections_[i].path, static_cast<uint32_t>(i)});
  }
  session_.AfterEvent();
  ReleaseIfUnclaimed();
  return std::make_unique<ListWalk>(std::move(interfaces));
}

bool SimHid::Open(const HidInterface& interface, HidHandle& out) {
  Begin();
  out = kInvalidHidHandle;
  for (size_t i = 0; i < collections_.size(); ++i) {
    if (collections_[i].path != interface.path) continue;
    OpenHandle open{i, false, 0};
    // Opening is shared, as on a host; the controller behind a matching
    // collection is locked here, and Claim tells the connection the outcome.
    if (collections_[i].matching) {
      open.claimed = session_.Acquire(open.holderPid);
      if (open.claimed) ++claimedHandles_;
    }
    out = nextHandle_++;
    openHandles_[out] = open;
    session_.Trace(trace::Open(interface.path));
    session_.AfterEvent();
    return true;
  }
  return Fail(kErrorFileNotFound);
}

const SimHid::Collection* SimHid::Find(HidHandle handle) {
  const auto it = openHandles_.find(handle);
  return it == openHandles_.end() ? nullptr : &collections_[it->second.collection];
}

const SimHid::Collection* SimHid::FindClaimed(HidHandle handle) {
  const auto it = openHandles_.find(handle);
  if (it == openHandles_.end()) {
    Fail(kErrorInvalidHandle);
    return nullptr;
  }
  const Collection& collection = collections_[it->second.collection];
  if (!collection.matching) {
    // The digitizer collection has no report of this ID.
    Fail(kErrorInvalidParameter);
    return nullptr;
  }
  if (!it->second.claimed) {
    Fail(kErrorSharingViolation);
    return nullptr;
  }
  return &collection;
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

HidClaim SimHid::Claim(const HidInterface&, HidHandle handle) {
  HidClaim claim;
  const auto it = openHandles_.find(handle);
  if (it != openHandles_.end() && collections_[it->second.collection].matching && !it->second.claimed) {
    claim.outcome = HidClaim::Outcome::kBusy;
    claim.holderPid = it->second.holderPid;
  }
  return claim;
}

bool SimHid::SetOutputReport(HidHandle handle, const Report& report) {
  Begin();
  const auto it = openHandles_.find(handle);
  // A handle of another run's controller is refused before the controller
  // sees anything; the other failures are traced as before.
  if (it != openHandles_.end() && collections_[it->second.collection].matching && !it->second.claimed) {
    return Fail(kErrorSharingViolation);
  }
  if (FindClaimed(handle) == nullptr) {
    const uint32_t error = lastError_;
    session_.Trace(trace::Out(report, kReportLengthBytes, false));
    session_.AfterEvent();
    return Fail(error);
  }
  const bool sent = session_.controller().SendOutput(report);
  session_.AfterEvent();
  return sent || Fail(kErrorGenFailure);
}

bool SimHid::GetInputReport(HidHandle handle, Report& report) {
  Begin();
  const auto it = openHandles_.find(handle);
  if (it != openHandles_.end() && collections_[it->second.collection].matching && !it->second.claimed) {
    return Fail(kErrorSharingViolation);
  }
  if (FindClaimed(handle) == nullptr) {
    const uint32_t error = lastError_;
    session_.Trace(trace::InFailed());
    session_.AfterEvent();
    return Fail(error);
  }
  const bool fetched = session_.controller().FetchInput(report);
  session_.AfterEvent();
  return fetched || Fail(kErrorGenFailure);
}

void SimHid::Close(HidHandle handle) {
  Begin();
  const auto it = openHandles_.find(handle);
  if (it == openHandles_.end()) {
    Fail(kErrorInvalidHandle);
    return;
  }
  const bool claimed = it->second.claimed;
  session_.Trace(trace::Close(collections_[it->second.collection].path));
  openHandles_.erase(it);
  if (claimed) --claimedHandles_;
  // Closing is the last event of a job: a kill right after it still finds
  // the files whole. The close must not fail whatever the save does; a
  // failed save was reported where it happened.
  try {
    session_.AfterEvent();
  } catch (const StateFileError& error) {
    std::fprintf(stderr, "%s\n", error.what());
  }
  ReleaseIfUnclaimed();
}

void SimHid::ReleaseIfUnclaimed() {
  if (claimedHandles_ == 0) session_.Release();
}

uint32_t SimHid::LastError() { return lastError_; }

bool SimHid::Describe(const HidInterface& interface, uint16_t& vendorId, bool& matching) {
  Begin();
  for (const Collection& collection : collections_) {
    if (collection.path != interface.path) continue;
    vendorId = session_.state().vendorId;
    matching = collection.matching;
    return true;
  }
  return false;
}

bool SimHid::Fail(uint32_t error) {
  lastError_ = error;
  return false;
}

}  // namespace tessaro::sim
