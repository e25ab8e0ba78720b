#pragma once
// The per-item counters every benchmark of tessaro-bench shows.
#include <benchmark/benchmark.h>

namespace tessaro::bench {

// Seconds per item, printed as a rate inverted: the time of one report.
inline benchmark::Counter PerItem(double items) {
  return benchmark::Counter(items, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Every benchmark of this program shows the same counters (the CSV report
// wants them in every row); 0 where they mean nothing.
inline void SetPerItemCounters(benchmark::State& state, double reports, double chunks) {
  state.counters["per_report"] = reports > 0 ? PerItem(reports) : benchmark::Counter(0);
  state.counters["per_chunk"] = chunks > 0 ? PerItem(chunks) : benchmark::Counter(0);
}

}  // namespace tessaro::bench
