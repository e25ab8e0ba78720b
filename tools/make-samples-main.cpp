// Writes the sample firmware image and configuration into a folder
// (samples/ of the repository when run as tools/make-samples does).
#include <cstdio>
#include <string>

#include "tools/make-samples.h"

namespace {

bool WriteWhole(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argc > 0 ? argv[0] : "make-samples");
    return 2;
  }
  const std::string folder = argv[1];
  const std::string firmware = folder + "/" + tessaro::samples::kFirmwareFile;
  const std::string config = folder + "/" + tessaro::samples::kConfigFile;
  if (!WriteWhole(firmware, tessaro::samples::SampleFirmwareImage()) ||
      !WriteWhole(config, tessaro::samples::SampleConfiguration())) {
    std::fprintf(stderr, "make-samples: cannot write into %s\n", folder.c_str());
    return 1;
  }
  std::printf("%s\n%s\n", firmware.c_str(), config.c_str());
  return 0;
}
