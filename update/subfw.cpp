// Sub-firmware flashing: the controller cannot write its flash from the
// host's reports directly, so each chunk goes to its buffer at 0x9000 and a
// load-flash command names where it belongs and what it sums to.
#include <algorithm>
#include <cstdint>
#include <string>

#include "base/clock.h"
#include "base/log.h"
#include "images/fw_image.h"
#include "transport/registers.h"
#include "transport/report.h"
#include "update/jobs.h"
#include "update/waits.h"

namespace tessaro {
namespace {

constexpr uint32_t kFlashPollReads = 100;
// A chunk is sent once and reloaded while fewer than this many reloads were
// made: 12 sends in all.
constexpr uint32_t kMaxReloads = 11;
constexpr uint32_t kProgressCells = 50;

// True once 0x5096 reads 0xAA within the poll's reads; lastValue is the
// last byte seen (0 for a failed read).
bool PollFlashDone(CConnectionTLC& connection, uint8_t& lastValue) {
  for (uint32_t read = 0; read < kFlashPollReads; ++read) {
    uint8_t value[1] = {0};
    const int32_t result = connection.ReadRegister(reg::kFlashStateAddr, value, 1);
    if (result < 0) {
      LOG_ERROR("error     : Failed read 0x5096, ret=%d\n", result);
    }
    lastValue = value[0];
    if (value[0] == reg::kFlashDone) return true;
    SleepMs(waits::kFlashPollMs);
  }
  return false;
}

// The controller's state after an unconfirmed chunk, for whoever reads the
// debug log; the read's own result does not matter.
void DumpFlashDebugBlock(CConnectionTLC& connection) {
  uint8_t block[reg::kFlashDebugBytes] = {};
  connection.ReadRegister(reg::kFlashDebugAddr, block, reg::kFlashDebugBytes);
  for (int32_t i = 0; i < reg::kFlashDebugBytes; ++i) {
    LOG_DEBUG("dbg info  : 0x%04x: 0x%02x\n", reg::kFlashDebugAddr + i, block[i]);
  }
}

// "[" then 50 cells, the first percent / 2 of them "=", then "]".
std::string ProgressBar(uint32_t percent) {
  const uint32_t filled = std::min<uint32_t>(percent / 2, kProgressCells);
  std::string bar = "[";
  bar.append(filled, '=');
  bar.append(kProgressCells - filled, ' ');
  bar += "]";
  return bar;
}

}  // namespace

int32_t LoadSubFw(CConnectionTLC& connection, uint32_t flashAddress, const uint8_t* data, uint32_t totalLength,
                  const uint8_t* imageEnd) {
  uint32_t done = 0;
  uint32_t address = flashAddress;
  uint32_t reloads = 0;
  while (done < totalLength) {
    const uint32_t chunkLength = std::min(reg::kFlashChunkBytes, totalLength - done);
    const uint8_t* chunk = data + done;

    const int32_t written = connection.WriteRegister(reg::kChunkBufferAddr, chunk, chunkLength);
    if (written < 0) {
      LOG_ERROR("error     : Failed write sub fw,total length:%d, flash_addr:0x%04x, now write len:%d, ret:%d\n",
                static_cast<int32_t>(totalLength), address, static_cast<int32_t>(chunkLength), written);
      return written;
    }

    const uint16_t checksum = ChunkChecksum(chunk, chunkLength, imageEnd);
    // The command carries bits 23..8 of the flash address: sub-firmwares
    // start on 256-byte boundaries and every chunk but the last is 4096 bytes.
    const auto command =
        MakeLoadFlashCommand(static_cast<uint16_t>(chunkLength), static_cast<uint16_t>(address >> 8), checksum);
    if (connection.WriteReport(command.data(), static_cast<int32_t>(command.size())) < 0) {
      LOG_ERROR("error     : Failed write load flash command, ret =%d\n", kFwJobLoadFlashFailed);
      return kFwJobLoadFlashFailed;
    }

    SleepMs(waits::kAfterLoadFlashMs);

    uint8_t lastValue = 0;
    if (PollFlashDone(connection, lastValue)) {
      address += chunkLength;
      done += chunkLength;
      reloads = 0;
      // 64-bit, so that sub-firmwares past 42 MB do not wrap the product.
      const uint64_t percent = uint64_t{done} * 100 / totalLength;
      if (percent <= 100) {
        LOG_INFO("info      : %s %d/100\r", ProgressBar(static_cast<uint32_t>(percent)).c_str(),
                 static_cast<int32_t>(percent));
      }
      continue;
    }

    LOG_DEBUG("dbg info  : Read back 0x5096(0x%x) != 0xAA\n", lastValue);
    DumpFlashDebugBlock(connection);
    if (reloads >= kMaxReloads) return kFwJobAttemptFailed;
    ++reloads;
    LOG_DEBUG("dbg info  : Reload(%d) subFW:addr:0x%x\n", static_cast<int32_t>(reloads), address);
  }
  LOG_INFO("info      : \n");
  return kJobDone;
}

}  // namespace tessaro
