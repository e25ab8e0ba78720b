#include "info/fw_table.h"

#include <algorithm>

#include "base/hex.h"
#include "images/fw_image.h"
#include "update/subfw_kinds.h"

namespace tessaro::info {
namespace {

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

std::string Hex(uint64_t value) { return "0x" + HexNumber(value, 1, HexCase::kLower); }

}  // namespace

std::string SubFwKindName(uint8_t type) {
  const int kind = SubFwKindOfType(type);
  return kind >= 0 ? kSubFwKinds[kind].name : "";
}

FwTable DescribeFwTable(const uint8_t* data, size_t lengthBytes, uint32_t subTypeFlag) {
  FwTable table;
  if (data == nullptr || lengthBytes < kFwDataOffset) return table;
  table.haveHeader = true;
  for (uint32_t i = 0; i < kFwPidBytes; ++i) {
    if (data[kFwPidOffset + i] != 0) table.pid.push_back(static_cast<char>(data[kFwPidOffset + i]));
  }
  std::copy(data + kFwVidOffset, data + kFwVidOffset + kFwVidBytes, table.vid);
  table.count = data[kFwCountOffset];

  const uint32_t listed = std::min(table.count, kFwMaxEntries);
  uint64_t dataOffset = kFwDataOffset;
  for (uint32_t i = 0; i < listed; ++i) {
    const uint8_t* raw = data + kFwTableOffset + kFwTableEntryBytes * i;
    FwTableEntry entry;
    entry.index = i;
    entry.type = raw[0];
    entry.kind = SubFwKindName(entry.type);
    entry.length = BigEndian32(raw + 1);
    entry.flashAddress = static_cast<uint16_t>(raw[5] << 8 | raw[6]);
    entry.flashByteAddress = uint32_t{entry.flashAddress} * 256;
    entry.dataOffset = dataOffset;
    entry.dataInFile = dataOffset + entry.length <= lengthBytes;
    entry.selected = SubTypeSelected(subTypeFlag, entry.type);
    dataOffset += entry.length;
    table.entries.push_back(entry);
  }

  bool written[kSubFwKindCount] = {};
  for (const FwTableEntry& entry : table.entries) {
    for (int k = 0; k < kSubFwKindCount; ++k) {
      if (kSubFwKinds[k].type != entry.type || !entry.selected) continue;
      written[k] = true;
      if (kSubFwKinds[k].needed && entry.length == 0) {
        table.warnings.push_back("entry " + std::to_string(entry.index) + " (" + entry.kind +
                                 ") is a needed kind of length 0: nothing of it reaches the flash");
      }
    }
  }
  table.neededKindsWritten = true;
  for (int k = 0; k < kSubFwKindCount; ++k) {
    if (kSubFwKinds[k].needed && !written[k]) table.neededKindsWritten = false;
  }

  // Overlaps among the entries the mask writes: a later one overwrites the
  // earlier one's flash.
  for (size_t a = 0; a < table.entries.size(); ++a) {
    for (size_t b = a + 1; b < table.entries.size(); ++b) {
      const FwTableEntry& x = table.entries[a];
      const FwTableEntry& y = table.entries[b];
      if (!x.selected || !y.selected || x.length == 0 || y.length == 0) continue;
      const uint64_t xEnd = uint64_t{x.flashByteAddress} + x.length;
      const uint64_t yEnd = uint64_t{y.flashByteAddress} + y.length;
      if (x.flashByteAddress < yEnd && y.flashByteAddress < xEnd) {
        table.warnings.push_back("entries " + std::to_string(x.index) + " and " + std::to_string(y.index) +
                                 " overlap in flash: " + Hex(x.flashByteAddress) + "-" + Hex(xEnd - 1) + " and " +
                                 Hex(y.flashByteAddress) + "-" + Hex(yEnd - 1));
      }
    }
  }
  if (table.count <= kFwMaxEntries && dataOffset < lengthBytes) {
    table.warnings.push_back(std::to_string(lengthBytes - dataOffset) +
                             " bytes after the last entry's data, from offset " + std::to_string(dataOffset) +
                             ": no entry writes them");
  }
  return table;
}

}  // namespace tessaro::info
