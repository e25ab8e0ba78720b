#pragma once
// The sample firmware image and configuration of samples/, built from
// fixed parts so that the files can be made again byte for byte.
//
// They suit a fresh simulated controller (PID "TS01", VID 01 00 00 01,
// configuration version 0x84): the image has the same PID and another VID,
// and the configuration a higher version. The image's first sub-firmware
// (KV30, written by the default mask) lands at flash byte address 0 and
// begins with the image's identity, "TS01" and its VID, which a controller
// takes as its own at the restart.
#include <cstdint>
#include <string>
#include <vector>

namespace tessaro::samples {

constexpr const char* kFirmwareFile = "firmware.bin";
constexpr const char* kConfigFile = "config.txt";

constexpr char kPid[] = "TS01";
constexpr uint8_t kVid[4] = {0x01, 0x00, 0x00, 0x02};
constexpr uint8_t kConfigVersion = 0x85;

// One row of the sample image's sub-firmware table.
struct SampleSub {
  uint8_t type;
  uint16_t flashAddress;  // byte address / 256
  uint32_t length;
};
// In table order: KV30 at 0, small sys, short test code, boot code, and Q5
// last with an odd length, so that its last chunk ends the image.
std::vector<SampleSub> SampleSubs();

std::string SampleFirmwareImage();
std::string SampleConfiguration();

}  // namespace tessaro::samples
