#pragma once
// A configuration file of hexadecimal byte tokens, parsed and validated
// before anything reaches the controller.
#include <cstdint>
#include <memory>

namespace tessaro {

class CfgImage {
 public:
  CfgImage() = default;
  ~CfgImage() { Release(); }
  CfgImage(const CfgImage&) = delete;
  CfgImage& operator=(const CfgImage&) = delete;

  // 1 when loaded, a negative code otherwise. A null name leaves the record
  // as it was; any other failure leaves it empty: valid 0, length 0, no buffer.
  int32_t LoadCfgFile(const char* cfg_name);
  // Clears valid and frees data.
  void Release();

  uint8_t valid = 0;
  uint32_t length = 0;
  uint8_t version = 0;
  std::unique_ptr<uint8_t[]> data;
};

// LoadCfgFile's own refusal beside -1 to -5: a file without a single token,
// which has no version byte and nothing the controller could take.
constexpr int32_t kCfgErrNoData = -6;

}  // namespace tessaro
