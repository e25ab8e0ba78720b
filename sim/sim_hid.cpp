#include "sim/sim_hid.h"

#include <cstdio>

#include "base/trace.h"
#include "sim/hex.h"
#include "sim/sim_backends.h"
#include "sim/state_files.h"
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
  if (!sessions_.empty()) return;
  session_.Begin();
  const State& state = session_.state();
  if (state.controllers > 1) {
    session_.SetShared();
    // Each controller is its own collection; a walk takes no lock there,
    // so no walk can use up a fault.
    if (state.matchingCollections != 1) {
      throw StateFileError(std::string(kStateFileName) +
                           ": controllers: each controller is one matching collection; matchingCollections must be 1");
    }
    if (!(state.faults.openFailures == Counter{})) {
      throw StateFileError(std::string(kStateFileName) +
                           ": faults.openFailures: not available with controllers above 1");
    }
  }
  sessions_.push_back(&session_);
  for (uint32_t number = 2; number <= state.controllers; ++number) {
    others_.push_back(std::make_unique<Session>(session_.buildVendorId(), session_.appendTrace(), number));
    others_.back()->SetShared();
    sessions_.push_back(others_.back().get());
  }
  claimedHandles_.assign(sessions_.size(), 0);
  const uint32_t matching = !state.present ? 0 : several() ? state.controllers : state.matchingCollections;
  for (uint32_t i = 0; i < state.otherCollections + matching; ++i) {
    const bool isMatching = i >= state.otherCollections;
    const size_t controller = isMatching && several() ? i - state.otherCollections : 0;
    collections_.push_back(Collection{CollectionPath(i + 1), isMatching, controller});
  }
}

Session& SimHid::SessionOf(const Collection& collection) {
  Session& session = *sessions_[collection.matching ? collection.controller : 0];
  session.Begin();
  return session;
}

void SimHid::TraceHost(const std::string& line) {
  if (!several()) {
    session_.Trace(line);
    return;
  }
  for (Session* session : sessions_) session->TraceHost(line);
}

void SimHid::TraceAt(const Collection& collection, const std::string& line) {
  if (several() && collection.matching) {
    SessionOf(collection).TraceHost(line);
  } else {
    TraceHost(line);
  }
}

void SimHid::AfterHostEvent() {
  if (!several()) {
    session_.AfterEvent();
    return;
  }
  for (Session* session : sessions_) {
    if (session->held()) session->AfterEvent();
  }
}

std::unique_ptr<HidWalk> SimHid::BeginWalk() {
  Begin();
  std::vector<HidInterface> interfaces;
  if (several()) {
    TraceHost(trace::Walk());
    for (size_t i = 0; i < collections_.size(); ++i) {
      interfaces.push_back(HidInterface{collections_[i].path, static_cast<uint32_t>(i)});
    }
    AfterHostEvent();
    return std::make_unique<ListWalk>(std::move(interfaces));
  }
  // The walk's fault is the controller's state: it is used up only under
  // the lock. A walk while another run holds the controller shows it as it
  // is, and the open that follows finds it busy.
  uint32_t holderPid = 0;
  const bool locked = session_.Acquire(holderPid);
  session_.Trace(trace::Walk());
  bool changed = false;
  const bool hideMatching = locked && UseUp(session_.state().faults.openFailures, changed);
  if (changed) session_.controller().MarkStateChanged();
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
    const Collection& collection = collections_[i];
    if (collection.path != interface.path) continue;
    OpenHandle open{i, false, 0};
    // Opening is shared, as on a host; the controller behind a matching
    // collection is locked here (on a host of several, when claimed), and
    // Claim tells the connection the outcome.
    Session& session = SessionOf(collection);
    if (collection.matching && !several()) {
      open.claimed = session_.Acquire(open.holderPid);
      if (open.claimed) ++claimedHandles_[0];
    }
    out = nextHandle_++;
    openHandles_[out] = open;
    TraceAt(collection, trace::Open(interface.path));
    if (several() && collection.matching) {
      session.AfterEvent();
    } else {
      AfterHostEvent();
    }
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
  if (several() && it != openHandles_.end() && !it->second.claimed) {
    const Collection& collection = collections_[it->second.collection];
    if (collection.matching) {
      it->second.claimed = SessionOf(collection).Acquire(it->second.holderPid);
      if (it->second.claimed) ++claimedHandles_[collection.controller];
    }
  }
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
  const Collection* collection = FindClaimed(handle);
  if (collection == nullptr) {
    const uint32_t error = lastError_;
    const Collection* any = Find(handle);
    if (any != nullptr) TraceAt(*any, trace::Out(report, kReportLengthBytes, false));
    if (any == nullptr) TraceHost(trace::Out(report, kReportLengthBytes, false));
    AfterHostEvent();
    return Fail(error);
  }
  Session& session = SessionOf(*collection);
  const bool sent = session.controller().SendOutput(report);
  session.AfterEvent();
  return sent || Fail(kErrorGenFailure);
}

bool SimHid::GetInputReport(HidHandle handle, Report& report) {
  Begin();
  const auto it = openHandles_.find(handle);
  if (it != openHandles_.end() && collections_[it->second.collection].matching && !it->second.claimed) {
    return Fail(kErrorSharingViolation);
  }
  const Collection* collection = FindClaimed(handle);
  if (collection == nullptr) {
    const uint32_t error = lastError_;
    const Collection* any = Find(handle);
    if (any != nullptr) TraceAt(*any, trace::InFailed());
    if (any == nullptr) TraceHost(trace::InFailed());
    AfterHostEvent();
    return Fail(error);
  }
  Session& session = SessionOf(*collection);
  const bool fetched = session.controller().FetchInput(report);
  session.AfterEvent();
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
  const Collection& collection = collections_[it->second.collection];
  TraceAt(collection, trace::Close(collection.path));
  openHandles_.erase(it);
  const size_t controller = collection.matching ? collection.controller : 0;
  if (claimed) --claimedHandles_[controller];
  // Closing is the last event of a job: a kill right after it still finds
  // the files whole. The close must not fail whatever the save does; a
  // failed save was reported where it happened.
  try {
    if (several() && collection.matching) {
      SessionOf(collection).AfterEvent();
    } else {
      AfterHostEvent();
    }
  } catch (const StateFileError& error) {
    std::fprintf(stderr, "%s\n", error.what());
  }
  if (several() && collection.matching) {
    ReleaseIfUnclaimed(controller);
  } else {
    ReleaseIfUnclaimed();
  }
}

void SimHid::ReleaseIfUnclaimed() {
  for (size_t controller = 0; controller < sessions_.size(); ++controller) ReleaseIfUnclaimed(controller);
}

void SimHid::ReleaseIfUnclaimed(size_t controller) {
  if (claimedHandles_[controller] == 0) sessions_[controller]->Release();
}

void SimHid::TraceSleep(const std::string& line) { TraceHost(line); }

bool SimHid::VirtualTime() { return session_.begun() && session_.state().virtualTime; }

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
