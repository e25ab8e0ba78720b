#pragma once
// The 65-byte report frame shared by every register access and command.
// Pure byte layout: what goes into a report and what a reply announces.
#include <array>
#include <cstdint>

#include "base/hid.h"

namespace tessaro {

// Bytes of an output report that carry meaning; the rest of the 65 is zero.
constexpr int32_t kReadRequestBytes = 10;
constexpr int32_t kModeCommandBytes = 6;
constexpr int32_t kLoadFlashCommandBytes = 11;
// Byte offset of the data in a register-write report and in a read reply.
constexpr int kWriteDataOffset = 10;
constexpr int kReplyDataOffset = 5;

// Register read request for `lengthBytes` bytes at `address`.
std::array<uint8_t, kReadRequestBytes> MakeReadRequest(uint16_t address, uint16_t lengthBytes);

// One chunk of a register write as a whole report; `lengthBytes` is at most
// reg::kWriteChunkBytes so that the data end at the report's last byte.
void MakeWriteChunk(Report& report, bool moreFollows, uint8_t chunkNumber, uint16_t address, const uint8_t* data,
                    uint8_t lengthBytes);

// The one-byte commands: switch to patch, start update, restart.
std::array<uint8_t, kModeCommandBytes> MakeModeCommand(uint8_t command);

// Load the chunk buffer into flash: its length, bits 23..8 of the flash
// address and the chunk's checksum, all big-endian.
std::array<uint8_t, kLoadFlashCommandBytes> MakeLoadFlashCommand(uint16_t lengthBytes, uint16_t flashAddressBits23To8,
                                                                 uint16_t checksum);

// Number of data bytes a reply announces (its bytes 3 and 4).
uint16_t ReplyLength(const Report& reply);

}  // namespace tessaro
