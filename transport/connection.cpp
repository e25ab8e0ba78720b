#include "transport/connection.h"

#include "base/clock.h"
#include "base/log.h"
#include "base/run_record.h"
#include "transport/registers.h"

namespace tessaro {
namespace {

bool IsOpenHandle(HidHandle handle) { return handle != 0 && handle != kInvalidHidHandle; }

// An interface opened during the walk: closed on every way out unless it is
// the one handed to the caller.
class WalkHandle {
 public:
  explicit WalkHandle(HidBackend& hid) : hid_(hid) {}
  ~WalkHandle() {
    if (IsOpenHandle(handle_)) hid_.Close(handle_);
  }
  WalkHandle(const WalkHandle&) = delete;
  WalkHandle& operator=(const WalkHandle&) = delete;

  HidHandle& get() { return handle_; }
  HidHandle release() {
    const HidHandle handle = handle_;
    handle_ = kInvalidHidHandle;
    return handle;
  }

 private:
  HidBackend& hid_;
  HidHandle handle_ = kInvalidHidHandle;
};

}  // namespace

CConnectionTLC::~CConnectionTLC() {
  if (IsOpenHandle(deviceHandle)) Close();
}

bool CConnectionTLC::Open() {
  openParams.usage = reg::kUsage;
  openParams.usagePage = reg::kUsagePage;
  openParams.vendorId = kVendorId;

  if (deviceHandle != kInvalidHidHandle) {
    LOG_DEBUG("dbg info  : device already been opened\r\n");
    return true;
  }
  HidHandle handle = kInvalidHidHandle;
  busy = false;
  busyHolderPid = 0;
  if (!FindDevice(handle)) {
    if (busy) return false;
    LOG_ERROR("error     : find device failed\r\n");
    return false;
  }
  deviceHandle = handle;
  opened = 1;
  return true;
}

bool CConnectionTLC::FindDevice(HidHandle& handle) {
  HidBackend& hid = TheHid();
  // The walk owns the platform's interface list; it is released when this
  // function returns, matched or not.
  const std::unique_ptr<HidWalk> walk = hid.BeginWalk();
  HidInterface candidate;
  while (walk->Next(candidate)) {
    WalkHandle opened(hid);
    // Interfaces held by another process without sharing, or closed to this
    // user, are passed over silently.
    if (!hid.Open(candidate, opened.get()) || !IsOpenHandle(opened.get())) continue;

    uint16_t usagePage = 0;
    uint16_t usage = 0;
    if (!hid.GetCaps(opened.get(), usagePage, usage)) {
      LOG_DEBUG("dbg info  : HidD_GetPreparsedData Get last error = 0x%x\n", hid.LastError());
      continue;
    }
    uint16_t vendorId = 0;
    if (!hid.GetVendorId(opened.get(), vendorId)) continue;

    if (openParams.vendorId == vendorId && openParams.usagePage == usagePage && openParams.usage == usage) {
      // The first match is the controller: held by another process, it is
      // not ours to talk to, and no other collection stands in for it.
      const HidClaim claim = hid.Claim(candidate, opened.get());
      if (claim.outcome == HidClaim::Outcome::kBusy) {
        busy = true;
        busyHolderPid = claim.holderPid;
        return false;
      }
      LOG_DEBUG("dbg info  : Find the target device success,path of device is %ls\n", candidate.path.c_str());
      inputReportBytes = outputReportBytes = 0;
      if (hid.GetReportLengths(opened.get(), inputReportBytes, outputReportBytes)) {
        LOG_DEBUG("dbg info  : report lengths of the collection: input %u, output %u bytes\n", inputReportBytes,
                  outputReportBytes);
      }
      path = candidate.path;
      handle = opened.release();
      return true;
    }
  }
  return false;
}

void CConnectionTLC::Close() {
  if (IsOpenHandle(deviceHandle)) {
    TheHid().Close(deviceHandle);
    deviceHandle = kInvalidHidHandle;
  }
  opened = 0;
  lost_ = false;
}

bool CConnectionTLC::Reachable() {
  if (!lost_) return true;
  HidHandle handle = kInvalidHidHandle;
  if (!FindDevice(handle)) return false;
  deviceHandle = handle;
  lost_ = false;
  LOG_DEBUG("dbg info  : the controller is back after its restart\n");
  return true;
}

void CConnectionTLC::NoteFailure(uint32_t error) {
  if (!followAcrossRestart || lost_ || !TheHid().IsGoneError(error)) return;
  LOG_DEBUG("dbg info  : the controller went away after its restart; looking for it again\n");
  if (IsOpenHandle(deviceHandle)) TheHid().Close(deviceHandle);
  deviceHandle = kInvalidHidHandle;
  lost_ = true;
  lostError_ = error;
}

uint32_t CConnectionTLC::FailureCode() { return lost_ ? lostError_ : TheHid().LastError(); }

bool OpenForJob(CConnectionTLC& connection) {
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (connection.Open()) {
      NoteOpened(Utf8(connection.path));
      LOG_DEBUG("dbg info  : open TLC success\n");
      const unsigned in = connection.inputReportBytes;
      const unsigned out = connection.outputReportBytes;
      // Known lengths other than the controller's make every report fail:
      // say so before the job's own failure line.
      if ((in != 0 || out != 0) && (in != kReportLengthBytes || out != kReportLengthBytes)) {
        LOG_ERROR("error     : the controller's collection has %u-byte input and %u-byte output reports, not %d: "
                  "its reports will fail\n",
                  in, out, kReportLengthBytes);
      }
      return true;
    }
    if (connection.busy) {
      NoteOutcome(RunOutcome::kBusy);
      if (connection.busyHolderPid != 0) {
        LOG_ERROR("error     : controller in use by another process (pid %u), nothing sent\n",
                  static_cast<unsigned>(connection.busyHolderPid));
      } else {
        LOG_ERROR("error     : controller in use by another process, nothing sent\n");
      }
      return false;
    }
    LOG_ERROR("error     : open TLC failed\n");
    SleepMs(kOpenRetrySleepMs);
  }
  return false;
}

}  // namespace tessaro
