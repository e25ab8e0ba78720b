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

  void Release();

  uint8_t valid = 0;
  uint32_t length = 0;
  uint8_t version = 0;
  std::unique_ptr<uint8_t[]> data;
};

// 1 when loaded, a negative code otherwise.
int32_t LoadCfgFile(CfgImage& image, const char* cfg_name);

}  // namespace tessaro
