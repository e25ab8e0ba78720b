#pragma once
// The sub-firmware table of a firmware image as a technician needs to see it:
// every entry with its data's place in the file, which entries a --flag mask
// selects, and what loads but is doubtful. Works on any bytes, valid image or
// not, and never reads past them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tessaro::info {

struct FwTableEntry {
  uint32_t index = 0;
  uint8_t type = 0;
  std::string kind;             // "KV30", "Q5", ...; "" for a type without a name
  uint16_t flashAddress = 0;    // as stored: the byte address / 256
  uint32_t flashByteAddress = 0;
  uint32_t length = 0;
  uint64_t dataOffset = 0;      // where the entry's data begins in the file
  bool dataInFile = false;      // the whole of its data lies inside the file
  bool selected = false;        // the mask writes it
};

struct FwTable {
  bool haveHeader = false;  // the file holds the 256-byte header and table area
  std::string pid;          // zero bytes left out, as the loader takes it
  uint8_t vid[4] = {};
  uint32_t count = 0;       // as stored; entries beyond 28 are not listed
  std::vector<FwTableEntry> entries;
  bool neededKindsWritten = false;  // KV30, Q5 and the short test code all selected
  std::vector<std::string> warnings;
};

// The kind's name of a table type, "" when it has none.
std::string SubFwKindName(uint8_t type);

FwTable DescribeFwTable(const uint8_t* data, size_t lengthBytes, uint32_t subTypeFlag);

}  // namespace tessaro::info
