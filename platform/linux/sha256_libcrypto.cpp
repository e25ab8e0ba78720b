// The digest routine itself, not the EVP layer: EVP starts libcrypto's
// provider and engine machinery, which brings dlopen and name lookups into a
// static program (and a warning for each into its link); the plain SHA-256
// functions bring nothing but the digest. They are marked deprecated in
// OpenSSL 3 in favour of EVP, and are there all the same.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include "base/hex.h"
#include "base/sha256.h"

namespace tessaro {

std::string Sha256Hex(const uint8_t* data, size_t lengthBytes) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256_CTX context;
  static const uint8_t kEmpty = 0;
  if (SHA256_Init(&context) != 1 || SHA256_Update(&context, data != nullptr ? data : &kEmpty, lengthBytes) != 1 ||
      SHA256_Final(digest, &context) != 1) {
    return {};
  }
  return HexBytes(digest, SHA256_DIGEST_LENGTH);
}

}  // namespace tessaro
