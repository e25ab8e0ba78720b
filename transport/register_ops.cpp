#include <climits>
#include <cstdint>
#include <cstring>

#include "base/log.h"
#include "base/run_record.h"
#include "transport/connection.h"
#include "transport/registers.h"
#include "transport/report.h"

namespace tessaro {

int32_t CConnectionTLC::WriteReport(const uint8_t* buffer, int32_t len) {
  // A negative length is refused like an oversized one: nothing to copy from.
  if (len > kReportLengthBytes || len < 0) {
    LOG_ERROR("error     : write len ERROR, len:%d\n", len);
    return -1;
  }
  if (buffer == nullptr) {
    LOG_ERROR("error     : write ERROR, buffer is NULL\n");
    return -1;
  }
  Report report = {};
  if (len > 0) std::memcpy(report, buffer, static_cast<size_t>(len));
  report[0] = reg::kReportId;

  if (!Reachable() || !TheHid().SetOutputReport(deviceHandle, report)) {
    const uint32_t error = FailureCode();
    LOG_ERROR("error     : write failed!! error:0x%02x\n", error);
    NoteFailure(error);
    return -2;
  }
  return len;
}

int32_t CConnectionTLC::ReadRegister(uint16_t address, uint8_t* dest, int32_t len) {
  // A reply holds at most 60 data bytes; anything else cannot be answered.
  if (dest == nullptr || len < 1 || len > reg::kMaxReadBytes) return -1;

  const auto request = MakeReadRequest(address, static_cast<uint16_t>(len));
  if (WriteReport(request.data(), kReadRequestBytes) < 0) {
    LOG_ERROR("error     : Read FAILED, because of write operate fail:0x%x \n", FailureCode());
    return -1;
  }

  // The controller has its answer ready at once: no pause before the fetch.
  Report reply = {};
  reply[0] = reg::kReportId;
  if (!TheHid().GetInputReport(deviceHandle, reply)) {
    const uint32_t error = FailureCode();
    LOG_ERROR("error     : Read FAILED, because of HidD_GetInputReport fail:0x%x \n", error);
    NoteFailure(error);
    return -2;
  }
  const int32_t announced = ReplyLength(reply);
  if (announced != len) {
    LOG_ERROR("error     : valid data len from fw ERROR, readLen:%d, fw_data_len:%d\n", len, announced);
    return -3;
  }
  std::memcpy(dest, reply + kReplyDataOffset, static_cast<size_t>(len));
  return len;
}

int32_t CConnectionTLC::WriteRegister(uint16_t address, const uint8_t* data, uint32_t n) {
  // The result carries n back as a signed count, so a larger n could only be
  // misread as a failure; and without data there is nothing to send.
  if (n == 0 || n > static_cast<uint32_t>(INT32_MAX) || data == nullptr) return -1;
  // Chunk addresses are 16 bits: a write running past 0xFFFF would wrap onto
  // 0x0000 and land among registers that are not its own.
  if (uint64_t{address} + n > reg::kRegisterSpaceBytes) return -1;

  uint32_t offset = 0;
  uint8_t chunkNumber = 0;
  uint16_t chunkAddress = address;
  while (offset < n) {
    const uint32_t remainder = n - offset;
    // A remainder of exactly one chunk is the last chunk.
    const bool moreFollows = remainder > reg::kWriteChunkBytes;
    const uint8_t chunkBytes = static_cast<uint8_t>(moreFollows ? reg::kWriteChunkBytes : remainder);

    Report report;
    MakeWriteChunk(report, moreFollows, chunkNumber, chunkAddress, data + offset, chunkBytes);
    if (!Reachable() || !TheHid().SetOutputReport(deviceHandle, report)) {
      const uint32_t error = FailureCode();
      LOG_ERROR("error     : write failed!! error:0x%02x\n", error);
      LOG_ERROR("error     : Failed write data to addr=0x%x, len=%d,ret = %d\n", chunkAddress, chunkBytes, -2);
      NoteFailure(error);
      return -2;
    }
    offset += chunkBytes;
    chunkAddress = static_cast<uint16_t>(chunkAddress + chunkBytes);
    chunkNumber = static_cast<uint8_t>(chunkNumber + 1);
  }
  return static_cast<int32_t>(n);
}

int32_t CConnectionTLC::SetBasicProperties() {
  sensorId = 2;
  if (opened == 0) {
    LOG_ERROR("error     : SetBasicProperties failed, please open device first\n");
    return -1;
  }
  for (int retry = kVersionReadAttempts; retry >= 1; --retry) {
    uint8_t block[reg::kVersionBytes] = {};
    if (ReadRegister(reg::kVersionAddr, block, reg::kVersionBytes) >= 0) {
      std::memcpy(pid, block, 4);
      pid[4] = '\0';
      std::memcpy(vid, block + 4, 4);
      vid[4] = 0;
      sensorId = static_cast<uint8_t>(block[10] & 0x0F);
      NoteVersionBlock(pid, vid, sensorId);
      return 0;
    }
    LOG_ERROR("error     : Failed read VERSION, retry=%d\n", retry);
  }
  return -1;
}

}  // namespace tessaro
