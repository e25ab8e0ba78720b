#pragma once
// The device jobs; each owns its connection (and image) for its whole run.
#include <cstdint>

#include "images/cfg_image.h"
#include "images/fw_image.h"
#include "transport/connection.h"

namespace tessaro {

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
