// The four property queries. Each is one job: open, read one block, print,
// close. The result becomes the exit code, so the failure values (255, -1)
// are part of the contract even where they collide with a real property.
#include <cstdint>

#include "base/clock.h"
#include "base/log.h"
#include "base/run_record.h"
#include "transport/connection.h"
#include "transport/registers.h"
#include "update/decisions.h"
#include "update/jobs.h"

namespace tessaro {
namespace {

constexpr uint32_t kBeforeCfgReadSleepMs = 100;

// Reads the VERSION block into the connection; logs the query's failure line.
bool ReadVersionBlock(CConnectionTLC& connection) {
  if (connection.SetBasicProperties() < 0) {
    LOG_ERROR("error     : read VERSION failed\n");
    return false;
  }
  return true;
}

}  // namespace

int32_t ReadSensorId() {
  CConnectionTLC connection;
  if (!OpenForJob(connection)) return kQueryByteUnread;
  if (!ReadVersionBlock(connection)) return kQueryByteUnread;
  LOG_DEBUG("dbg info  : read Sensor ID success\n");
  LOG_DEBUG("dbg info  : Sensor ID:%02x\n", connection.sensorId);
  LOG_INFO("info      : Sensor ID:%02x\n", connection.sensorId);
  return connection.sensorId;
}

int32_t ReadFwVid() {
  CConnectionTLC connection;
  if (!OpenForJob(connection)) return kQueryUnread;
  if (!ReadVersionBlock(connection)) return kQueryUnread;
  const uint8_t* vid = connection.vid;
  LOG_DEBUG("dbg info  : read Fw vid success\n");
  LOG_DEBUG("dbg info  : VID:%02x %02x %02x %02x\n", vid[0], vid[1], vid[2], vid[3]);
  LOG_INFO("info      : VID:%02x %02x %02x %02x\n", vid[0], vid[1], vid[2], vid[3]);
  // Byte 0 lands in the sign bit for VIDs from 0x80...: the exit code is the
  // bit pattern, negative or not.
  return static_cast<int32_t>(PackedVid(vid));
}

int32_t ReadFwPid() {
  CConnectionTLC connection;
  if (!OpenForJob(connection)) return kQueryUnread;
  if (!ReadVersionBlock(connection)) return kQueryUnread;
  LOG_DEBUG("dbg info  : read Fw pid success\n");
  LOG_DEBUG("dbg info  : PID:%s\n", connection.pid);
  LOG_INFO("info      : PID:%s\n", connection.pid);
  return kJobDone;
}

int32_t ReadCfgVersion() {
  CConnectionTLC connection;
  if (!OpenForJob(connection)) return kQueryByteUnread;

  SleepMs(kBeforeCfgReadSleepMs);
  uint8_t head[reg::kConfigHeadBytes] = {};
  const int32_t readResult = connection.ReadRegister(reg::kConfigAddr, head, reg::kConfigHeadBytes);

  // The head is shown even after a failed read (then as zeros): it is what
  // a technician compares against the file.
  LOG_DEBUG("dbg info  : befor update cfg\n");
  for (int32_t i = 0; i < reg::kConfigHeadBytes; ++i) {
    LOG_DEBUG("dbg info  : 0x%04x:0x%02x\n", reg::kConfigAddr + i, head[i]);
  }
  if (!CfgHeadIntact(head)) {
    LOG_ERROR("error     : Warning:cfg before update from chip checksum error!");
  }
  if (readResult < 0) {
    LOG_ERROR("error     : read cfg version failed\n");
    return kQueryByteUnread;
  }
  NoteConfigHead(head);
  LOG_DEBUG("dbg info  : read Fw cfg version success\n");
  LOG_DEBUG("dbg info  : cfg Version:0x%02x\n", head[0]);
  LOG_INFO("info      : CFG VER:0x%02x\n", head[0]);
  return head[0];
}

}  // namespace tessaro
