#pragma once
// A firmware image file, read whole and validated before anything reaches
// the controller.
#include <cstdint>
#include <memory>

namespace tessaro {

// The header and table area; sub-firmware data always starts here.
constexpr uint32_t kFwDataOffset = 256;
constexpr uint32_t kFwCountOffset = 27;
constexpr uint32_t kFwTableOffset = 32;
constexpr uint32_t kFwTableEntryBytes = 8;
constexpr uint32_t kFwMaxEntries = (kFwDataOffset - kFwTableOffset) / kFwTableEntryBytes;  // 28

struct FwSubEntry {
  uint8_t type = 0;
  uint32_t length = 0;
  uint16_t flashAddress = 0;  // byte address / 256
};

class FwImage {
 public:
  FwImage() = default;
  ~FwImage() { Release(); }
  FwImage(const FwImage&) = delete;
  FwImage& operator=(const FwImage&) = delete;

  // 1 when loaded and valid, a negative code otherwise.
  int32_t LoadFwFile(const char* fw_name);
  // Clears valid and frees data.
  void Release();

  // Sub-firmware count and entry i as the file holds them. Only meaningful
  // on a valid image, whose table the loader has checked to fit.
  uint8_t SubCount() const;
  FwSubEntry SubEntry(uint32_t index) const;

  uint8_t valid = 0;
  uint32_t length = 0;
  char pid[9] = {};
  uint8_t vid[5] = {};
  std::unique_ptr<uint8_t[]> data;
};

}  // namespace tessaro
