#include "bench/bench_images.h"

#include <vector>

#include "tools/image_builder.h"

namespace tessaro::bench {

std::string FirmwareImageOfSize(uint32_t totalBytes) {
  const uint32_t dataBytes = totalBytes - 256;
  // Half the data for the first kind, a sixteenth for the second, the rest
  // for the last; every length but the last a multiple of 256, so each
  // sub-firmware starts on a flash address the table can name.
  const uint32_t first = dataBytes / 2 / 256 * 256;
  const uint32_t second = dataBytes / 16 / 256 * 256;
  const uint32_t third = dataBytes - first - second;

  testing::FwImageSpec spec;
  spec.pidField = kBenchPid;
  spec.vid = {kBenchVid[0], kBenchVid[1], kBenchVid[2], kBenchVid[3]};
  spec.subs.push_back(testing::MakeSubFirmware(2, first, 0, 1));
  spec.subs.push_back(testing::MakeSubFirmware(6, second, static_cast<uint16_t>(first / 256), 2));
  spec.subs.push_back(testing::MakeSubFirmware(11, third, static_cast<uint16_t>((first + second) / 256), 3));
  std::string& identity = spec.subs[0].data;
  identity.replace(0, 4, kBenchPid, 4);
  for (int i = 0; i < 4; ++i) identity[4 + static_cast<size_t>(i)] = static_cast<char>(kBenchVid[i]);
  return testing::BuildFwImage(spec);
}

std::string ConfigurationOfSize(uint32_t totalBytes) {
  // "0xAB, " is 6 characters per byte.
  const uint32_t count = totalBytes / 6 > 4 ? totalBytes / 6 : 4;
  std::vector<uint8_t> body;
  body.reserve(count);
  // The head (version, two bytes) sums to 0, as a controller checks it.
  body.push_back(0x00);
  body.push_back(static_cast<uint8_t>(0x100 - 0x85));
  for (uint32_t i = 2; i + 2 < count; ++i) body.push_back(static_cast<uint8_t>(i * 37));
  const std::vector<uint8_t> bytes = testing::BalancedCfgBytes(0x85, body);
  std::string text;
  text.reserve(bytes.size() * 6 + 16);
  for (size_t line = 0; line < bytes.size(); line += 16) {
    const size_t end = line + 16 < bytes.size() ? line + 16 : bytes.size();
    text += testing::CfgText(std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(line),
                                                  bytes.begin() + static_cast<std::ptrdiff_t>(end)),
                             ", ");
    text += end < bytes.size() ? ",\n" : "\n";
  }
  return text;
}

}  // namespace tessaro::bench
