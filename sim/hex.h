#pragma once
// Hex text as the simulator's files write it: byte strings, addresses and
// command codes, without separators or "0x".
// The simulator's own, like its model of the controller: its files keep
// their format whatever the product's listings (base/hex.h) do.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tessaro::sim {

// Lower-case hex of the bytes, two digits each.
std::string ToHex(const uint8_t* bytes, size_t count);

// Upper-case hex of the bytes, as the state file writes byte strings.
std::string ToUpperHex(const uint8_t* bytes, size_t count);

// Upper-case hex of a number in exactly `digits` digits.
std::string ToHexNumber(uint32_t value, int digits);

// Bytes of an even-length hex text, upper or lower case. False on anything
// else (odd length, a non-hex character); `out` is then unspecified.
bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& out);

// A number written in exactly `digits` hex digits. False on any other text.
bool ParseHexNumber(const std::string& text, int digits, uint32_t& out);

}  // namespace tessaro::sim
