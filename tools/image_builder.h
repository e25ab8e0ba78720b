#pragma once
// Builds image files for tests: firmware images from a table of
// sub-firmwares, with correct or deliberately wrong length and checksum
// fields, and configuration texts of byte tokens. Everything is built into a
// std::string of bytes; WriteFileBytes (temp_dir.h) puts it on disk.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessaro::testing {

// One sub-firmware: its table entry and its data.
struct SubFirmware {
  uint8_t type = 0;
  uint16_t flashAddress = 0;  // byte address / 256, as the table holds it
  std::string data;
  // When set, the table entry states this length instead of data's size
  // (data is still placed whole).
  std::optional<uint32_t> tableLength;
};

// length bytes that differ from one position to the next and from one seed
// to another, so that a misplaced or reordered chunk shows.
std::string PatternBytes(uint32_t length, uint8_t seed);

// A sub-firmware of the given type and length filled with PatternBytes(length, seed).
SubFirmware MakeSubFirmware(uint8_t type, uint32_t length, uint16_t flashAddress, uint8_t seed);

// The kinds an update needs (types 2, 6 and 11), with lengths that make
// full and odd last chunks.
std::vector<SubFirmware> NeededSubFirmwares();

struct FwImageSpec {
  // The 8 bytes at offset 15: shorter texts are filled up with zero bytes,
  // longer ones cut; zero bytes inside are kept (std::string("AB\0\0CD", 6)).
  std::string pidField = "ABCD";
  std::array<uint8_t, 4> vid = {0x01, 0x02, 0x03, 0x04};
  std::vector<SubFirmware> subs;
  // The count byte at offset 27 when it should differ from subs.size().
  std::optional<uint8_t> count;
  // Bytes after the sub-firmware data, covered by length and checksum.
  std::string trailer;
  // Field overrides; by default both fields are correct.
  std::optional<uint32_t> payloadLength;
  std::optional<uint16_t> checksum;
};

// The image file's bytes. Table entries past the 28 that fit before offset
// 256 are not written (a count above 28 is made with `count`).
std::string BuildFwImage(const FwImageSpec& spec);

// The 16-bit sum of the bytes from offset 6 on, as the header stores it.
uint16_t FwChecksum(const std::string& image);

// Sets the length and checksum fields of image (at least 6 bytes) to match
// its bytes, after a test has changed some of them.
void SealFwImage(std::string& image);

// Configuration bytes whose sum is 0 modulo 256: version, then body, then
// one byte that balances the sum.
std::vector<uint8_t> BalancedCfgBytes(uint8_t version, const std::vector<uint8_t>& body);

// A configuration text: each byte as "0x" and two upper-case digits,
// joined by separator.
std::string CfgText(const std::vector<uint8_t>& bytes, const std::string& separator = ",");

}  // namespace tessaro::testing
