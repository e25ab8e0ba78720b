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

// LoadFwFile's own refusals beside -1 to -5: a file too short to hold the
// header and table area, and a sub-firmware table that does not fit the file.
constexpr int32_t kFwErrTooShort = -6;
constexpr int32_t kFwErrTable = -7;

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

  // 1 when loaded and valid, a negative code otherwise. A null name leaves
  // the record as it was; any other failure leaves it empty: valid 0,
  // length 0, no buffer.
  int32_t LoadFwFile(const char* fw_name);
  // Clears valid and frees data.
  void Release();

  // Sub-firmware count and entry i as the file holds them. A valid image's
  // table has been checked to fit: at most 28 entries, and every entry's
  // data inside the file. On an image that is not valid the count is 0; an
  // index at or past the count gives an all-zero entry.
  uint8_t SubCount() const;
  FwSubEntry SubEntry(uint32_t index) const;
  // Offset in data of entry i's first byte: 256 plus the lengths of the
  // entries before it. At most length on a valid image.
  uint32_t SubDataOffset(uint32_t index) const;

  uint8_t valid = 0;
  uint32_t length = 0;
  char pid[9] = {};
  uint8_t vid[5] = {};
  std::unique_ptr<uint8_t[]> data;
};

// The load-flash checksum of one chunk of an image: its bytes as big-endian
// 16-bit words summed with wrap-around. A chunk of odd length has one more
// word whose low byte is the image byte after the chunk, or 0 when the chunk
// ends the image. imageEnd is one past the image's last byte; no byte at or
// past it is read (such bytes count as 0).
uint16_t ChunkChecksum(const uint8_t* chunk, uint32_t lengthBytes, const uint8_t* imageEnd);

}  // namespace tessaro
