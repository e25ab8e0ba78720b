#pragma once
// The HID seam over the simulated controller: one device whose collections
// are those the state asks for, the non-matching ones (a touch screen's
// digitizer, usage page 0x000D, usage 0x0004) walked before the matching
// ones. The controller answers on every matching collection.
//
// A host of several controllers ("controllers" above 1) has one matching
// collection per controller, each with its own files and lock. There the
// lock is taken when a run claims the controller, not when it opens (or
// walks past) its collection, so that a run on one controller never turns
// away a run that is taking another.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/hid.h"
#include "sim/sim_session.h"

namespace tessaro::sim {

// Error codes as the host's HID stack would give them.
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorInvalidParameter = 87;

constexpr uint16_t kOtherUsagePage = 0x000D;
constexpr uint16_t kOtherUsage = 0x0004;

class SimHid final : public HidBackend {
 public:
  explicit SimHid(Session& session) : session_(session) {}

  std::unique_ptr<HidWalk> BeginWalk() override;
  bool Open(const HidInterface& interface, HidHandle& out) override;
  bool GetCaps(HidHandle handle, uint16_t& usagePage, uint16_t& usage) override;
  bool GetVendorId(HidHandle handle, uint16_t& vendorId) override;
  bool SetOutputReport(HidHandle handle, const Report& report) override;
  bool GetInputReport(HidHandle handle, Report& report) override;
  // The lock was tried when the matching collection was opened; this tells
  // what it found.
  HidClaim Claim(const HidInterface& interface, HidHandle handle) override;
  void Close(HidHandle handle) override;
  uint32_t LastError() override;

  // What the simulated host tells about a collection without opening it:
  // the device's vendor ID and whether the collection is the controller's.
  bool Describe(const HidInterface& interface, uint16_t& vendorId, bool& matching);

  // For the clock: a sleep goes into the trace of the controller the run
  // holds; whether sleeps are only recorded.
  void TraceSleep(const std::string& line);
  bool VirtualTime();

 private:
  struct Collection {
    std::wstring path;
    bool matching = false;
    size_t controller = 0;  // index into sessions_ of a matching collection
  };
  struct OpenHandle {
    size_t collection = 0;
    // For a matching collection: whether this handle holds the lock, and
    // who did when it could not be taken.
    bool claimed = false;
    uint32_t holderPid = 0;
  };

  // Begins the session at the first call and lays out the collections.
  void Begin();
  const Collection* Find(HidHandle handle);
  // The open matching collection of a handle that holds the lock, or null
  // with the error set.
  const Collection* FindClaimed(HidHandle handle);
  bool Fail(uint32_t error);
  // Lets the lock go when nothing needs it any more.
  void ReleaseIfUnclaimed();
  void ReleaseIfUnclaimed(size_t controller);
  bool several() const { return sessions_.size() > 1; }
  // The session of an open handle's collection (the first one's for a
  // collection of no controller), begun.
  Session& SessionOf(const Collection& collection);
  // A host event: into the first controller's trace, or on a host of
  // several into each controller's as Session::TraceHost keeps it.
  void TraceHost(const std::string& line);
  void TraceAt(const Collection& collection, const std::string& line);
  // After a host event: counted by every controller this run holds (by the
  // first one alone on a host of one).
  void AfterHostEvent();

  Session& session_;
  // The first is session_; the others are made when the state asks for
  // several controllers.
  std::vector<Session*> sessions_;
  std::vector<std::unique_ptr<Session>> others_;
  std::vector<Collection> collections_;
  std::map<HidHandle, OpenHandle> openHandles_;
  std::vector<int> claimedHandles_;
  // Handles are never reused within a run, so a stale one is always caught.
  HidHandle nextHandle_ = 1;
  uint32_t lastError_ = 0;
};

}  // namespace tessaro::sim
