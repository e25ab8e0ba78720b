#pragma once
// A configuration file of hexadecimal byte tokens, parsed and validated
// before anything reaches the controller.
#include <cstdint>
#include <memory>

namespace tessaro {

// What LoadCfgFile returns. The values are the contract: tessaro logs them
// ("ret:"), and tessaro-info maps each refusal to the check that failed.
constexpr int32_t kCfgLoaded = 1;
constexpr int32_t kCfgErrOpen = -1;       // no name, the file does not open, or no memory
constexpr int32_t kCfgErrRead = -2;       // the read failed
constexpr int32_t kCfgErrReadCount = -3;  // the file delivered another count than its size
constexpr int32_t kCfgErrOverflow = -4;   // more tokens than were counted
constexpr int32_t kCfgErrChecksum = -5;   // the bytes do not sum to 0
// A file without a single token, which has no version byte and nothing the
// controller could take.
constexpr int32_t kCfgErrNoData = -6;

class CfgImage {
 public:
  CfgImage() = default;
  ~CfgImage() { Release(); }
  CfgImage(const CfgImage&) = delete;
  CfgImage& operator=(const CfgImage&) = delete;

  // kCfgLoaded when loaded, a kCfgErr code otherwise. A null name leaves the record
  // as it was; any other failure leaves it empty: valid 0, length 0, no buffer.
  int32_t LoadCfgFile(const char* cfg_name);
  // Clears valid and frees data.
  void Release();

  uint8_t valid = 0;
  uint32_t length = 0;
  uint8_t version = 0;
  std::unique_ptr<uint8_t[]> data;
};

}  // namespace tessaro
