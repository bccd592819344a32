#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace fm::bench {

// Each run's time, reported as p50 and p99 in milliseconds beside the mean the library
// gives: a save is felt by its slow runs as much as by its average.
class Latencies {
 public:
  void Add(std::chrono::steady_clock::duration elapsed) {
    mMs.push_back(std::chrono::duration<double, std::milli>(elapsed).count());
  }

  void Report(benchmark::State& state) {
    if (mMs.empty()) return;
    std::sort(mMs.begin(), mMs.end());
    auto at = [&](double quantile) {
      const auto index = static_cast<std::size_t>(quantile * static_cast<double>(mMs.size()));
      return mMs[std::min(mMs.size() - 1, index)];
    };
    state.counters["p50_ms"] = at(0.50);
    state.counters["p99_ms"] = at(0.99);
  }

 private:
  std::vector<double> mMs;
};

}  // namespace fm::bench
