#include <openssl/evp.h>

#include "base/sha256.h"

namespace tessaro {

std::string Sha256Hex(const uint8_t* data, size_t lengthBytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestBytes = 0;
  static const uint8_t kEmpty = 0;
  if (EVP_Digest(data != nullptr ? data : &kEmpty, lengthBytes, digest, &digestBytes, EVP_sha256(), nullptr) != 1) {
    return {};
  }
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * digestBytes);
  for (unsigned int i = 0; i < digestBytes; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0x0F];
  }
  return hex;
}

}  // namespace tessaro
