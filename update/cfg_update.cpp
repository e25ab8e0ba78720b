// The configuration job: compare versions, hand the bytes over with the
// controller's download handshake at 0x8040, up to five attempts, and read
// the head back to see that the controller took them.
#include <cstdint>

#include "base/clock.h"
#include "base/log.h"
#include "base/run_record.h"
#include "base/update_guard.h"
#include "transport/connection.h"
#include "transport/registers.h"
#include "update/decisions.h"
#include "update/jobs.h"
#include "update/waits.h"

namespace tessaro {
namespace {

constexpr int32_t kDownloadAttempts = 5;
constexpr int32_t kAckPollReads = 5;
constexpr int32_t kHeadBufferBytes = 65;

void LogHead(const uint8_t* head) {
  for (int32_t i = 0; i < reg::kConfigHeadBytes; ++i) {
    LOG_DEBUG("dbg info  : 0x%04x:0x%02x\n", reg::kConfigAddr + i, head[i]);
  }
}

// Polls 0x8040 for the acknowledgement (0x82 or 0xff, which the lines show
// in lower case); value holds the byte shown in the miss lines, and a failed
// read leaves it as it was.
bool WaitForAck(CConnectionTLC& connection, uint8_t& value, uint8_t expected) {
  for (int32_t read = 0; read < kAckPollReads; ++read) {
    const int32_t result = connection.ReadRegister(reg::kConfigCtrlAddr, &value, 1);
    if (result < 0) {
      LOG_ERROR("error     : Failed read 0x8040, ret = %d\n", result);
    } else if (value == expected) {
      return true;
    }
    LOG_DEBUG("dbg info  : 0x8040 value is 0x%x != 0x%x, retry\n", value, expected);
    SleepMs(waits::kAckPollMs);
  }
  LOG_DEBUG("dbg info  : Reg 0x8040 != 0x%x\n", expected);
  return false;
}

}  // namespace

bool CfgHeadIntact(const uint8_t* head) { return static_cast<uint8_t>(head[0] + head[1] + head[2]) == 0; }

bool CfgFitsRegisterSpace(const CfgImage& image) {
  if (image.length <= reg::kConfigMaxBytes) return true;
  LOG_ERROR("error     : cfg too long, len:%u, at most:%u\n", image.length, reg::kConfigMaxBytes);
  return false;
}

bool CfgUpdateNeeded(uint8_t chipVersion, const CfgImage& image, bool ignoreVersion) {
  if (ignoreVersion || chipVersion < image.version) return true;
  LOG_ERROR(
      "error     : chip cfg version is forward or equal to input cfg file,no need to update config, chip cfg "
      "version:%d,cfg file version:%d\n",
      chipVersion, image.version);
  return false;
}

int32_t DownloadCfg(CConnectionTLC& connection, const CfgImage& image) {
  uint8_t sendCommand[3] = {reg::kConfigSendCmd[0], reg::kConfigSendCmd[1], reg::kConfigSendCmd[2]};
  int32_t result = connection.WriteRegister(reg::kConfigCtrlAddr, sendCommand, sizeof sendCommand);
  if (result < 0) {
    LOG_ERROR("error     : Failed write send cfg cmd,ret:%d\n", result);
    return result;
  }
  SleepMs(waits::kAfterSendCmdMs);
  if (!WaitForAck(connection, sendCommand[0], reg::kConfigAccepted)) {
    LOG_ERROR("error     : send write cfg cmd failed!\n");
    return kCfgJobNoSendAck;
  }

  if (!image.valid || !image.data || image.length == 0) {
    LOG_ERROR("error     : No valid cfg data \n");
    return kCfgJobNoImage;
  }
  result = connection.WriteRegister(reg::kConfigAddr, image.data.get(), image.length);
  if (result < 0) {
    LOG_ERROR("error     : Failed write cfg to 0x8050,ret:%d\n", result);
    return result;
  }

  uint8_t finishCommand[1] = {reg::kConfigFinishCmd};
  result = connection.WriteRegister(reg::kConfigCtrlAddr, finishCommand, sizeof finishCommand);
  if (result < 0) {
    LOG_ERROR("error     : Failed write send cfg finish cmd,ret:%d\n", result);
    return result;
  }
  SleepMs(waits::kAfterFinishCmdMs);
  if (!WaitForAck(connection, finishCommand[0], reg::kConfigFinished)) {
    LOG_ERROR("error     : wait write cfg finish cmd failed!\n");
    return kCfgJobNoFinishAck;
  }
  LOG_DEBUG("dbg info  : download cfg success\n");
  return kJobDone;
}

int32_t UpdateCfg(const char* cfg_name, bool ignoreVersion) {
  // First of all, so that the window closes only after the controller has
  // been closed and the image released.
  UpdateWindow window;
  // Declared before the connection, so that the connection is closed before
  // the image is released, on every way out.
  CfgImage image;
  CConnectionTLC connection;

  if (!OpenForJob(connection)) return kJobNoController;

  // A failed read leaves zeros: version 0 with an intact head, so any file
  // from version 1 on is sent to a controller whose head cannot be read.
  uint8_t head[kHeadBufferBytes] = {};
  if (connection.ReadRegister(reg::kConfigAddr, head, reg::kConfigHeadBytes) >= 0) NoteConfigHead(head);
  LOG_DEBUG("dbg info  : befor update cfg\n");
  LogHead(head);
  const uint8_t chipVersion = head[0];
  if (!CfgHeadIntact(head)) {
    LOG_ERROR("error     : Warning:cfg before update from chip checksum error!");
  }

  const int32_t loaded = image.LoadCfgFile(cfg_name);
  if (loaded < 0) {
    LOG_ERROR("error     : Failed read cfg file:%s, ret:%d\n", cfg_name != nullptr ? cfg_name : "(null)", loaded);
    NoteOutcome(RunOutcome::kRefusedFile);
    return kCfgJobFileRefused;
  }
  // Past 0xFFFF the register addresses wrap: the tail would overwrite the
  // handshake and the firmware's own registers.
  if (!CfgFitsRegisterSpace(image)) {
    NoteOutcome(RunOutcome::kRefusedFile);
    return kCfgJobTooLong;
  }
  NoteConfigImage(image.version);
  LOG_DEBUG("dbg info  : cfg_image Initialize success\n");

  if ((image.version & 0x80) == 0) {
    LOG_DEBUG("dbg info  : Warning:Your Input cfg didn't start with 0x80 in first byte\n");
    LOG_DEBUG("dbg info  : Warning:which means this is a tmp cfg and it will not write to Flash\n");
  }

  if (!CfgUpdateNeeded(chipVersion, image, ignoreVersion)) {
    NoteOutcome(RunOutcome::kNotNeededVersion);
    return kCfgJobNotNeeded;
  }

  // From the handshake on, an interrupted run would leave the controller
  // with part of a configuration.
  window.Open();
  int32_t result = kCfgJobNoImage;  // every run makes at least one attempt
  bool succeeded = false;
  for (int32_t attempt = 0; attempt < kDownloadAttempts && !succeeded; ++attempt) {
    result = DownloadCfg(connection, image);
    if (result < 0) {
      LOG_INFO("info      : Update cfg failed, retry=%d\n", attempt);
      SleepMs(waits::kAfterCfgAttemptMs);
      continue;
    }
    LOG_DEBUG("dbg info  : Update cfg Complete\n");
    SleepMs(waits::kAfterCfgAttemptMs);
    // A failed read leaves the earlier head in place.
    if (connection.ReadRegister(reg::kConfigAddr, head, reg::kConfigHeadBytes) >= 0) NoteConfigHead(head);
    LOG_DEBUG("dbg info  : after update cfg\n");
    LogHead(head);
    if (!CfgHeadIntact(head)) {
      LOG_ERROR("error     : cfg from chip checksum error!");
      result = kCfgJobHeadDamaged;
    } else if (head[0] != image.version) {
      LOG_ERROR(
           "error     : After config update,chip cfg version is not equal to cfg file version,chip cfg "
           "version:%d,cfg file version:%d\n",
           head[0], image.version);
      result = kCfgJobVersionDiffers;
    } else {
      succeeded = true;
    }
  }

  if (!succeeded) {
    LOG_ERROR("error     : Can't Update cfg correctly\n");
    return result;
  }
  LOG_INFO("info      : Update Cfg Success! Cfg Ver:0x%x\r\n", head[0]);
  return kJobDone;
}

}  // namespace tessaro
