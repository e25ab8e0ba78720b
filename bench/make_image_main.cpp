// tessaro-bench-image fw|cfg BYTES FILE: writes a firmware image (BYTES a
// multiple of 256, at least 1024) or a configuration text of about BYTES.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_images.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: tessaro-bench-image fw|cfg BYTES FILE\n");
    return 2;
  }
  const std::string kind = argv[1];
  char* end = nullptr;
  const unsigned long long bytes = std::strtoull(argv[2], &end, 10);
  const bool fwSizeOk = bytes >= 1024 && bytes % 256 == 0 && bytes <= (16u << 20) + 256;
  if (end == argv[2] || *end != '\0' || (kind == "fw" && !fwSizeOk) || (kind != "fw" && kind != "cfg") ||
      bytes > (64u << 20)) {
    std::fprintf(stderr, "tessaro-bench-image: bad kind or size\n");
    return 2;
  }
  const auto size = static_cast<uint32_t>(bytes);
  const std::string content = kind == "fw" ? tessaro::bench::FirmwareImageOfSize(size)
                                           : tessaro::bench::ConfigurationOfSize(size);
  std::FILE* file = std::fopen(argv[3], "wb");
  if (file == nullptr) {
    std::perror(argv[3]);
    return 1;
  }
  const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  if (std::fclose(file) != 0 || !written) {
    std::perror(argv[3]);
    return 1;
  }
  return 0;
}
