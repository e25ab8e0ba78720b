#pragma once
// Hex text, the one way the product writes bytes and numbers in hex: logs
// aside (their printf formats are part of the log's contract), every
// listing, record, trace and digest goes through here. The simulator keeps
// its own on purpose (sim/hex.h).
#include <cstddef>
#include <cstdint>
#include <string>

namespace tessaro {

enum class HexCase { kLower, kUpper };

// Two lower-case digits per byte, separator between bytes.
std::string HexBytes(const uint8_t* bytes, size_t count, const char* separator = "");

// The digits of value, at least minDigits of them (zero-padded), no "0x".
std::string HexNumber(uint64_t value, int minDigits, HexCase letters = HexCase::kUpper);

}  // namespace tessaro
