// The four property queries. Each is one job: open, read one block, print,
// close. The result becomes the exit code, so the failure values (255, -1)
// are part of the contract even where they collide with a real property.
#include <cstdint>

#include "base/clock.h"
#include "base/log.h"
#include "base/run_record.h"
#include "transport/connection.h"
#include "transport/registers.h"
#include "update/jobs.h"

namespace tessaro {
namespace {

constexpr int32_t kSensorIdFailure = 255;
constexpr int32_t kCfgVersionFailure = 255;
constexpr int32_t kVidFailure = -1;
constexpr int32_t kPidFailure = -1;
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
  if (!OpenForJob(connection)) return kSensorIdFailure;
  if (!ReadVersionBlock(connection)) return kSensorIdFailure;
  LOG_DEBUG("dbg info  : read Sensor ID success\n");
  LOG_DEBUG("dbg info  : Sensor ID:%02x\n", connection.sensorId);
  LOG_INFO("info      : Sensor ID:%02x\n", connection.sensorId);
  return connection.sensorId;
}

int32_t ReadFwVid() {
  CConnectionTLC connection;
  if (!OpenForJob(connection)) return kVidFailure;
  if (!ReadVersionBlock(connection)) return kVidFailure;
  const uint8_t* vid = connection.vid;
  LOG_DEBUG("dbg info  : read Fw vid success\n");
  LOG_DEBUG("dbg info  : VID:%02x %02x %02x %02x\n", vid[0], vid[1], vid[2], vid[3]);
  LOG_INFO("info      : VID:%02x %02x %02x %02x\n", vid[0], vid[1], vid[2], vid[3]);
  // Byte 0 lands in the sign bit for VIDs from 0x80...: the exit code is the
  // bit pattern, negative or not.
  const uint32_t packed = (uint32_t{vid[0]} << 24) | (uint32_t{vid[1]} << 16) | (uint32_t{vid[2]} << 8) | vid[3];
  return static_cast<int32_t>(packed);
}

int32_t ReadFwPid() {
  CConnectionTLC connection;
  if (!OpenForJob(connection)) return kPidFailure;
  if (!ReadVersionBlock(connection)) return kPidFailure;
  LOG_DEBUG("dbg info  : read Fw pid success\n");
  LOG_DEBUG("dbg info  : PID:%s\n", connection.pid);
  LOG_INFO("info      : PID:%s\n", connection.pid);
  return 0;
}

int32_t ReadCfgVersion() {
  CConnectionTLC connection;
  if (!OpenForJob(connection)) return kCfgVersionFailure;

  SleepMs(kBeforeCfgReadSleepMs);
  uint8_t head[reg::kConfigHeadBytes] = {};
  const int32_t readResult = connection.ReadRegister(reg::kConfigAddr, head, reg::kConfigHeadBytes);

  // The head is shown even after a failed read (then as zeros): it is what
  // a technician compares against the file.
  LOG_DEBUG("dbg info  : befor update cfg\n");
  for (int32_t i = 0; i < reg::kConfigHeadBytes; ++i) {
    LOG_DEBUG("dbg info  : 0x%04x:0x%02x\n", reg::kConfigAddr + i, head[i]);
  }
  if (static_cast<uint8_t>(head[0] + head[1] + head[2]) != 0) {
    LOG_ERROR("error     : Warning:cfg before update from chip checksum error!");
  }
  if (readResult < 0) {
    LOG_ERROR("error     : read cfg version failed\n");
    return kCfgVersionFailure;
  }
  NoteConfigHead(head);
  LOG_DEBUG("dbg info  : read Fw cfg version success\n");
  LOG_DEBUG("dbg info  : cfg Version:0x%02x\n", head[0]);
  LOG_INFO("info      : CFG VER:0x%02x\n", head[0]);
  return head[0];
}

}  // namespace tessaro
