#include "base/hex.h"

namespace tessaro {
namespace {

constexpr char kLowerDigits[] = "0123456789abcdef";
constexpr char kUpperDigits[] = "0123456789ABCDEF";

}  // namespace

std::string HexBytes(const uint8_t* bytes, size_t count, const char* separator) {
  const std::string between = separator != nullptr ? separator : "";
  std::string text;
  text.reserve(count * (2 + between.size()));
  for (size_t i = 0; i < count; ++i) {
    if (i != 0) text += between;
    text.push_back(kLowerDigits[bytes[i] >> 4]);
    text.push_back(kLowerDigits[bytes[i] & 0x0F]);
  }
  return text;
}

std::string HexNumber(uint64_t value, int minDigits, HexCase letters) {
  const char* digits = letters == HexCase::kUpper ? kUpperDigits : kLowerDigits;
  std::string text;
  do {
    text.insert(text.begin(), digits[value & 0x0F]);
    value >>= 4;
  } while (value != 0);
  if (minDigits > 0 && text.size() < static_cast<size_t>(minDigits)) {
    text.insert(0, static_cast<size_t>(minDigits) - text.size(), '0');
  }
  return text;
}

}  // namespace tessaro
