#include "transport/report_descriptor.h"

#include <utility>

namespace tessaro {
namespace {

// Item types of a short item's prefix (bits 3..2).
constexpr uint8_t kTypeMain = 0;
constexpr uint8_t kTypeGlobal = 1;
constexpr uint8_t kTypeLocal = 2;

// Tags (bits 7..4) within their type.
constexpr uint8_t kMainCollection = 0xA;
constexpr uint8_t kMainEndCollection = 0xC;
constexpr uint8_t kGlobalUsagePage = 0x0;
constexpr uint8_t kGlobalPush = 0xA;
constexpr uint8_t kGlobalPop = 0xB;
constexpr uint8_t kLocalUsage = 0x0;

constexpr uint8_t kLongItemPrefix = 0xFE;

// The kernel keeps four Push levels; a deeper stack is no real device's.
constexpr size_t kMaxPushDepth = 16;

}  // namespace

bool ParseTopLevelCollections(const uint8_t* descriptor, size_t lengthBytes,
                              std::vector<TopLevelCollection>& out) {
  out.clear();
  if (descriptor == nullptr && lengthBytes != 0) return false;

  std::vector<TopLevelCollection> found;
  uint32_t usagePage = 0;
  std::vector<uint32_t> pushedPages;
  bool usageIsExtended = false;
  uint32_t usage = 0;
  size_t depth = 0;

  size_t at = 0;
  while (at < lengthBytes) {
    const uint8_t prefix = descriptor[at];
    const size_t left = lengthBytes - at - 1;  // bytes after the prefix

    if (prefix == kLongItemPrefix) {
      // bDataSize, bLongItemTag, then the data. No long item tag is defined;
      // the item carries nothing a collection's usage depends on.
      if (left < 2) return false;
      const size_t dataBytes = descriptor[at + 1];
      if (left - 2 < dataBytes) return false;
      at += 3 + dataBytes;
      continue;
    }

    // Size code 3 stands for four data bytes.
    const size_t sizeCode = prefix & 0x3u;
    const size_t dataBytes = sizeCode == 3 ? 4 : sizeCode;
    if (left < dataBytes) return false;
    uint32_t data = 0;
    for (size_t i = 0; i < dataBytes; ++i) {
      data |= static_cast<uint32_t>(descriptor[at + 1 + i]) << (8 * i);
    }
    const uint8_t type = (prefix >> 2) & 0x3u;
    const uint8_t tag = prefix >> 4;
    at += 1 + dataBytes;

    if (type == kTypeMain) {
      if (tag == kMainCollection) {
        if (depth == 0) {
          TopLevelCollection collection;
          collection.usagePage = static_cast<uint16_t>(usageIsExtended ? usage >> 16 : usagePage);
          collection.usage = static_cast<uint16_t>(usage & 0xFFFFu);
          found.push_back(collection);
        }
        ++depth;
      } else if (tag == kMainEndCollection) {
        if (depth == 0) return false;
        --depth;
      }
      // Local items hold only until the main item that uses them.
      usageIsExtended = false;
      usage = 0;
    } else if (type == kTypeGlobal) {
      if (tag == kGlobalUsagePage) {
        usagePage = data;
      } else if (tag == kGlobalPush) {
        if (pushedPages.size() >= kMaxPushDepth) return false;
        pushedPages.push_back(usagePage);
      } else if (tag == kGlobalPop) {
        if (pushedPages.empty()) return false;
        usagePage = pushedPages.back();
        pushedPages.pop_back();
      }
    } else if (type == kTypeLocal) {
      if (tag == kLocalUsage) {
        usageIsExtended = dataBytes == 4;
        usage = data;
      }
    }
    // Type 3 short items are reserved: skipped by their size.
  }

  if (depth != 0) return false;
  out = std::move(found);
  return true;
}

}  // namespace tessaro
