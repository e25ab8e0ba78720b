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
int32_t LoadSubFw(CConnectionTLC& connection, uint32_t flashAddress, const uint8_t* data, uint32_t totalLength);

int32_t UpdateCfg(const char* cfg_name, bool ignoreVersion);
int32_t DownloadCfg(CConnectionTLC& connection, const CfgImage& image);

}  // namespace tessaro
