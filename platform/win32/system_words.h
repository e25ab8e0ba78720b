#pragma once
// The system's own words for a Windows error code, without the ".\r\n" the
// system ends them with (the line is the caller's to end); empty where the
// system has none. Each caller adds its own fallback and code.
#include <cstdint>
#include <string>

namespace tessaro {

std::string SystemWords(uint32_t error);

}  // namespace tessaro
