// The firmware job: check the image against the controller, then drive the
// controller's update program, up to three attempts, and read back its VID.
#include <cstdint>
#include <cstring>

#include "base/clock.h"
#include "base/log.h"
#include "base/run_record.h"
#include "base/update_guard.h"
#include "transport/connection.h"
#include "transport/registers.h"
#include "transport/report.h"
#include "update/decisions.h"
#include "update/jobs.h"
#include "update/waits.h"
#include "update/subfw_kinds.h"

namespace tessaro {
namespace {

constexpr int32_t kDownloadAttempts = 3;
constexpr int32_t kPatchPollReads = 5;
constexpr int32_t kRestartSends = 3;
constexpr uint64_t kFlashAddressLimit = uint64_t{1} << 24;

void LogKindWritten(int kind) {
  switch (kind) {
    case kKv30:
      LOG_DEBUG("dbg info  : update KV30 success\n");
      break;
    case kSmallSys:
      LOG_DEBUG("dbg info  : update small sys success\n");
      break;
    case kShortTest:
      LOG_DEBUG("dbg info  : update short test code success\n");
      break;
    case kQ5:
      LOG_DEBUG("dbg info  : update Q5 success\n");
      break;
    case kBootCode:
      LOG_INFO("info      : update boot code success\n");
      break;
    default:
      break;
  }
}

int32_t SendModeCommand(CConnectionTLC& connection, uint8_t command) {
  const auto report = MakeModeCommand(command);
  return connection.WriteReport(report.data(), static_cast<int32_t>(report.size()));
}

}  // namespace

// Whether the table and every entry's data lie inside the image, and every
// selected entry's flash range fits the 24 address bits a load-flash command
// names (past them the command's address would wrap onto the start of
// flash); an entry the mask skips is never written, so its range does not
// matter. The loader refuses a table that does not fit; the walk checks
// again so that it never reads outside an image, whoever built it. Logs the
// reason.
bool SubTableFits(const FwImage& image, uint32_t subTypeFlag) {
  if (image.length < kFwDataOffset || image.data[kFwCountOffset] > kFwMaxEntries) {
    LOG_ERROR("error     : sub fw table does not fit the image\n");
    return false;
  }
  const uint32_t count = image.data[kFwCountOffset];
  uint64_t dataEnd = kFwDataOffset;
  for (uint32_t i = 0; i < count; ++i) {
    const FwSubEntry entry = image.SubEntry(i);
    dataEnd += entry.length;
    if (dataEnd > image.length) {
      LOG_ERROR("error     : sub fw table does not fit the image\n");
      return false;
    }
    if (SubTypeSelected(subTypeFlag, entry.type) &&
        uint64_t{entry.flashAddress} * 256 + entry.length > kFlashAddressLimit) {
      LOG_ERROR("error     : sub fw past the end of flash, type:0x%02x, addr=0x%x, len=%d(Byte)\n", entry.type,
                entry.flashAddress, static_cast<int32_t>(entry.length));
      return false;
    }
  }
  return true;
}

namespace {

// The marks the table walk would set with this mask: selection by the type
// modulo 32, marks only for the exact types. The table has been checked.
void PlannedKinds(const FwImage& image, uint32_t subTypeFlag, bool (&written)[kSubFwKindCount]) {
  const uint32_t count = image.SubCount();
  for (uint32_t i = 0; i < count; ++i) {
    const FwSubEntry entry = image.SubEntry(i);
    const int kind = SubFwKindOfType(entry.type);
    if (SubTypeSelected(subTypeFlag, entry.type) && kind >= 0) written[kind] = true;
  }
}

// Polls 0x5095 until the controller reports its patch mode.
bool WaitForPatchMode(CConnectionTLC& connection) {
  uint8_t value[1] = {0};  // keeps the last byte read across failed reads
  for (int32_t read = 0; read < kPatchPollReads; ++read) {
    const int32_t result = connection.ReadRegister(reg::kPatchStateAddr, value, 1);
    if (result < 0) {
      LOG_ERROR("error     : Failed read 0x5095, ret = %d\n", result);
    } else if (value[0] == reg::kPatchReady) {
      return true;
    }
    LOG_DEBUG("dbg info  : 0x5095 value is 0x%x != 0xDD, retry\n", value[0]);
    SleepMs(waits::kPatchPollMs);
  }
  LOG_DEBUG("dbg info  : Reg 0x5095 != 0xDD\n");
  LOG_ERROR("error     : switch failed\n");
  return false;
}

// Writes the selected sub-firmwares; marks what was written.
int32_t WriteSubFirmwares(CConnectionTLC& connection, const FwImage& image, uint32_t subTypeFlag,
                          bool (&written)[kSubFwKindCount]) {
  const uint32_t count = image.SubCount();
  LOG_DEBUG("dbg info  : load firmware successful\n");
  LOG_DEBUG("dbg info  : sub fw num:%d\n", static_cast<int32_t>(count));
  const uint8_t* imageEnd = image.data.get() + image.length;
  for (uint32_t i = 0; i < count; ++i) {
    const FwSubEntry entry = image.SubEntry(i);
    if (!SubTypeSelected(subTypeFlag, entry.type)) {
      LOG_DEBUG("dbg info  : Sub firmware type does not math,sub_fw_num:%d, type:0x%02x\n", static_cast<int32_t>(i),
                entry.type);
      continue;
    }
    LOG_DEBUG("dbg info  : Found a valid sub subsystem start loading, type:0x%02x\n", entry.type);
    LOG_DEBUG("dbg info  : Sub FW addr=0x%x, len=%d(Byte)\n", entry.flashAddress, static_cast<int32_t>(entry.length));
    const uint8_t* subData = image.data.get() + image.SubDataOffset(i);
    const int32_t result = LoadSubFw(connection, uint32_t{entry.flashAddress} * 256, subData, entry.length, imageEnd);
    if (result < 0) {
      LOG_ERROR("error     : Failed load sub firmware, type:0x%02x, ret=%d\n", entry.type, result);
      return result;
    }
    const int kind = SubFwKindOfType(entry.type);
    if (kind >= 0) {
      written[kind] = true;
      LogKindWritten(kind);
    }
  }
  return 0;
}

// The first needed kind not written, with its line; false when all were.
bool NeededKindMissing(const bool (&written)[kSubFwKindCount]) {
  if (!written[kKv30]) {
    LOG_ERROR("error     : KV30 didn't been update\n");
    return true;
  }
  if (!written[kQ5]) {
    LOG_ERROR("error     : Q5 didn't been update\n");
    return true;
  }
  if (!written[kShortTest]) {
    LOG_ERROR("error     : Short test code didn't been update\n");
    return true;
  }
  return false;
}

// The needed kinds fail the attempt; the optional ones are only noted.
bool NeededKindsWritten(const bool (&written)[kSubFwKindCount]) {
  if (NeededKindMissing(written)) return false;
  if (!written[kSmallSys]) LOG_DEBUG("dbg info  : small sys didn't been update\n");
  if (!written[kBootCode]) LOG_DEBUG("dbg info  : boot code didn't been update\n");
  return true;
}

int32_t RestartController(CConnectionTLC& connection) {
  LOG_DEBUG("dbg info  : reset ic\n");
  for (int32_t send = 0; send < kRestartSends; ++send) {
    const int32_t result = SendModeCommand(connection, reg::kCmdRestart);
    if (result >= 0) {
      // The host may now re-create the controller's collection under a new
      // path: the reads that follow find it again.
      connection.followAcrossRestart = true;
      LOG_DEBUG("dbg info  : reset ic successful\n");
      SleepMs(waits::kAfterRestartMs);
      return kJobDone;
    }
    LOG_ERROR("error     : Failed write restart command, ret=%d\n", result);
    SleepMs(waits::kAfterFailedRestartMs);
  }
  LOG_ERROR("error     : reset ic failed\n");
  SleepMs(waits::kAfterRestartMs);
  return kFwJobAttemptFailed;
}

}  // namespace

bool NeededKindsSelected(const FwImage& image, uint32_t subTypeFlag) {
  bool planned[kSubFwKindCount] = {};
  PlannedKinds(image, subTypeFlag, planned);
  return !NeededKindMissing(planned);
}

FwCondition CheckFwConditions(const CConnectionTLC& connection, const FwImage& image, bool ignoreVersion) {
  if (ignoreVersion) return FwCondition::kUpdate;
  if (std::memcmp(connection.pid, image.pid, 4) != 0) {
    LOG_ERROR("error     : PID mismatch, PID from dev:%s, PID from fw_bin:%s\n", connection.pid, image.pid);
    LOG_INFO("info      : Doesn't meet the update conditions\n");
    return FwCondition::kOtherPid;
  }
  if (std::memcmp(connection.vid, image.vid, 4) == 0) {
    LOG_INFO("info      : VID is equal, do not neet update\n");
    LOG_INFO("info      : Doesn't meet the update conditions\n");
    return FwCondition::kSameVid;
  }
  return FwCondition::kUpdate;
}

int32_t DownloadFw(CConnectionTLC& connection, const FwImage& image, uint32_t subTypeFlag) {
  // An image whose table runs outside it, or outside the flash, never
  // reaches the controller, not even as a switch to patch mode.
  if (image.valid && image.data && !SubTableFits(image, subTypeFlag)) return kFwJobTableDoesNotFit;

  bool written[kSubFwKindCount] = {};
  LOG_DEBUG("dbg info  : start switch\n");
  int32_t result = SendModeCommand(connection, reg::kCmdSwitchToPatch);
  if (result < 0) {
    LOG_ERROR("error     : Failed switch to patch,ret:%d\n", result);
    return result;
  }
  SleepMs(waits::kAfterSwitchMs);
  if (!WaitForPatchMode(connection)) return kFwJobNoPatchMode;

  LOG_DEBUG("dbg info  : switch end\n");
  LOG_DEBUG("dbg info  : start update\n");
  LOG_DEBUG("dbg info  : notify ic to entry update program\n");
  result = SendModeCommand(connection, reg::kCmdStartUpdate);
  if (result < 0) {
    LOG_ERROR("error     : Failed start update, ret=%d\n", result);
    return result;
  }
  LOG_DEBUG("dbg info  : ic entry update program\n");
  SleepMs(waits::kAfterStartUpdateMs);
  LOG_DEBUG("dbg info  : start load firmware\n");

  if (!image.valid || !image.data) {
    LOG_ERROR("error     : No valid fw data \n");
    return kFwJobNoImage;
  }
  result = WriteSubFirmwares(connection, image, subTypeFlag, written);
  if (result < 0) return result;
  if (!NeededKindsWritten(written)) return kFwJobKindNotSelected;
  return RestartController(connection);
}

int32_t UpdateFw(const char* fw_name, bool ignoreVersion, uint32_t subTypeFlag) {
  // First of all, so that the window closes only after the controller has
  // been closed and the image released.
  UpdateWindow window;
  // Declared before the connection, so that the connection is closed before
  // the image is released, on every way out.
  FwImage image;
  CConnectionTLC connection;

  if (!OpenForJob(connection)) return kJobNoController;

  if (connection.SetBasicProperties() < 0) {
    LOG_ERROR("error     : read VERSION failed\n");
    return kFwJobUnreadable;
  }
  const uint8_t* vid = connection.vid;
  LOG_DEBUG("dbg info  : before update, read VERSION success\n");
  LOG_DEBUG("dbg info  : VID befor update:%02x %02x %02x %02x\n", vid[0], vid[1], vid[2], vid[3]);

  const int32_t loaded = image.LoadFwFile(fw_name);
  if (loaded < 0) {
    LOG_ERROR("error     : Failed read firmware file:%s, ret:%d\n", fw_name != nullptr ? fw_name : "(null)", loaded);
    NoteOutcome(RunOutcome::kRefusedFile);
    return kFwJobFileRefused;
  }
  NoteFirmwareImage(image.pid, image.vid);
  LOG_DEBUG("dbg info  : fw_image Initialize success\n");

  switch (CheckFwConditions(connection, image, ignoreVersion)) {
    case FwCondition::kOtherPid:
      NoteOutcome(RunOutcome::kNotNeededOtherPid);
      return kJobDone;
    case FwCondition::kSameVid:
      NoteOutcome(RunOutcome::kNotNeededSameVid);
      return kJobDone;
    case FwCondition::kUpdate:
      break;
  }

  // Whether an attempt can succeed is known from the image and the mask
  // alone: an image that cannot be written whole, or that lacks a kind the
  // controller needs, is refused once, before the controller is switched
  // to its update program, instead of failing every attempt half-written.
  if (!SubTableFits(image, subTypeFlag)) {
    NoteOutcome(RunOutcome::kRefusedFile);
    return kFwJobTableDoesNotFit;
  }
  if (!NeededKindsSelected(image, subTypeFlag)) {
    NoteOutcome(RunOutcome::kRefusedFile);
    return kFwJobKindNotSelected;
  }

  // From the switch to patch mode on, the controller must not be left
  // half-written by an interrupted run.
  window.Open();
  int32_t result = kFwJobAttemptFailed;
  for (int32_t attempt = 0; attempt < kDownloadAttempts; ++attempt) {
    result = DownloadFw(connection, image, subTypeFlag);
    if (result >= 0) break;
    LOG_ERROR("error     : Update fw failed, retry=%d\n", attempt);
    SleepMs(waits::kAfterFailedFwAttemptMs);
  }
  if (result < 0) {
    LOG_ERROR("error     : Update fw finish ERROR\n");
    return result;
  }
  LOG_DEBUG("dbg info  : Update fw success\n");

  SleepMs(waits::kBeforeVersionReadBackMs);
  if (connection.SetBasicProperties() < 0) {
    LOG_ERROR("error     : after update, read VERSION failed\n");
    return kFwJobUnreadable;
  }
  LOG_DEBUG("dbg info  : after update, read VERSION success\n");
  LOG_INFO("info      : Update Firmware Success,VID after update:%02x %02x %02x %02x\n", vid[0], vid[1], vid[2],
           vid[3]);
  return kJobDone;
}

}  // namespace tessaro
