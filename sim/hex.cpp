#include "sim/hex.h"

#include "base/trace.h"

namespace tessaro::sim {
namespace {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string HexOf(const uint8_t* bytes, size_t count, const char* digits) {
  std::string text;
  text.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    text.push_back(digits[bytes[i] >> 4]);
    text.push_back(digits[bytes[i] & 0x0F]);
  }
  return text;
}

}  // namespace

std::string ToHex(const uint8_t* bytes, size_t count) { return trace::Hex(bytes, count); }

std::string ToUpperHex(const uint8_t* bytes, size_t count) { return HexOf(bytes, count, "0123456789ABCDEF"); }

std::string ToHexNumber(uint32_t value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text(static_cast<size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i) {
    text[static_cast<size_t>(i)] = kDigits[value & 0x0F];
    value >>= 4;
  }
  return text;
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& out) {
  if (text.size() % 2 != 0) return false;
  out.clear();
  out.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigitValue(text[i]);
    const int low = HexDigitValue(text[i + 1]);
    if (high < 0 || low < 0) return false;
    out.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return true;
}

bool ParseHexNumber(const std::string& text, int digits, uint32_t& out) {
  if (digits < 1 || digits > 8 || text.size() != static_cast<size_t>(digits)) return false;
  uint32_t value = 0;
  for (char c : text) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return false;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  out = value;
  return true;
}

}  // namespace tessaro::sim
