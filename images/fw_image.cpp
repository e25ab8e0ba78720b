#include "images/fw_image.h"

#include <cstring>
#include <new>

#include "base/log.h"
#include "images/whole_file.h"

namespace tessaro {
namespace {

constexpr uint32_t kFwPayloadLengthOffset = 0;
constexpr uint32_t kFwChecksumOffset = 4;
constexpr uint32_t kFwChecksummedFrom = 6;

uint32_t BigEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
         static_cast<uint32_t>(bytes[2]) << 8 | static_cast<uint32_t>(bytes[3]);
}

uint16_t BigEndian16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

FwSubEntry EntryAt(const uint8_t* data, uint32_t index) {
  const uint8_t* entry = data + kFwTableOffset + kFwTableEntryBytes * index;
  FwSubEntry result;
  result.type = entry[0];
  result.length = BigEndian32(entry + 1);
  result.flashAddress = BigEndian16(entry + 5);
  return result;
}

// The table must stay inside the header area and every entry's data inside
// the file: the update walks both straight from the image's bytes. Lengths
// add up in 64 bits, so 28 entries of up to 4 GiB each cannot wrap past the
// test. Returns kFwErrTable after its message, or 0.
int32_t CheckSubTable(const uint8_t* data, uint32_t length) {
  const uint32_t count = data[kFwCountOffset];
  if (count > kFwMaxEntries) {
    LOG_ERROR("error     : sub fw table invalid, sub fw num:%u, at most:%u\n", count, kFwMaxEntries);
    return kFwErrTable;
  }
  uint64_t dataOffset = kFwDataOffset;
  for (uint32_t i = 0; i < count; ++i) {
    const FwSubEntry entry = EntryAt(data, i);
    const uint64_t dataEnd = dataOffset + entry.length;
    if (dataEnd > length) {
      LOG_ERROR("error     : sub fw data past end of file, sub_fw_num:%u, offset:%u, len:%u, fw_bin_len:%u\n", i,
                static_cast<uint32_t>(dataOffset), entry.length, length);
      return kFwErrTable;
    }
    dataOffset = dataEnd;
  }
  return 0;
}

}  // namespace

int32_t FwImage::LoadFwFile(const char* fw_name) {
  if (fw_name == nullptr) {
    LOG_ERROR("error     : fw name is NULL!!!\n");
    return kFwErrOpen;
  }
  Release();
  length = 0;
  std::memset(pid, 0, sizeof pid);
  std::memset(vid, 0, sizeof vid);

  // Every failure below leaves the record empty; the file closes with `file`.
  auto fail = [this](int32_t code) {
    Release();
    length = 0;
    return code;
  };

  OpenedFile file;
  if (!file.Open(fw_name)) {
    LOG_ERROR("error     : open fw file FAILED, fw_name:%s\n", fw_name);
    return fail(kFwErrOpen);
  }
  length = TheFileSystem().SizeLow32(file.handle());

  data.reset(new (std::nothrow) uint8_t[length]);
  if (!data) {
    LOG_ERROR("error     : allocate memory for fw failed\n");
    return fail(kFwErrOpen);
  }

  const WholeRead read = ReadWholeFile(file.handle(), data.get(), length);
  if (read.result == WholeRead::Result::kFailed) {
    LOG_ERROR("error     : ReadFile FAILED,error:%d\n", static_cast<int>(read.error));
    return fail(kFwErrRead);
  }
  if (read.result == WholeRead::Result::kCountDiffers) {
    LOG_ERROR("error     : ReadFile fail, fw_bin_len:%d, read length:%d\n", static_cast<int>(length),
              static_cast<int>(read.readBytes));
    return fail(kFwErrReadCount);
  }

  // No field may be read before the file is known to hold the whole header
  // and table area.
  if (length < kFwDataOffset) {
    LOG_ERROR("error     : fw file too short, fw_name:%s, fw_bin_len:%u, at least:%u\n", fw_name, length,
              kFwDataOffset);
    return fail(kFwErrTooShort);
  }

  uint16_t sum = 0;
  for (uint32_t i = kFwChecksummedFrom; i < length; ++i) sum = static_cast<uint16_t>(sum + data[i]);
  const uint16_t stored = BigEndian16(data.get() + kFwChecksumOffset);
  if (sum != stored) {
    LOG_ERROR("error     : Check_sum err  0x%x != 0x%x\n", static_cast<unsigned>(sum), static_cast<unsigned>(stored));
    return fail(kFwErrChecksum);
  }

  const uint32_t payloadPlusHeader = BigEndian32(data.get() + kFwPayloadLengthOffset) + kFwChecksummedFrom;
  if (payloadPlusHeader != length) {
    LOG_ERROR("error     : Check file len failed %d != %d\n", static_cast<int>(payloadPlusHeader),
              static_cast<int>(length));
    return fail(kFwErrLength);
  }

  const int32_t table = CheckSubTable(data.get(), length);
  if (table < 0) return fail(table);

  uint32_t pidLength = 0;
  for (uint32_t i = 0; i < kFwPidBytes; ++i) {
    const uint8_t byte = data[kFwPidOffset + i];
    if (byte != 0) pid[pidLength++] = static_cast<char>(byte);
  }
  std::memcpy(vid, data.get() + kFwVidOffset, kFwVidBytes);
  vid[kFwVidBytes] = 0;

  LOG_DEBUG("dbg info  : firmware vid:0x%02X,0x%02X,0x%02X,0x%02X\n", vid[0], vid[1], vid[2], vid[3]);
  valid = 1;
  return kFwLoaded;
}

void FwImage::Release() {
  valid = 0;
  data.reset();
}

uint8_t FwImage::SubCount() const {
  if (!valid || !data) return 0;
  return data[kFwCountOffset];
}

FwSubEntry FwImage::SubEntry(uint32_t index) const {
  if (index >= SubCount()) return FwSubEntry{};
  return EntryAt(data.get(), index);
}

uint32_t FwImage::SubDataOffset(uint32_t index) const {
  uint32_t offset = kFwDataOffset;
  const uint32_t count = SubCount();
  for (uint32_t i = 0; i < index && i < count; ++i) offset += EntryAt(data.get(), i).length;
  return offset;
}

uint16_t ChunkChecksum(const uint8_t* chunk, uint32_t lengthBytes, const uint8_t* imageEnd) {
  // Positions are compared as distances from the chunk, so nothing is
  // formed past the image's end.
  const uint64_t available = imageEnd > chunk ? static_cast<uint64_t>(imageEnd - chunk) : 0;
  auto byteAt = [&](uint64_t i) -> uint32_t { return i < available ? chunk[i] : 0u; };
  uint16_t sum = 0;
  for (uint64_t i = 0; i < lengthBytes; i += 2) {
    sum = static_cast<uint16_t>(sum + (byteAt(i) << 8 | byteAt(i + 1)));
  }
  return sum;
}

}  // namespace tessaro
