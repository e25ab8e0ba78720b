#pragma once
// One connection to the controller's vendor-defined HID collection, and the
// register operations carried over its 65-byte reports.
#include <cstdint>
#include <string>

#include "base/hid.h"

#ifndef TESSARO_VENDOR_ID
#define TESSARO_VENDOR_ID 0x0000
#endif

namespace tessaro {

// The USB vendor ID of the controller's maker, fixed by the build.
constexpr uint16_t kVendorId = TESSARO_VENDOR_ID;

// The opening sequence of a job, and the reads of the VERSION block.
constexpr int kOpenAttempts = 4;
constexpr uint32_t kOpenRetrySleepMs = 2000;
constexpr int kVersionReadAttempts = 5;

class COpenParamentTLC {
 public:
  virtual ~COpenParamentTLC() = default;
  uint16_t usage = 0;
  uint16_t usagePage = 0;
  uint16_t vendorId = 0;
};

class CConnectionTLC {
 public:
  CConnectionTLC() = default;
  // Closes a handle that is still open, so that no way out of a job leaks it.
  virtual ~CConnectionTLC();
  CConnectionTLC(const CConnectionTLC&) = delete;
  CConnectionTLC& operator=(const CConnectionTLC&) = delete;

  // True when open (found now, or open already); loads the match defaults
  // into openParams on every call.
  bool Open();
  // Walks the present HID interfaces and hands out the first matching one,
  // left open; every other interface opened on the way is closed.
  bool FindDevice(HidHandle& handle);
  // Safe in any state; afterwards the connection is closed.
  void Close();

  // One output report; byte 0 is forced to the report ID. Returns len;
  // -1 when len is outside 0..65 or buffer is null (nothing sent); -2 when
  // the report is not delivered.
  int32_t WriteReport(const uint8_t* buffer, int32_t len);
  // Reads len (1..60) bytes at address into dest. Returns len; -1 when the
  // request was not sent (or was refused: len out of range, dest null);
  // -2 when no reply came; -3 when the reply announces another length, and
  // dest is left as it was.
  int32_t ReadRegister(uint16_t address, uint8_t* dest, int32_t len);
  // Writes n bytes from address on, 55 per report. Returns n; -1 when n is 0
  // or above INT32_MAX, data is null, or the range runs past 0xFFFF (nothing
  // sent); -2 when a report fails (the chunks before it stay written).
  int32_t WriteRegister(uint16_t address, const uint8_t* data, uint32_t n);
  // Reads the VERSION block into pid, vid and sensorId. 0, or -1 when not
  // open or after five failed reads in a row.
  int32_t SetBasicProperties();

  // Set by the firmware job once its restart command has gone out. A report
  // that then fails because the device went away (the host re-creates a
  // controller's collection after its reset, under a new path) closes the
  // handle, and the next report walks again for the controller and takes
  // its lock before it is sent. Before the restart command a vanished
  // device stays a failure.
  bool followAcrossRestart = false;

  HidHandle deviceHandle = kInvalidHidHandle;
  int32_t opened = 0;
  // The report lengths, report ID included, that the controller's
  // collection announces; 0 where the platform does not tell.
  uint16_t inputReportBytes = 0;
  uint16_t outputReportBytes = 0;
  // Set by an Open that found the controller held by another process (and
  // sent it nothing); busyHolderPid names that process, 0 when unknown.
  bool busy = false;
  uint32_t busyHolderPid = 0;
  COpenParamentTLC openParams;
  uint8_t sensorId = 0x10;
  // The path of the collection the walk kept, as the platform names it.
  std::wstring path;
  char pid[5] = {};
  uint8_t vid[5] = {};

 private:
  // A handle to send on: true at once unless the controller was lost after
  // its restart, then after a walk that found it again.
  bool Reachable();
  // After a failed report: whether the device went away after the restart
  // command, and if so lets the handle go.
  void NoteFailure(uint32_t error);
  // The code for a failure's message: the backend's, or while the
  // controller is lost, the one that lost it.
  uint32_t FailureCode();

  bool lost_ = false;
  uint32_t lostError_ = 0;
};

// The opening sequence of every job: up to 4 attempts of Open, 2000 ms
// apart (after the fourth too), with their log lines. True when open.
// A controller held by another process ends it at once with one line and
// false: waiting would not free it, and the other job must not be disturbed.
bool OpenForJob(CConnectionTLC& connection);

}  // namespace tessaro
