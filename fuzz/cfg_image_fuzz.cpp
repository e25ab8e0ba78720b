// Each input is a configuration file. Besides the record's invariants, the
// bytes of a loaded file are compared with a decode of the text padded with
// two NUL bytes, which is what the rule for digits past the end amounts to.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "images/cfg_image.h"

namespace tessaro::fuzzing {
namespace {

uint8_t Nibble(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  return 0;
}

std::vector<uint8_t> PaddedDecode(const std::string& text) {
  const std::string padded = text + std::string(2, '\0');
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (padded[i] == 'x' || padded[i] == 'X') {
      bytes.push_back(static_cast<uint8_t>(Nibble(padded[i + 1]) << 4 | Nibble(padded[i + 2])));
    }
  }
  return bytes;
}

}  // namespace
}  // namespace tessaro::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  using namespace tessaro;
  using namespace tessaro::fuzzing;
  const std::string text(reinterpret_cast<const char*>(bytes), size);
  testing::MemoryFileSystem& files = Files();
  files.files["cfg.txt"] = text;
  CfgImage image;
  const int32_t result = image.LoadCfgFile("cfg.txt");
  FUZZ_CHECK(files.openHandles == 0);
  const std::vector<uint8_t> expected = PaddedDecode(text);
  uint8_t expectedSum = 0;
  for (uint8_t byte : expected) expectedSum = static_cast<uint8_t>(expectedSum + byte);
  if (expected.empty()) {
    FUZZ_CHECK(result == kCfgErrNoData);
  } else if (expectedSum != 0) {
    FUZZ_CHECK(result == -5);
  } else {
    FUZZ_CHECK(result == 1);
  }
  if (result != 1) {
    FUZZ_CHECK(image.valid == 0 && image.data == nullptr && image.length == 0);
    return 0;
  }
  FUZZ_CHECK(image.valid == 1 && image.data != nullptr && image.length == expected.size());
  for (uint32_t i = 0; i < image.length; ++i) FUZZ_CHECK(image.data[i] == expected[i]);
  FUZZ_CHECK(image.version == expected[0]);
  image.Release();
  FUZZ_CHECK(image.valid == 0 && image.data == nullptr);
  return 0;
}
