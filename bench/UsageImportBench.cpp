// Importing 1,000,000 uses of form numbers (formsmaint-server usage import, Store::RecordUses)
// on SQLite and on PostgreSQL: the time from the file on disk to the committed uses, with the
// remaining counts of the 20,000 ranges holding them counted anew, and the process's peak
// resident memory (VmHWM) over the import alone, which the streaming reader and the staging
// in the database keep bounded whatever the file's length.
//
// The inventory: 20,000 ranges of 100 Wrecker Decals, each held by an officer of the demo
// region; the file: half of each range's numbers used (issued with a citation, one in ten
// spoiled with a reason), in a shuffled order, with its header. FM_BENCH_USES sets the number
// of lines (1,000,000). PostgreSQL: the server of FM_TEST_PG_URL, else a throw-away cluster.
//
// Beside it, the reconciliation of a troop holding 100,000 ranges with 1,000,000 uses
// (ReconcileTroop, below), and the peak resident memory over it.

#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "ServerBenchCluster.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestHandler.h"
#include "server/handler/UsageImport.h"
#include "server/store/ReferenceData.h"
#include "server/store/SqliteConnection.h"
#include "server/store/Store.h"
#include "server/store/TimeText.h"
#include "server/testing/PgDirect.h"

namespace {

using namespace fm::server;

constexpr const char* kType = "K";
constexpr std::int64_t kRangeSize = 100;

std::int64_t UseLines() {
  const char* text = std::getenv("FM_BENCH_USES");
  return text && *text ? std::strtoll(text, nullptr, 10) : 1'000'000;
}

void Must(bool ok, const std::string& what) {
  if (!ok) {
    fmt::print(stderr, "usage_import_bench: {}\n", what);
    std::abort();
  }
}

// The ranges, and the import file written to `file`.
std::vector<FormRange> WriteInventoryAndFile(const ReferenceData& reference,
                                             const std::filesystem::path& file) {
  const std::int64_t lines = UseLines();
  const std::int64_t ranges = (2 * lines + kRangeSize - 1) / kRangeSize;
  const std::vector<Officer>& officers = reference.Officers();
  std::vector<FormRange> inventory;
  for (std::int64_t i = 0; i < ranges; ++i) {
    const Officer& o = officers[static_cast<std::size_t>(i) % officers.size()];
    FormRange r;
    r.formType = kType;
    r.from = 1 + i * kRangeSize;
    r.to = r.from + kRangeSize - 1;
    r.troop = o.troop;
    r.district = o.district;
    r.registry = o.registry;
    r.remaining = kRangeSize;
    inventory.push_back(r);
  }
  std::vector<std::int64_t> numbers;
  numbers.reserve(static_cast<std::size_t>(lines));
  for (std::int64_t i = 0; static_cast<std::int64_t>(numbers.size()) < lines; ++i) {
    const std::int64_t range = i / (kRangeSize / 2);
    numbers.push_back(1 + range * kRangeSize + i % (kRangeSize / 2) * 2);
  }
  std::mt19937_64 random(27);
  std::shuffle(numbers.begin(), numbers.end(), random);
  std::ofstream out(file, std::ios::binary);
  out << "form_type,number,disposition,used_on,officer,reference,note\n";
  for (std::int64_t n : numbers) {
    const std::int64_t officer = inventory[static_cast<std::size_t>((n - 1) / kRangeSize)].registry;
    const int day = 1 + static_cast<int>(n % 28);
    if (n % 10 == 3) {
      out << fmt::format("{},{},SPOILED,2025-03-{:02},{},,misprinted at the top\n", kType, n, day,
                         officer);
    } else {
      out << fmt::format("{},{},ISSUED,2025-03-{:02},{},CIT-{},\n", kType, n, day, officer, n);
    }
  }
  Must(static_cast<bool>(out), "the import file could not be written");
  return inventory;
}

void Import(benchmark::State& state, const std::shared_ptr<Store>& store,
            const std::filesystem::path& folder) {
  const std::filesystem::path file = folder / "uses.csv";
  const auto inventory = WriteInventoryAndFile(store->Reference(), file);
  store->LoadInventory(inventory, {"bench-load", "bench", 0, "bench"}, true);
  UseRules rules{"2026-01-01", {}};
  rules.limits.fileBytes = 1ull << 30;
  for (auto _ : state) {
    fm::server::bench::ResetPeakResident();
    const auto start = std::chrono::steady_clock::now();
    UseBatch batch = CsvUseBatch("uses.csv", FileBytes(file), "benchmark", rules);
    const auto outcome = store->RecordUses({"bench-import", "bench", 0, "bench"}, batch);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Must(outcome.recorded == UseLines() && outcome.badLineCount == 0,
         fmt::format("the import recorded {} of {} lines ({} bad)", outcome.recorded, UseLines(),
                     outcome.badLineCount));
    state.SetIterationTime(seconds);
    state.counters["lines"] = static_cast<double>(outcome.lines);
    state.counters["seconds"] = seconds;
    state.counters["peak_rss_MB"] = fm::server::bench::PeakResidentMegabytes();
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(file)) / 1e6;
  }
  const auto ranges = store->FindRanges({});
  Must(ranges.front().range.remaining == kRangeSize / 2, "the counts did not follow the uses");
}

