#include "platform/device_name.h"

#include <cstring>
#include <string>

namespace tessaro {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// ASCII only: a locale's own case rules (a dotless i) must not decide
// whether a name is a device.
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool NamesWindowsDevice(const char* path) {
  if (path == nullptr) return false;
  const size_t length = std::strlen(path);
  if (length >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] == '.' && IsSeparator(path[3])) {
    return true;
  }

  size_t start = 0;
  for (size_t i = 0; i < length; ++i) {
    if (IsSeparator(path[i]) || path[i] == ':') start = i + 1;
  }
  std::string base;
  for (size_t i = start; i < length && path[i] != '.'; ++i) base += AsciiUpper(path[i]);
  while (!base.empty() && base.back() == ' ') base.pop_back();

  static const char* const kReserved[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
  for (const char* name : kReserved) {
    if (base == name) return true;
  }
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '1' &&
         base[3] <= '9';
}

}  // namespace tessaro
