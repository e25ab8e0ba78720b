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
constexpr uint32_t kFwPidOffset = 15;
constexpr uint32_t kFwPidBytes = 8;
constexpr uint32_t kFwVidOffset = 23;
constexpr uint32_t kFwVidBytes = 4;

// What LoadFwFile returns. The values are the contract: tessaro logs them
// ("ret:"), and tessaro-info maps each refusal to the check that failed.
constexpr int32_t kFwLoaded = 1;
constexpr int32_t kFwErrOpen = -1;       // no name, the file does not open, or no memory
constexpr int32_t kFwErrRead = -2;       // the read failed
constexpr int32_t kFwErrReadCount = -3;  // the file delivered another count than its size
constexpr int32_t kFwErrChecksum = -4;
constexpr int32_t kFwErrLength = -5;     // the length field disagrees with the file's size
constexpr int32_t kFwErrTooShort = -6;   // shorter than the header and table area
constexpr int32_t kFwErrTable = -7;      // the sub-firmware table does not fit the file

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

  // kFwLoaded when loaded and valid, a kFwErr code otherwise. A null name leaves
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