std::filesystem::path Folder(const char* name) {
  auto folder = std::filesystem::temp_directory_path() / fmt::format("{}-{}", name, ::getpid());
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

void BM_ImportUses_Sqlite(benchmark::State& state) {
  const auto folder = Folder("usage-bench-sqlite");
  {
    StoreOptions options;
    options.poolSize = 2;
    Import(state, OpenStore("sqlite:" + (folder / "server.db").string(), options), folder);
  }
  std::filesystem::remove_all(folder);
}

void BM_ImportUses_Postgres(benchmark::State& state) {
  fm::server::bench::BenchCluster cluster;
  if (cluster.Url().empty()) {
    state.SkipWithError(("no PostgreSQL: " + cluster.Why()).c_str());
    return;
  }
  const std::string url = cluster.NewSchema("usage");
  const auto folder = Folder("usage-bench-postgres");
  {
    StoreOptions options;
    options.poolSize = 2;
    Import(state, OpenStore(url, options), folder);
  }
  std::filesystem::remove_all(folder);
}

// --- A troop's reconciliation ---------------------------------------------------------------
//
// The troop of the demo region's first officer holds 100,000 ranges of 20 Wrecker Decals,
// dealt to its officers in turn, received in blocks of 10,000 ranges with unreceived numbers
// between them, and held since 2025-01-01; each officer reported the first ten numbers of
// each range used in 2025 (1,000,000 uses; FM_BENCH_USES sets another number), one range in
// a hundred skipping its fourth number (unaccounted) and one use in ten thousand naming
// another officer of the troop (an exception). What is measured is
// RequestHandler::Reconcile for the whole troop and that form type, read from one snapshot.

constexpr std::int64_t kTroopRangeSize = 20;
constexpr std::int64_t kUsesPerRange = 10;
constexpr std::int64_t kRangesPerReceipt = 10'000;
constexpr std::int64_t kSkipEvery = 100;         // ranges
constexpr std::int64_t kStrangerEvery = 10'000;  // uses
constexpr const char* kHeldSince = "2025-01-01T00:00:00.000Z";

struct Troop {
  std::string troop;
  std::vector<const Officer*> officers;
};

Troop FirstTroop(const ReferenceData& reference) {
  Troop t{reference.Officers().front().troop, {}};
  for (const Officer& o : reference.Officers()) {
    if (o.troop == t.troop) t.officers.push_back(&o);
  }
  Must(t.officers.size() >= 2, "the demo troop has fewer than two officers");
  return t;
}

std::int64_t FirstOfRange(std::int64_t range) {
  return 1 + range * kTroopRangeSize + range / kRangesPerReceipt * kTroopRangeSize * 50;
}

// The troop's ranges loaded and dated back (the store dates a load now, and a use before its
// number was received would be an exception), then its uses recorded; `backdate` runs SQL on
// the store's database.
void FillTroop(Store& store, const std::function<void(const std::string&)>& backdate) {
  const Troop troop = FirstTroop(store.Reference());
  const std::int64_t ranges = UseLines() / kUsesPerRange;
  std::vector<FormRange> inventory;
  inventory.reserve(static_cast<std::size_t>(ranges));
  for (std::int64_t i = 0; i < ranges; ++i) {
    const Officer& o = *troop.officers[static_cast<std::size_t>(i) % troop.officers.size()];
    FormRange r;
    r.formType = kType;
    r.from = FirstOfRange(i);
    r.to = r.from + kTroopRangeSize - 1;
    r.troop = o.troop;
    r.district = o.district;
    r.registry = o.registry;
    r.remaining = kTroopRangeSize;
    inventory.push_back(r);
  }
  store.LoadInventory(inventory, {"bench-load", "bench", 0, "bench"}, true);
  backdate(
      fmt::format("UPDATE form_range SET chg_ts = '{0}'; UPDATE range_audit SET applied_at = '{0}'",
                  kHeldSince));
  UseBatch batch;
  batch.sourceText = "benchmark";
  batch.rules = {IsoDate(std::chrono::year_month_day{
                     std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now())}),
                 {}};
  batch.lines = [&](const std::function<void(const UseLine&)>& each) {
    UseLine line;
    for (std::int64_t i = 0; i < ranges * kUsesPerRange; ++i) {
      const std::int64_t range = i / kUsesPerRange;
      std::int64_t offset = i % kUsesPerRange;
      if (range % kSkipEvery == 0 && offset >= 3) ++offset;
      std::size_t officer = static_cast<std::size_t>(range) % troop.officers.size();
      if (i % kStrangerEvery == kStrangerEvery - 1) officer = (officer + 1) % troop.officers.size();
      line.line = i + 1;
      line.use.formType = kType;
      line.use.number = std::to_string(FirstOfRange(range) + offset);
      line.use.disposition = offset == 5 ? "SPOILED" : "ISSUED";
      line.use.usedOn = fmt::format("2025-{:02}-{:02}", 2 + range % 10, 1 + offset * 2);
      line.use.officer = std::to_string(troop.officers[officer]->registry);
      line.use.reference = offset == 5 ? "" : fmt::format("CIT-{}", line.use.number);
      line.use.note = offset == 5 ? "torn" : "";
      each(line);
    }
  };
  const auto outcome = store.RecordUses({"bench-uses", "bench", 0, "bench"}, batch);
  Must(outcome.recorded == ranges * kUsesPerRange && outcome.badLineCount == 0,
       fmt::format("the troop's uses: {} recorded of {} ({} bad{})", outcome.recorded,
                   ranges * kUsesPerRange, outcome.badLineCount,
                   outcome.badLines.empty() ? "" : ": " + outcome.badLines.front().message));
}

