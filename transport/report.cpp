#include "transport/report.h"

#include <cstring>

#include "transport/registers.h"

namespace tessaro {
namespace {

uint8_t High(uint16_t value) { return static_cast<uint8_t>(value >> 8); }
uint8_t Low(uint16_t value) { return static_cast<uint8_t>(value & 0xFF); }

// Count byte of a register access: direction, address and length come before the data.
constexpr uint8_t kAccessHeaderBytes = 5;

}  // namespace

std::array<uint8_t, kReadRequestBytes> MakeReadRequest(uint16_t address, uint16_t lengthBytes) {
  return {reg::kReportId,     reg::kCmdRegisterAccess, 0x00, 0x00,        kAccessHeaderBytes,
          reg::kDirRead,      High(address),           Low(address), High(lengthBytes), Low(lengthBytes)};
}

void MakeWriteChunk(Report& report, bool moreFollows, uint8_t chunkNumber, uint16_t address, const uint8_t* data,
                    uint8_t lengthBytes) {
  // Never past the report's end, whatever the caller asks.
  if (lengthBytes > reg::kWriteChunkBytes) lengthBytes = static_cast<uint8_t>(reg::kWriteChunkBytes);
  std::memset(report, 0, sizeof(Report));
  report[0] = reg::kReportId;
  report[1] = reg::kCmdRegisterAccess;
  report[2] = moreFollows ? 1 : 0;
  report[3] = chunkNumber;
  report[4] = static_cast<uint8_t>(lengthBytes + kAccessHeaderBytes);
  report[5] = reg::kDirWrite;
  report[6] = High(address);
  report[7] = Low(address);
  report[8] = 0x00;
  report[9] = lengthBytes;
  if (lengthBytes > 0) std::memcpy(report + kWriteDataOffset, data, lengthBytes);
}

std::array<uint8_t, kModeCommandBytes> MakeModeCommand(uint8_t command) {
  return {reg::kReportId, command, 0x00, 0x00, 0x01, 0x01};
}

std::array<uint8_t, kLoadFlashCommandBytes> MakeLoadFlashCommand(uint16_t lengthBytes, uint16_t flashAddressBits23To8,
                                                                 uint16_t checksum) {
  return {reg::kReportId,           reg::kCmdLoadFlash,      0x00,           0x00,
          0x06,                     High(lengthBytes),       Low(lengthBytes), High(flashAddressBits23To8),
          Low(flashAddressBits23To8), High(checksum),        Low(checksum)};
}

uint16_t ReplyLength(const Report& reply) { return static_cast<uint16_t>(reply[3] << 8 | reply[4]); }

}  // namespace tessaro
