#pragma once
// SHA-256 of a byte range, from the platform's own cryptography (libcrypto on
// Linux, BCrypt on Windows): a file's digest is what a technician compares
// with the one a release or a support case names, so it must never come from
// hand-written code.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tessaro {

// 64 lower-case hex digits, or an empty string when the platform cannot hash.
std::string Sha256Hex(const uint8_t* data, size_t lengthBytes);

}  // namespace tessaro