void ReconcileTroop(benchmark::State& state, const std::shared_ptr<Store>& store) {
  const std::int64_t ranges = UseLines() / kUsesPerRange;
  RequestHandler handler(store);
  ReconcileParameters parameters;
  parameters.station = FirstTroop(store->Reference()).troop;
  parameters.formType = kType;
  for (auto _ : state) {
    fm::server::bench::ResetPeakResident();
    const fm::protocol::Reconciliation r = handler.Reconcile(parameters);
    std::int64_t held = 0;
    std::int64_t unaccounted = 0;
    for (const auto& line : r.lines) {
      held += line.held.count;
      unaccounted += line.unaccounted.count;
    }
    Must(held == ranges * kTroopRangeSize &&
             unaccounted == (ranges + kSkipEvery - 1) / kSkipEvery &&
             static_cast<std::int64_t>(r.exceptions.size()) ==
                 ranges * kUsesPerRange / kStrangerEvery,
         fmt::format("the reconciliation counted {} held, {} unaccounted, {} exceptions", held,
                     unaccounted, r.exceptions.size()));
    state.counters["peak_rss_MB"] = fm::server::bench::PeakResidentMegabytes();
  }
  state.counters["ranges"] = static_cast<double>(ranges);
  state.counters["uses"] = static_cast<double>(ranges * kUsesPerRange);
}

void BM_ReconcileTroop_Sqlite(benchmark::State& state) {
  const auto folder = Folder("reconcile-bench-sqlite");
  {
    const auto file = folder / "server.db";
    auto store = OpenStore("sqlite:" + file.string());
    FillTroop(*store, [&](const std::string& sql) {
      SqliteConnection(file, std::chrono::seconds(30)).ExecuteScript(sql);
    });
    ReconcileTroop(state, store);
  }
  std::filesystem::remove_all(folder);
}

void BM_ReconcileTroop_Postgres(benchmark::State& state) {
  fm::server::bench::BenchCluster cluster;
  if (cluster.Url().empty()) {
    state.SkipWithError(("no PostgreSQL: " + cluster.Why()).c_str());
    return;
  }
  using fm::server::testing::RunSql;
  const std::string url = cluster.NewSchema("reconcile");
  {
    auto store = OpenStore(url);
    FillTroop(*store, [&](const std::string& sql) {
      const std::string error = RunSql(url, sql + "; ANALYZE");
      Must(error.empty(), error);
    });
    ReconcileTroop(state, store);
  }
}

}  // namespace

BENCHMARK(BM_ReconcileTroop_Sqlite)->Iterations(2)->Unit(benchmark::kSecond);
BENCHMARK(BM_ReconcileTroop_Postgres)->Iterations(2)->Unit(benchmark::kSecond);
BENCHMARK(BM_ImportUses_Sqlite)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_ImportUses_Postgres)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
