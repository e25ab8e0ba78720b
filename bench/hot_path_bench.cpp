// The host's CPU cost of the work between two reports: building and handing
// over output reports, taking a reply apart, and one whole chunk cycle of
// flashing with the controller confirming at once.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "bench/bench_counters.h"
#include "bench/bench_fakes.h"
#include "tests/support/fake_clock.h"
#include "tests/support/log_capture.h"
#include "tools/image_builder.h"
#include "update/jobs.h"

namespace tessaro::bench {
namespace {

// One register write of range(0) bytes: ceil(n / 55) output reports.
void BM_WriteRegister(benchmark::State& state) {
  InstantController controller;
  CConnectionTLC connection;
  MarkOpen(connection);
  const uint32_t bytes = static_cast<uint32_t>(state.range(0));
  const std::string data = testing::PatternBytes(bytes, 7);
  const auto* source = reinterpret_cast<const uint8_t*>(data.data());
  for (auto _ : state) {
    const int32_t result = connection.WriteRegister(0x9000, source, bytes);
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
  SetPerItemCounters(state, static_cast<double>(controller.outputReports), 0);
}
BENCHMARK(BM_WriteRegister)->Arg(55)->Arg(4096);

// One register read of range(0) bytes: a request out and its reply in.
void BM_ReadRegister(benchmark::State& state) {
  InstantController controller;
  CConnectionTLC connection;
  MarkOpen(connection);
  const int32_t bytes = static_cast<int32_t>(state.range(0));
  uint8_t destination[60] = {};
  for (auto _ : state) {
    const int32_t result = connection.ReadRegister(reg::kFlashStateAddr, destination, bytes);
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(destination);
  }
  // One iteration is one read: its CPU time is the figure.
  SetPerItemCounters(state, 0, 0);
}
BENCHMARK(BM_ReadRegister)->Arg(1)->Arg(12)->Arg(60);

// LoadSubFw over a sub-firmware of range(0) bytes, each chunk confirmed by
// the first poll: per chunk, 75 write reports, the load-flash command, one
// poll read, the checksum and the progress line (formatted, then dropped).
void BM_LoadSubFw(benchmark::State& state) {
  InstantController controller;
  testing::FakeClock clock;
  clock.recordSleeps = false;
  testing::LogCapture log(kLogInfo, false);
  CConnectionTLC connection;
  MarkOpen(connection);
  const uint32_t bytes = static_cast<uint32_t>(state.range(0));
  const std::string data = testing::PatternBytes(bytes, 9);
  const auto* begin = reinterpret_cast<const uint8_t*>(data.data());
  for (auto _ : state) {
    const int32_t result = LoadSubFw(connection, 0x10000, begin, bytes, begin + bytes);
    if (result != 0) state.SkipWithError("LoadSubFw failed");
    benchmark::DoNotOptimize(result);
  }
  const uint32_t chunksPerCall = (bytes + reg::kFlashChunkBytes - 1) / reg::kFlashChunkBytes;
  const double chunks = static_cast<double>(state.iterations()) * chunksPerCall;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
  SetPerItemCounters(state, static_cast<double>(controller.outputReports), chunks);
}
BENCHMARK(BM_LoadSubFw)->Arg(4096)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tessaro::bench
