#include "base/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessaro {
namespace {

// Known digests, so that both platforms' libraries are held to the same
// answer, including the empty input and one longer than a hash block.
TEST(Sha256, KnownDigests) {
  const struct {
    std::string input;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.input.data());
    EXPECT_EQ(Sha256Hex(bytes, c.input.size()), c.digest) << c.input.size() << " bytes";
  }
  EXPECT_EQ(Sha256Hex(nullptr, 0), cases[0].digest);
}

}  // namespace
}  // namespace tessaro
