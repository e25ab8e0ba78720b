// Each input is loaded twice: as it is, and with its length and checksum
// fields made to match, so that the table checks behind them are reached
// as often as the header checks in front. The table listing of
// tessaro-info reads every input too, valid or not, under two masks.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "images/fw_image.h"
#include "info/fw_table.h"

namespace tessaro::fuzzing {
namespace {

uint32_t BigEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
         static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

void Seal(std::string& file) {
  const uint32_t payload = static_cast<uint32_t>(file.size() - 6);
  uint16_t sum = 0;
  for (size_t i = 6; i < file.size(); ++i) sum = static_cast<uint16_t>(sum + static_cast<uint8_t>(file[i]));
  const uint8_t fields[6] = {static_cast<uint8_t>(payload >> 24), static_cast<uint8_t>(payload >> 16),
                             static_cast<uint8_t>(payload >> 8),  static_cast<uint8_t>(payload),
                             static_cast<uint8_t>(sum >> 8),      static_cast<uint8_t>(sum)};
  file.replace(0, 6, reinterpret_cast<const char*>(fields), 6);
}

// Any bytes at all: the listing never reads past them.
void ListAnyBytes(const std::string& file) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
  for (const uint32_t mask : {0x844u, 0xFFFFFFFFu}) {
    const info::FwTable table = info::DescribeFwTable(bytes, file.size(), mask);
    FUZZ_CHECK(table.haveHeader == (file.size() >= kFwDataOffset));
    FUZZ_CHECK(table.entries.size() <= kFwMaxEntries);
  }
}

void LoadAndCheck(const std::string& file) {
  ListAnyBytes(file);
  testing::MemoryFileSystem& files = Files();
  files.files["fw.bin"] = file;
  FwImage image;
  const int32_t result = image.LoadFwFile("fw.bin");
  FUZZ_CHECK(files.openHandles == 0);
  if (result != 1) {
    FUZZ_CHECK(result == kFwErrChecksum || result == kFwErrLength || result == kFwErrTooShort ||
               result == kFwErrTable);
    FUZZ_CHECK(image.valid == 0 && image.data == nullptr && image.length == 0 && image.SubCount() == 0);
    return;
  }
  FUZZ_CHECK(image.valid == 1 && image.data != nullptr);
  // The listing of a valid image agrees with the loader's table.
  const uint32_t mask = BigEndian32(image.data.get() + 6);
  const info::FwTable table = info::DescribeFwTable(image.data.get(), image.length, mask);
  FUZZ_CHECK(table.haveHeader && table.count == image.SubCount() && table.entries.size() == table.count);
  for (const info::FwTableEntry& entry : table.entries) {
    FUZZ_CHECK(entry.dataInFile && entry.dataOffset == image.SubDataOffset(entry.index));
    FUZZ_CHECK(entry.selected == (((mask >> (entry.type % 32)) & 1) != 0));
    FUZZ_CHECK(entry.flashByteAddress == uint32_t{entry.flashAddress} * 256);
  }
  FUZZ_CHECK(image.length == file.size() && image.length >= kFwDataOffset);
  const uint8_t* data = image.data.get();
  FUZZ_CHECK(BigEndian32(data) + 6u == image.length);
  uint16_t sum = 0;
  for (uint32_t i = 6; i < image.length; ++i) sum = static_cast<uint16_t>(sum + data[i]);
  FUZZ_CHECK(sum == (data[4] << 8 | data[5]));
  FUZZ_CHECK(image.pid[8] == '\0' && image.vid[4] == 0);
  FUZZ_CHECK(image.SubCount() <= kFwMaxEntries);

  // Walk the table as the update does, chunk by chunk with its checksum: any
  // byte read outside the image is an overrun that AddressSanitizer reports.
  const uint8_t* imageEnd = data + image.length;
  uint64_t offset = kFwDataOffset;
  for (uint32_t i = 0; i < image.SubCount(); ++i) {
    const FwSubEntry entry = image.SubEntry(i);
    FUZZ_CHECK(image.SubDataOffset(i) == offset);
    FUZZ_CHECK(offset + entry.length <= image.length);
    for (uint32_t done = 0; done < entry.length;) {
      const uint32_t chunk = entry.length - done < 4096 ? entry.length - done : 4096;
      (void)ChunkChecksum(data + offset + done, chunk, imageEnd);
      done += chunk;
    }
    offset += entry.length;
  }
  image.Release();
  FUZZ_CHECK(image.valid == 0 && image.data == nullptr);
}

}  // namespace
}  // namespace tessaro::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  std::string file(reinterpret_cast<const char*>(bytes), size);
  tessaro::fuzzing::LoadAndCheck(file);
  if (file.size() >= 6) {
    tessaro::fuzzing::Seal(file);
    tessaro::fuzzing::LoadAndCheck(file);
  }
  return 0;
}
