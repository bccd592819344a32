// Reads of a store after years of generated work (GenerateHistory: the store's own writes
// over FM_BENCH_GENERATED_YEARS years, 10 by default, leaving about
// FM_BENCH_GENERATED_RANGES ranges, 1,000,000 by default), on SQLite and PostgreSQL:
//  - the accountability report of a whole troop (the first of the reference data) over the
//    last full calendar year (RequestHandler::Accountability);
//  - the history of one form (Store::FormHistory) of numbers drawn from the inventory;
//  - the search for the range holding a form number (Store::FindRanges), the baseline the
//    other figures compare with, since it reads one range whatever the size;
//  - the reconciliation of the same troop as of today, every form type (the default gap);
//  - the stock report of every station (RequestHandler::Stock, an administrator's);
//  - verify (CheckInventory and CheckRecordChain, as `formsmaint-server verify`): its time
//    and the peak resident memory it adds.
// The generation's own time is printed once per backend.
//
// A million ranges over ten years take the better part of an hour to generate, so a store
// may be given: FM_BENCH_GENERATED_SQLITE (a file) and FM_BENCH_GENERATED_POSTGRES (an
// address) are read as they are when they hold ranges (`formsmaint-server --generate`
// wrote them, say) and generated into and kept when they are empty. FM_BENCH_SQLITE_MMAP_MIB
// reads SQLite through a memory map of that size (StoreOptions::sqliteMmapMiB, 0 by default).
//
// PostgreSQL: the server of FM_TEST_PG_URL, else a throw-away cluster started here.

#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ServerBenchCluster.h"
#include "protocol/Stock.h"
#include "protocol/Usage.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestHandler.h"
#include "server/store/GeneratedHistory.h"
#include "server/store/ReferenceData.h"
#include "server/store/Store.h"
#include "server/store/TimeText.h"

namespace {

using namespace fm::server;

std::size_t FromEnvironment(const char* name, std::size_t fallback) {
  const char* text = std::getenv(name);
  return text && *text ? static_cast<std::size_t>(std::strtoull(text, nullptr, 10)) : fallback;
}

void Must(bool ok, const std::string& what) {
  if (!ok) {
    fmt::print(stderr, "generated_history_bench: {}\n", what);
    std::abort();
  }
}

struct Probe {
  std::string formType;
  std::int64_t number;
};

class Fixture {
 public:
  static Fixture& Get() {
    static Fixture instance;
    return instance;
  }

  std::shared_ptr<Store> Sqlite() {
    if (!mSqlite) {
      const char* given = std::getenv("FM_BENCH_GENERATED_SQLITE");
      mSqlite = Generate(
          "sqlite:" + (given && *given ? std::string(given) : (mFolder / "generated.db").string()));
    }
    return mSqlite;
  }
  std::shared_ptr<Store> Postgres() {
    if (mPostgres) return mPostgres;
    const char* given = std::getenv("FM_BENCH_GENERATED_POSTGRES");
    if (given && *given) {
      mPostgres = Generate(given);
    } else if (!mCluster.Url().empty()) {
      mPostgres = Generate(mCluster.NewSchema("generated"));
    }
    return mPostgres;
  }
  const std::string& Why() const { return mCluster.Why(); }
  const std::vector<Probe>& Probes() const { return mProbes; }
  // The last full calendar year before the history's end.
  const std::string& From() const { return mFrom; }
  const std::string& To() const { return mTo; }

  ~Fixture() {
    mSqlite.reset();
    mPostgres.reset();
    std::error_code ignored;
    std::filesystem::remove_all(mFolder, ignored);
  }

