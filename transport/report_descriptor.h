#pragma once
// The top-level collections of a HID report descriptor. A hidraw node carries
// all collections of a device in one descriptor, while the connection looks
// for one collection by usage page and usage, as a Windows interface shows it.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessaro {

struct TopLevelCollection {
  uint16_t usagePage = 0;
  uint16_t usage = 0;
};

// The collections at nesting depth 0, in descriptor order. A collection's
// usage is the last Usage declared before its Collection item (0 when none
// was); its usage page is the one of a 4-byte (extended) Usage, else the
// Usage Page in force at the Collection item.
//
// Returns false, with `out` empty, for a descriptor that is malformed: an
// item whose data runs past the end, an End Collection without a
// Collection, a collection still open at the end, a Pop without a Push, or a
// Push stack deeper than any real device needs. Never reads past
// `lengthBytes`.
bool ParseTopLevelCollections(const uint8_t* descriptor, size_t lengthBytes,
                              std::vector<TopLevelCollection>& out);

}  // namespace tessaro
