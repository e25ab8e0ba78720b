// Loading and validating the two image files, at several sizes: from a file
// system in memory (the loaders' own work) and from real files in a temporary
// folder (with the kernel's copy from its cache).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/system.h"
#include "bench/bench_counters.h"
#include "bench/bench_images.h"
#include "images/cfg_image.h"
#include "images/fw_image.h"
#include "tests/support/log_capture.h"
#include "tests/support/memory_files.h"

namespace tessaro::bench {
namespace {

constexpr const char* kName = "image";

// A file of `bytes` in a fresh temporary folder, removed with the object.
class TempImageFile {
 public:
  explicit TempImageFile(const std::string& bytes) {
    path_ = std::filesystem::temp_directory_path() /
            ("tessaro-bench-" + std::to_string(reinterpret_cast<uintptr_t>(this)) + ".img");
    std::ofstream(path_, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  ~TempImageFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  TempImageFile(const TempImageFile&) = delete;
  TempImageFile& operator=(const TempImageFile&) = delete;
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

void BM_LoadFwFile_Memory(benchmark::State& state) {
  testing::MemoryFileSystem files;
  testing::LogCapture log(kLogInfo, false);
  const std::string bytes = FirmwareImageOfSize(static_cast<uint32_t>(state.range(0)));
  files.files[kName] = bytes;
  for (auto _ : state) {
    FwImage image;
    if (image.LoadFwFile(kName) != 1) state.SkipWithError("firmware image refused");
    benchmark::DoNotOptimize(image.data.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
  SetPerItemCounters(state, 0, 0);
}
BENCHMARK(BM_LoadFwFile_Memory)->Arg(64 << 10)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMicrosecond);

void BM_LoadFwFile_TempFile(benchmark::State& state) {
  SystemBackends system;
  testing::LogCapture log(kLogInfo, false);
  const std::string bytes = FirmwareImageOfSize(static_cast<uint32_t>(state.range(0)));
  const TempImageFile file(bytes);
  const std::string path = file.path();
  for (auto _ : state) {
    FwImage image;
    if (image.LoadFwFile(path.c_str()) != 1) state.SkipWithError("firmware image refused");
    benchmark::DoNotOptimize(image.data.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
  SetPerItemCounters(state, 0, 0);
}
BENCHMARK(BM_LoadFwFile_TempFile)->Arg(64 << 10)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMicrosecond);

void BM_LoadCfgFile_Memory(benchmark::State& state) {
  testing::MemoryFileSystem files;
  testing::LogCapture log(kLogInfo, false);
  const std::string text = ConfigurationOfSize(static_cast<uint32_t>(state.range(0)));
  files.files[kName] = text;
  for (auto _ : state) {
    CfgImage image;
    if (image.LoadCfgFile(kName) != 1) state.SkipWithError("configuration refused");
    benchmark::DoNotOptimize(image.data.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  SetPerItemCounters(state, 0, 0);
}
BENCHMARK(BM_LoadCfgFile_Memory)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

void BM_LoadCfgFile_TempFile(benchmark::State& state) {
  SystemBackends system;
  testing::LogCapture log(kLogInfo, false);
  const std::string text = ConfigurationOfSize(static_cast<uint32_t>(state.range(0)));
  const TempImageFile file(text);
  const std::string path = file.path();
  for (auto _ : state) {
    CfgImage image;
    if (image.LoadCfgFile(path.c_str()) != 1) state.SkipWithError("configuration refused");
    benchmark::DoNotOptimize(image.data.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  SetPerItemCounters(state, 0, 0);
}
BENCHMARK(BM_LoadCfgFile_TempFile)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tessaro::bench