 private:
  Fixture() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "fm-generated-bench-XXXXXX").string();
    Must(::mkdtemp(pattern.data()) != nullptr, "could not create a temporary folder");
    mFolder = pattern;
    const auto today = ParseIsoDate(LocalDate(std::chrono::system_clock::now()));
    const int lastYear = static_cast<int>(today->year()) - 1;
    mFrom = fmt::format("{}-01-01", lastYear);
    mTo = fmt::format("{}-12-31", lastYear);
  }

  std::shared_ptr<Store> Generate(const std::string& address) {
    HistoryOptions options;
    options.ranges = FromEnvironment("FM_BENCH_GENERATED_RANGES", options.ranges);
    options.years = static_cast<int>(FromEnvironment("FM_BENCH_GENERATED_YEARS", 10));
    options.seed = 7;
    options.countsPerYear = FromEnvironment("FM_BENCH_GENERATED_COUNTS", options.countsPerYear);
    StoreOptions reading;
    reading.sqliteMmapMiB = FromEnvironment("FM_BENCH_SQLITE_MMAP_MIB", 0);
    auto store = OpenStore(address, reading);
    if (store->RangeCount() > 0) {
      fmt::print(stderr, "generated_history_bench: {} ranges read as they are on {}\n",
                 store->RangeCount(), store->BackendName());
    } else {
      store.reset();
      const auto started = std::chrono::steady_clock::now();
      const GeneratedHistory g = GenerateHistory(address, {}, options);
      store = OpenStore(address, reading);
      fmt::print(
          stderr,
          "generated_history_bench: {} ranges, {} saves of {} rows, {} withdrawals, {} uses, "
          "{} counts over {} years on {} in {:.0f} s\n",
          g.ranges, g.saves, g.rows, g.withdrawals, g.uses, g.counts, options.years,
          store->BackendName(),
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    }
    if (mProbes.empty()) {
      std::mt19937_64 random(11);
      const std::size_t every = std::max<std::size_t>(1, store->RangeCount() / 4096);
      store->ForEachRange({}, [&](const StoredRange& r, std::size_t i) {
        if (i == 0) mProbes.clear();  // a read run again starts over
        if (i % every == 0) {
          mProbes.push_back({r.range.formType,
                             r.range.from + static_cast<std::int64_t>(
                                                random() % static_cast<std::uint64_t>(
                                                               r.range.to - r.range.from + 1))});
        }
        return true;
      });
      Must(!mProbes.empty(), "the generated store holds no ranges");
    }
    return store;
  }

  std::filesystem::path mFolder;
  fm::server::bench::BenchCluster mCluster;
  std::shared_ptr<Store> mSqlite;
  std::shared_ptr<Store> mPostgres;
  std::vector<Probe> mProbes;
  std::string mFrom;
  std::string mTo;
};

void TroopYear(benchmark::State& state, const std::shared_ptr<Store>& store) {
  RequestHandler handler(store);
  const std::string troop = store->Reference().Troops().front().id;
  std::size_t lines = 0;
  for (auto _ : state) {
    auto report =
        handler.Accountability({troop, "", "", Fixture::Get().From(), Fixture::Get().To()});
    lines = report.lines.size();
    benchmark::DoNotOptimize(report);
  }
  Must(lines > 0, "the troop's report of the year is empty");
  state.counters["lines"] = static_cast<double>(lines);
}

void FormHistory(benchmark::State& state, const std::shared_ptr<Store>& store) {
  const auto& probes = Fixture::Get().Probes();
  std::size_t i = 0;
  std::size_t entries = 0;
  for (auto _ : state) {
    const Probe& p = probes[i++ % probes.size()];
    auto history = store->FormHistory(p.formType, p.number);
    entries += history.size();
    benchmark::DoNotOptimize(history);
  }
  state.counters["entries"] =
      benchmark::Counter(static_cast<double>(entries), benchmark::Counter::kAvgIterations);
}

void Search(benchmark::State& state, const std::shared_ptr<Store>& store) {
  const auto& probes = Fixture::Get().Probes();
  std::size_t i = 0;
  for (auto _ : state) {
    const Probe& p = probes[i++ % probes.size()];
    RangeQuery q;
    q.formType.push_back({Comparison::Equal, p.formType});
    q.formNumber = p.number;
    auto found = store->FindRanges(q);
    Must(found.size() == 1, fmt::format("no range holds {} {}", p.formType, p.number));
    benchmark::DoNotOptimize(found);
  }
}

