#pragma once
// The device jobs; each owns its connection (and image) for its whole run.
#include <cstdint>

#include "images/cfg_image.h"
#include "images/fw_image.h"
#include "transport/connection.h"

namespace tessaro {

// What the jobs return, which the entry point makes the exit code. The
// values are the contract scripts read, so several causes share one value.
// Results of the transport's register operations pass through unnamed.
constexpr int32_t kJobDone = 0;          // done, or (firmware) nothing to do
constexpr int32_t kJobNoController = -1;  // none found, or another process holds it

// UpdateFw, DownloadFw and LoadSubFw.
constexpr int32_t kFwJobKindNotSelected = -1;  // the mask leaves out a needed kind
constexpr int32_t kFwJobAttemptFailed = -1;    // a chunk never confirmed, or the restart not sent
constexpr int32_t kFwJobUnreadable = -2;       // the VERSION block not read, before or after
constexpr int32_t kFwJobFileRefused = -2;      // the image does not load
constexpr int32_t kFwJobNoPatchMode = -2;      // the controller never reported its patch mode
constexpr int32_t kFwJobLoadFlashFailed = -2;  // the load-flash command not sent
constexpr int32_t kFwJobTableDoesNotFit = -4;  // the table runs outside the image or the flash
constexpr int32_t kFwJobNoImage = -4;          // no valid image to write

// UpdateCfg and DownloadCfg.
constexpr int32_t kCfgJobFileRefused = -2;     // the configuration does not load
constexpr int32_t kCfgJobNoSendAck = -2;       // the send command never acknowledged
constexpr int32_t kCfgJobNoFinishAck = -3;     // the finish command never acknowledged
constexpr int32_t kCfgJobNoImage = -4;         // no valid configuration to write
constexpr int32_t kCfgJobHeadDamaged = -5;     // the head read back does not sum to 0
constexpr int32_t kCfgJobNotNeeded = -6;       // the controller's version is equal or newer
constexpr int32_t kCfgJobVersionDiffers = -7;  // the head read back holds another version
constexpr int32_t kCfgJobTooLong = -8;         // it cannot fit between 0x8050 and 0xFFFF

// The property queries return the property; these when it was not read,
// though they are real properties too.
constexpr int32_t kQueryByteUnread = 255;  // sensor ID, configuration version
constexpr int32_t kQueryUnread = -1;       // PID, VID

// The VID's four bytes as one number, byte 0 the highest: what ReadFwVid
// returns and the run record's vidNumber.
constexpr uint32_t PackedVid(const uint8_t* vid) {
  return uint32_t{vid[0]} << 24 | uint32_t{vid[1]} << 16 | uint32_t{vid[2]} << 8 | vid[3];
}

int32_t ReadFwPid();
int32_t ReadFwVid();
int32_t ReadSensorId();
int32_t ReadCfgVersion();

int32_t UpdateFw(const char* fw_name, bool ignoreVersion, uint32_t subTypeFlag);
int32_t DownloadFw(CConnectionTLC& connection, const FwImage& image, uint32_t subTypeFlag);
// Writes totalLength bytes from data into flash at flashAddress. imageEnd is
// one past the image's last byte: an odd last chunk sums the byte after it,
// which exists only while the chunk does not end the image.
int32_t LoadSubFw(CConnectionTLC& connection, uint32_t flashAddress, const uint8_t* data, uint32_t totalLength,
                  const uint8_t* imageEnd);

int32_t UpdateCfg(const char* cfg_name, bool ignoreVersion);
int32_t DownloadCfg(CConnectionTLC& connection, const CfgImage& image);

}  // namespace tessaro
