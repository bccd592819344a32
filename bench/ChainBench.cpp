// The record chain's check (verify) over 5,000,000 linked records on SQLite and on
// PostgreSQL: the time of Store::CheckRecordChain, and the process's peak resident memory
// (VmHWM) over the check alone, which its pages of links keep bounded whatever the store's
// size. The records: history entries of an inventory loaded with its history, one range per
// entry, linked as the load commits. FM_BENCH_CHAIN_RECORDS sets another number.
// PostgreSQL: the server of FM_TEST_PG_URL, else a throw-away cluster.

#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ServerBenchCluster.h"
#include "server/store/Store.h"

namespace {

using namespace fm::server;

std::int64_t Records() {
  const char* text = std::getenv("FM_BENCH_CHAIN_RECORDS");
  return text && *text ? std::strtoll(text, nullptr, 10) : 5'000'000;
}

void LoadAndCheck(benchmark::State& state, const std::shared_ptr<Store>& store) {
  {
    // Ranges of ten Seals (numbered up to 9,999,999,999) at the troops' stations, one history entry
    // each.
    const std::int64_t records = Records();
    std::vector<FormRange> ranges;
    ranges.reserve(static_cast<std::size_t>(records));
    for (std::int64_t i = 0; i < records; ++i) {
      FormRange r;
      r.formType = "Z";
      r.from = 5'000'000'000 + i * 10;
      r.to = r.from + 9;
      r.troop = i % 2 ? "A" : "B";
      r.district = "1";
      r.status = "A";
      r.remaining = 10;
      ranges.push_back(r);
    }
    store->LoadInventory(ranges, SaveContext{"chain-load", "bench", 0, "bench"}, true);
  }
  ChainCheck check;
  double peak = 0;
  for (auto _ : state) {
    fm::server::bench::ResetPeakResident();
    check = store->CheckRecordChain({});
    peak = fm::server::bench::PeakResidentMegabytes();
  }
  if (check.violationCount != 0) state.SkipWithError(check.violations.at(0).c_str());
  state.counters["links"] = static_cast<double>(check.links);
  state.counters["peak_rss_mb"] = peak;
}

void BM_CheckRecordChain_Sqlite(benchmark::State& state) {
  const auto folder = std::filesystem::temp_directory_path() / fmt::format("chain-{}", ::getpid());
  std::filesystem::create_directories(folder);
  LoadAndCheck(state, OpenStore("sqlite:" + (folder / "server.db").string()));
  std::filesystem::remove_all(folder);
}

void BM_CheckRecordChain_Postgres(benchmark::State& state) {
  fm::server::bench::BenchCluster cluster;
  if (cluster.Url().empty()) {
    state.SkipWithError(("no PostgreSQL: " + cluster.Why()).c_str());
    return;
  }
  LoadAndCheck(state, OpenStore(cluster.NewSchema("chain")));
}

BENCHMARK(BM_CheckRecordChain_Sqlite)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_CheckRecordChain_Postgres)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