void ReconcileTroop(benchmark::State& state, const std::shared_ptr<Store>& store) {
  RequestHandler handler(store);
  ReconcileParameters parameters;
  parameters.station = store->Reference().Troops().front().id;
  std::int64_t held = 0;
  for (auto _ : state) {
    const fm::protocol::Reconciliation r = handler.Reconcile(parameters);
    held = 0;
    for (const auto& line : r.lines) held += line.held.count;
    benchmark::DoNotOptimize(r);
  }
  Must(held > 0, "the troop's reconciliation holds no form");
  state.counters["held"] = static_cast<double>(held);
}

void StockOfEveryStation(benchmark::State& state, const std::shared_ptr<Store>& store) {
  RequestHandler handler(store);
  const Principal admin = Principal::LocalAdministrator(1001, "Bench");
  std::size_t lines = 0;
  for (auto _ : state) {
    const fm::protocol::StockReport report = handler.Stock(StockParameters{}, admin);
    lines = report.lines.size();
    benchmark::DoNotOptimize(report);
  }
  Must(lines > 0, "the stock report has no line");
  state.counters["lines"] = static_cast<double>(lines);
}

void Verify(benchmark::State& state, const std::shared_ptr<Store>& store) {
  fm::server::bench::ResetPeakResident();
  const double before = fm::server::bench::PeakResidentMegabytes();
  for (auto _ : state) {
    const InventoryCheck check = store->CheckInventory();
    const ChainCheck chain = store->CheckRecordChain({});
    Must(check.violations.empty() && chain.violationCount == 0,
         check.violations.empty() ? "the record chain does not hold" : check.violations.front());
    state.counters["entries"] = static_cast<double>(check.historyEntries);
    state.counters["links"] = static_cast<double>(chain.links);
  }
  state.counters["peak_MB_added"] = fm::server::bench::PeakResidentMegabytes() - before;
}

template <void (*Run)(benchmark::State&, const std::shared_ptr<Store>&)>
void OnSqlite(benchmark::State& state) {
  Run(state, Fixture::Get().Sqlite());
}

template <void (*Run)(benchmark::State&, const std::shared_ptr<Store>&)>
void OnPostgres(benchmark::State& state) {
  auto store = Fixture::Get().Postgres();
  if (!store) {
    state.SkipWithError(("PostgreSQL not available: " + Fixture::Get().Why()).c_str());
    return;
  }
  Run(state, store);
}

}  // namespace

BENCHMARK(OnSqlite<Search>)->Name("Sqlite/Search")->Unit(benchmark::kMicrosecond);
BENCHMARK(OnSqlite<FormHistory>)->Name("Sqlite/FormHistory")->Unit(benchmark::kMicrosecond);
BENCHMARK(OnSqlite<TroopYear>)->Name("Sqlite/TroopYear")->Unit(benchmark::kMillisecond);
BENCHMARK(OnSqlite<ReconcileTroop>)->Name("Sqlite/ReconcileTroop")->Unit(benchmark::kMillisecond);
BENCHMARK(OnSqlite<StockOfEveryStation>)
    ->Name("Sqlite/StockOfEveryStation")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OnSqlite<Verify>)->Name("Sqlite/Verify")->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(OnPostgres<Search>)->Name("Postgres/Search")->Unit(benchmark::kMicrosecond);
BENCHMARK(OnPostgres<FormHistory>)->Name("Postgres/FormHistory")->Unit(benchmark::kMicrosecond);
BENCHMARK(OnPostgres<TroopYear>)->Name("Postgres/TroopYear")->Unit(benchmark::kMillisecond);
BENCHMARK(OnPostgres<ReconcileTroop>)
    ->Name("Postgres/ReconcileTroop")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OnPostgres<StockOfEveryStation>)
    ->Name("Postgres/StockOfEveryStation")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OnPostgres<Verify>)->Name("Postgres/Verify")->Unit(benchmark::kSecond)->Iterations(1);

BENCHMARK_MAIN();
