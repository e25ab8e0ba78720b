#include "tools/make-samples.h"

#include "tools/image_builder.h"

namespace tessaro::samples {

std::vector<SampleSub> SampleSubs() {
  return {{2, 0x0000, 20000}, {5, 0x0050, 2048}, {6, 0x0060, 3000}, {14, 0x0070, 1024}, {11, 0x0080, 9001}};
}

std::string SampleFirmwareImage() {
  testing::FwImageSpec spec;
  spec.pidField = kPid;
  spec.vid = {kVid[0], kVid[1], kVid[2], kVid[3]};
  uint8_t seed = 1;
  for (const SampleSub& sub : SampleSubs()) {
    spec.subs.push_back(testing::MakeSubFirmware(sub.type, sub.length, sub.flashAddress, seed++));
  }
  // The identity a controller reads from flash address 0 after its restart.
  std::string& kv30 = spec.subs[0].data;
  kv30.replace(0, 4, kPid, 4);
  for (int i = 0; i < 4; ++i) kv30[4 + i] = static_cast<char>(kVid[i]);
  return testing::BuildFwImage(spec);
}

std::string SampleConfiguration() {
  // Version, then two bytes that make the head sum to 0, then a body long
  // enough to take two register-write reports; the last byte balances the
  // whole.
  std::vector<uint8_t> body = {0x00, static_cast<uint8_t>(0x100 - kConfigVersion)};
  for (uint8_t i = 0; body.size() < 62; ++i) body.push_back(static_cast<uint8_t>(0x10 + i * 3));
  const std::vector<uint8_t> bytes = testing::BalancedCfgBytes(kConfigVersion, body);
  std::string text;
  for (size_t line = 0; line < bytes.size(); line += 16) {
    const size_t end = line + 16 < bytes.size() ? line + 16 : bytes.size();
    text += testing::CfgText(std::vector<uint8_t>(bytes.begin() + line, bytes.begin() + end), ", ");
    text += end < bytes.size() ? ",\n" : "\n";
  }
  return text;
}

}  // namespace tessaro::samples
