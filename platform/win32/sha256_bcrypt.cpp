#include <windows.h>
#include <bcrypt.h>

#include <vector>

#include "base/hex.h"
#include "base/sha256.h"

namespace tessaro {
namespace {

constexpr ULONG kDigestBytes = 32;

// Owns the provider and hash handles, so that every way out releases both.
class Sha256Hash {
 public:
  Sha256Hash() {
    if (BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) algorithm_ = nullptr;
    if (algorithm_ != nullptr && BCryptCreateHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0) < 0) hash_ = nullptr;
  }
  ~Sha256Hash() {
    if (hash_ != nullptr) BCryptDestroyHash(hash_);
    if (algorithm_ != nullptr) BCryptCloseAlgorithmProvider(algorithm_, 0);
  }
  Sha256Hash(const Sha256Hash&) = delete;
  Sha256Hash& operator=(const Sha256Hash&) = delete;

  bool Digest(const uint8_t* data, size_t lengthBytes, UCHAR (&digest)[kDigestBytes]) {
    if (hash_ == nullptr) return false;
    // BCryptHashData takes at most 4 GiB - 1 at a time.
    while (lengthBytes > 0) {
      const ULONG part = lengthBytes > 0x40000000 ? 0x40000000 : static_cast<ULONG>(lengthBytes);
      if (BCryptHashData(hash_, const_cast<PUCHAR>(data), part, 0) < 0) return false;
      data += part;
      lengthBytes -= part;
    }
    return BCryptFinishHash(hash_, digest, kDigestBytes, 0) >= 0;
  }

 private:
  BCRYPT_ALG_HANDLE algorithm_ = nullptr;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
};

}  // namespace

std::string Sha256Hex(const uint8_t* data, size_t lengthBytes) {
  UCHAR digest[kDigestBytes];
  Sha256Hash hash;
  if (!hash.Digest(data, lengthBytes, digest)) return {};
  return HexBytes(digest, kDigestBytes);
}

}  // namespace tessaro
