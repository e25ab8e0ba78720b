#pragma once
// Every controller address, command and value the tool uses.
#include <cstdint>

namespace tessaro::reg {

constexpr uint8_t kReportId = 0x0E;

// Commands, byte 1 of an output report.
constexpr uint8_t kCmdRegisterAccess = 0x20;
constexpr uint8_t kCmdSwitchToPatch = 0x10;
constexpr uint8_t kCmdStartUpdate = 0x11;
constexpr uint8_t kCmdLoadFlash = 0x12;
constexpr uint8_t kCmdRestart = 0x13;

// Direction byte of a register access.
constexpr uint8_t kDirWrite = 0x00;
constexpr uint8_t kDirRead = 0x01;

// Data bytes per register-write report, and per register-read reply.
constexpr uint32_t kWriteChunkBytes = 55;
constexpr int32_t kMaxReadBytes = 60;
// Addresses are 16 bits; no write may run past the last one.
constexpr uint32_t kRegisterSpaceBytes = 0x10000;

// VERSION block: PID (4 ASCII), VID (4 bytes), sensor ID in the low 4 bits of byte 10.
constexpr uint16_t kVersionAddr = 0x8240;
constexpr int32_t kVersionBytes = 12;

// Configuration: the head (version, two more bytes summing to 0) and the data.
constexpr uint16_t kConfigAddr = 0x8050;
constexpr int32_t kConfigHeadBytes = 3;
constexpr uint32_t kConfigMaxBytes = kRegisterSpaceBytes - kConfigAddr;  // 32688

// Configuration handshake register and its values.
constexpr uint16_t kConfigCtrlAddr = 0x8040;
constexpr uint8_t kConfigSendCmd[3] = {0x80, 0x00, 0x80};
constexpr uint8_t kConfigAccepted = 0x82;
constexpr uint8_t kConfigFinishCmd = 0x83;
constexpr uint8_t kConfigFinished = 0xFF;

// Firmware update.
constexpr uint16_t kPatchStateAddr = 0x5095;
constexpr uint8_t kPatchReady = 0xDD;
constexpr uint16_t kChunkBufferAddr = 0x9000;
constexpr uint32_t kFlashChunkBytes = 4096;
constexpr uint16_t kFlashStateAddr = 0x5096;
constexpr uint8_t kFlashDone = 0xAA;
constexpr uint16_t kFlashDebugAddr = 0xF300;
constexpr int32_t kFlashDebugBytes = 16;

// The vendor-defined collection that carries the register traffic.
constexpr uint16_t kUsagePage = 0xFFF0;
constexpr uint16_t kUsage = 0x0001;

}  // namespace tessaro::reg
