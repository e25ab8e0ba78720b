#include "tools/image_builder.h"

#include <cstdio>

namespace tessaro::testing {
namespace {

constexpr size_t kDataOffset = 256;
constexpr size_t kTableOffset = 32;
constexpr size_t kEntryBytes = 8;
constexpr size_t kMaxEntries = 28;

void PutBigEndian(std::string& bytes, size_t offset, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) {
    bytes[offset + static_cast<size_t>(i)] = static_cast<char>((value >> (8 * (width - 1 - i))) & 0xFF);
  }
}

}  // namespace

std::string PatternBytes(uint32_t length, uint8_t seed) {
  std::string bytes(length, '\0');
  for (uint32_t i = 0; i < length; ++i) {
    // The i / 251 term shifts the run every 251 bytes, so equal 4096-byte
    // chunks are not equal in content.
    bytes[i] = static_cast<char>((seed * 31u + i * 7u + i / 251u) & 0xFF);
  }
  return bytes;
}

SubFirmware MakeSubFirmware(uint8_t type, uint32_t length, uint16_t flashAddress, uint8_t seed) {
  SubFirmware sub;
  sub.type = type;
  sub.flashAddress = flashAddress;
  sub.data = PatternBytes(length, seed);
  return sub;
}

std::vector<SubFirmware> NeededSubFirmwares() {
  return {MakeSubFirmware(2, 10000, 0x0100, 1), MakeSubFirmware(6, 4096, 0x0400, 2),
          MakeSubFirmware(11, 4097, 0x0600, 3)};
}

std::string BuildFwImage(const FwImageSpec& spec) {
  std::string image(kDataOffset, '\0');
  for (size_t i = 0; i < 8 && i < spec.pidField.size(); ++i) image[15 + i] = spec.pidField[i];
  for (size_t i = 0; i < 4; ++i) image[23 + i] = static_cast<char>(spec.vid[i]);
  image[27] = static_cast<char>(spec.count ? *spec.count : static_cast<uint8_t>(spec.subs.size()));
  for (size_t i = 0; i < spec.subs.size(); ++i) {
    const SubFirmware& sub = spec.subs[i];
    if (i < kMaxEntries) {
      const size_t entry = kTableOffset + kEntryBytes * i;
      image[entry] = static_cast<char>(sub.type);
      PutBigEndian(image, entry + 1, sub.tableLength ? *sub.tableLength : sub.data.size(), 4);
      PutBigEndian(image, entry + 5, sub.flashAddress, 2);
    }
    image += sub.data;
  }
  image += spec.trailer;
  SealFwImage(image);
  if (spec.payloadLength) PutBigEndian(image, 0, *spec.payloadLength, 4);
  if (spec.checksum) PutBigEndian(image, 4, *spec.checksum, 2);
  return image;
}

uint16_t FwChecksum(const std::string& image) {
  uint16_t sum = 0;
  for (size_t i = 6; i < image.size(); ++i) sum = static_cast<uint16_t>(sum + static_cast<uint8_t>(image[i]));
  return sum;
}

void SealFwImage(std::string& image) {
  PutBigEndian(image, 0, static_cast<uint32_t>(image.size() - 6), 4);
  PutBigEndian(image, 4, FwChecksum(image), 2);
}

std::vector<uint8_t> BalancedCfgBytes(uint8_t version, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> bytes;
  bytes.reserve(body.size() + 2);
  bytes.push_back(version);
  for (uint8_t byte : body) bytes.push_back(byte);
  uint8_t sum = 0;
  for (uint8_t byte : bytes) sum = static_cast<uint8_t>(sum + byte);
  bytes.push_back(static_cast<uint8_t>(0x100 - sum));
  return bytes;
}

std::string CfgText(const std::vector<uint8_t>& bytes, const std::string& separator) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char token[5];
    std::snprintf(token, sizeof token, "0x%02X", bytes[i]);
    if (i != 0) text += separator;
    text += token;
  }
  return text;
}

}  // namespace tessaro::testing
