#pragma once
// Firmware images and configuration files of a chosen size, for the
// benchmarks and for bench/run's end-to-end runs on tessaro-sim.
#include <cstdint>
#include <string>

namespace tessaro::bench {

// The PID a fresh tessaro-sim reports, and a VID it does not: an image that
// carries both is taken by a fresh simulator without "ignoreVer".
constexpr char kBenchPid[] = "TS01";
constexpr uint8_t kBenchVid[4] = {0x01, 0x00, 0x00, 0x7B};

// A firmware image of exactly `totalBytes` bytes (a multiple of 256, at
// least 1024): the three kinds an update needs (types 2, 6 and 11) laid
// out back to back in flash from address 0, so that all of the image but
// its header is flashed by the default mask. The first sub-firmware begins
// with the image's identity (PID, VID), which the simulator takes from
// flash address 0 at the restart.
std::string FirmwareImageOfSize(uint32_t totalBytes);

// A valid configuration text of about `totalBytes` bytes: byte tokens
// "0xAB" separated by ", ", 16 to a line. Its version is 0x85, above a
// fresh simulator's.
std::string ConfigurationOfSize(uint32_t totalBytes);

}  // namespace tessaro::bench
