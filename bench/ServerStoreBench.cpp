// The forms server's store under load, on SQLite and PostgreSQL:
//  - finding the range that holds a form number among 1,000,000 ranges, through the store
//    (Store::FindRanges with a form type and a form number, as a key:FORM_SEARCH_NBR search
//    asks it) against the bare indexed SQL on the same database (one prepared statement
//    walking the (form type, From) index backwards), so the ratio is the store's overhead;
//  - a save with a three-way split plus the screen's requery, through the request handler,
//    on a requery of fixed size (p50 and p99 of the saves);
//  - the same split saved with the custody checks (row version, "UPD" containment, the
//    conservation sweep) against a store whose checks a benchmark-only hook switched off,
//    alternating save by save in one run, and the checks alone (CustodyLedger) in memory;
//  - the stock report of every station (RequestHandler::Stock as an administrator asks it,
//    no station named) on the 1,000,000 ranges, with a minimum of every form type at every
//    station the officers serve.
//
// PostgreSQL: the server of FM_TEST_PG_URL, else a throw-away cluster started here.

#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "Latencies.h"
#include "ServerBenchCluster.h"
#include "protocol/Messages.h"
#include "protocol/Stock.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestHandler.h"
#include "server/store/CustodyLedger.h"
#include "server/store/DemoInventory.h"
#include "server/store/ReferenceData.h"
#include "server/store/SqlStore.h"
#include "server/store/Store.h"
#include "server/testing/PgDirect.h"

namespace {

using namespace fm::server;
using fm::server::testing::RunSql;
using fm::server::testing::WithParameter;
namespace protocol = fm::protocol;

constexpr std::size_t kLargeInventory = 1'000'000;

// FM_BENCH_RANGES overrides the size of the large inventory (for a quick trial run).
std::size_t LargeInventorySize() {
  const char* text = std::getenv("FM_BENCH_RANGES");
  return text && *text ? static_cast<std::size_t>(std::strtoull(text, nullptr, 10))
                       : kLargeInventory;
}
constexpr int kSaveIterations = 300;

struct Probe {
  std::string formType;
  std::int64_t number;
};

void Must(bool ok, const std::string& what) {
  if (!ok) {
    fmt::print(stderr, "server_store_bench: {}\n", what);
    std::abort();
  }
}

// Everything the benchmarks share, built on first use and torn down at exit.
class Fixture {
 public:
  static Fixture& Get() {
    static Fixture instance;
    return instance;
  }

  std::filesystem::path mFolder;
  std::vector<Probe> mProbes;
  std::shared_ptr<Store> mSqliteLarge;
  std::string mSqliteLargeFile;
  bench::BenchCluster mCluster;
  std::shared_ptr<Store> mPgLarge;
  std::string mPgLargeAddress;

  // A schema of its own in the benchmark database; its store address.
  std::string PgAddress(const std::string& name) { return mCluster.NewSchema(name); }

  std::shared_ptr<Store> SqliteLarge() {
    if (!mSqliteLarge) {
      mSqliteLargeFile = (mFolder / "large.db").string();
      mSqliteLarge = OpenStore("sqlite:" + mSqliteLargeFile);
      LoadLarge(*mSqliteLarge);
    }
    return mSqliteLarge;
  }

  std::shared_ptr<Store> PgLarge() {
    if (!mPgLarge && !mCluster.Url().empty()) {
      mPgLargeAddress = PgAddress("large");
      mPgLarge = OpenStore(mPgLargeAddress);
      LoadLarge(*mPgLarge);
    }
    return mPgLarge;
  }

  ~Fixture() {
    mSqliteLarge.reset();
    mPgLarge.reset();
    std::error_code ignored;
    std::filesystem::remove_all(mFolder, ignored);
  }

 private:
  Fixture() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "fm-server-bench-XXXXXX").string();
    Must(::mkdtemp(pattern.data()) != nullptr, "could not create a temporary folder");
    mFolder = pattern;
  }

  void LoadLarge(Store& store) {
    auto ranges = BuildLargeInventory(store.Reference(), LargeInventorySize(), 7);
    if (mProbes.empty()) {
      std::mt19937_64 random(11);
      for (int i = 0; i < 4096; ++i) {
        const FormRange& r = ranges[random() % ranges.size()];
        mProbes.push_back(
            {r.formType,
             r.from + static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(r.Size()))});
      }
    }
    store.LoadInventory(ranges, SaveContext{"bench", "bench", 0}, false);
  }
};

constexpr const char* kBareSql =
    "SELECT form_typ_cd, frm_form_nbr, to_form_nbr, trp_id, trp_dist_id, asgnd_reg_nbr,"
    " trp_actn_cd, rmng_form_cnt, form_qtr_dt, form_yr_dt, cmmt_txt FROM form_range"
    " WHERE form_typ_cd = {} AND frm_form_nbr <= {} ORDER BY frm_form_nbr DESC LIMIT 1";

void FindThroughStore(benchmark::State& state, const std::shared_ptr<Store>& store) {
  const auto& probes = Fixture::Get().mProbes;
  std::size_t i = 0;
  std::size_t found = 0;
  for (auto _ : state) {
    const Probe& p = probes[i++ % probes.size()];
    RangeQuery q;
    q.formType = {{Comparison::Equal, p.formType}};
    q.formNumber = p.number;
    auto ranges = store->FindRanges(q);
    found += ranges.size();
    benchmark::DoNotOptimize(ranges);
  }
  if (found != static_cast<std::size_t>(state.iterations()))
    state.SkipWithError("a probe found no range");
}

void BM_FindHolding_Store_Sqlite(benchmark::State& state) {
  FindThroughStore(state, Fixture::Get().SqliteLarge());
}

void BM_FindHolding_BareSql_Sqlite(benchmark::State& state) {
  Fixture& f = Fixture::Get();
  f.SqliteLarge();
  sqlite3* db = nullptr;
  Must(sqlite3_open_v2(f.mSqliteLargeFile.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK,
       "could not open the benchmark database");
  sqlite3_stmt* stmt = nullptr;
  Must(sqlite3_prepare_v2(db, fmt::format(kBareSql, "?", "?").c_str(), -1, &stmt, nullptr) ==
           SQLITE_OK,
       sqlite3_errmsg(db));
  std::size_t i = 0;
  std::size_t found = 0;
  for (auto _ : state) {
    const Probe& p = f.mProbes[i++ % f.mProbes.size()];
    sqlite3_bind_text(stmt, 1, p.formType.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int64(stmt, 2, p.number);
    if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_int64(stmt, 2) >= p.number) {
      ++found;
      for (int c = 0; c < 11; ++c) benchmark::DoNotOptimize(sqlite3_column_text(stmt, c));
    }
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  if (found != static_cast<std::size_t>(state.iterations()))
    state.SkipWithError("a probe found no range");
}

void BM_FindHolding_Store_Postgres(benchmark::State& state) {
  auto store = Fixture::Get().PgLarge();
  if (!store) {
    state.SkipWithError(("PostgreSQL not available: " + Fixture::Get().mCluster.Why()).c_str());
    return;
  }
  FindThroughStore(state, store);
}

void BM_FindHolding_BareSql_Postgres(benchmark::State& state) {
  Fixture& f = Fixture::Get();
  if (!f.PgLarge()) {
    state.SkipWithError(("PostgreSQL not available: " + f.mCluster.Why()).c_str());
    return;
  }
  PGconn* conn = PQconnectdb(f.mPgLargeAddress.c_str());
  Must(PQstatus(conn) == CONNECTION_OK, PQerrorMessage(conn));
  PGresult* prepared =
      PQprepare(conn, "find", fmt::format(kBareSql, "$1", "$2").c_str(), 2, nullptr);
  Must(PQresultStatus(prepared) == PGRES_COMMAND_OK, PQresultErrorMessage(prepared));
  PQclear(prepared);
  std::size_t i = 0;
  std::size_t found = 0;
  for (auto _ : state) {
    const Probe& p = f.mProbes[i++ % f.mProbes.size()];
    std::string number = std::to_string(p.number);
    const char* values[] = {p.formType.c_str(), number.c_str()};
    PGresult* r = PQexecPrepared(conn, "find", 2, values, nullptr, nullptr, 0);
    if (PQntuples(r) == 1 && std::strtoll(PQgetvalue(r, 0, 2), nullptr, 10) >= p.number) {
      ++found;
      for (int c = 0; c < 11; ++c) benchmark::DoNotOptimize(PQgetvalue(r, 0, c));
    }
    PQclear(r);
  }
  PQfinish(conn);
  if (found != static_cast<std::size_t>(state.iterations()))
    state.SkipWithError("a probe found no range");
}

// --- Save with a three-way split plus requery --------------------------------------------

protocol::DataSet SplitRows(std::int64_t base, std::int64_t holder, std::int64_t receiver) {
  protocol::DataSet set;
  for (const char* name :
       {"ACTION", "FRM_FORM_NBR", "TO_FORM_NBR", "TRP_ID", "TRP_DIST_ID", "FORM_TYP_CD",
        "ASGND_REG_NBR", "TRP_ACTN_CD", "TRP_FORM_CMMT_TXT", "ROW_VERSION"}) {
    set.columns.push_back({name, protocol::ColumnType::Text});
  }
  // The range split was just received: its version is 1.
  auto row = [&](const char* action, std::int64_t from, std::int64_t to, std::int64_t reg,
                 const char* comment) {
    set.rows.push_back({std::string(action), std::to_string(from), std::to_string(to),
                        std::string("A"), std::string("1"), std::string("Z"), std::to_string(reg),
                        std::string("A"), std::string(comment),
                        std::string(action) == "UPD" ? std::string("1") : std::string()});
  };
  row("UPD", base, base + 19, holder, "C0");
  row("ADD", base + 50, base + 99, holder, "C0");
  row("ADD", base + 20, base + 49, receiver, "  (Hartley, Margaret 5/1/2024 8:30:00 AM)");
  return set;
}

// Each run saves the split of a range added just before it and the requery, and the range's
// pieces are withdrawn after it; neither step is timed. So every requery answers the same
// rows, and the times of the runs compare.
void SaveSplitRequery(benchmark::State& state, const std::string& address) {
  auto store = OpenStore(address);
  LoadDemoInventory(*store);
  // The ranges to split: seals of A1 well above the demo's numbers, one per iteration.
  constexpr std::int64_t kBase = 5'000'000'000;
  constexpr std::int64_t kHolder = 1002;
  constexpr std::int64_t kReceiver = 1003;
  RequestHandler handler(store);
  fm::bench::Latencies latencies;
  int i = 0;
  std::size_t rows = 0;
  std::size_t fewest = SIZE_MAX;
  std::size_t most = 0;
  for (auto _ : state) {
    state.PauseTiming();
    RangeChange add;
    add.formType = "Z";
    add.from = kBase + i * 100;
    add.to = add.from + 99;
    add.troop = "A";
    add.district = "1";
    add.registry = kHolder;
    add.status = "A";
    store->ApplyChanges(SaveContext{fmt::format("seed-{}-{}", ::getpid(), i), "bench", 1001},
                        {add});
    state.ResumeTiming();

    const auto start = std::chrono::steady_clock::now();
    protocol::Request request;
    request.requestId = fmt::format("split-{}-{}", ::getpid(), i);
    request.identity = "TARVO_FormsMaint#1";
    request.version = "1.0";
    request.requester = "FORMSMAINT";
    request.userId = 1001;
    request.messageType = protocol::kSaveRequeryMessage;
    request.dataSets.emplace("TROOPFORM", SplitRows(add.from, kHolder, kReceiver));
    // The screen's requery after an assignment: its Troop/District and form type.
    for (auto [key, value, op] : {std::tuple{"key:TRP_ID", "A", "="},
                                  {"key:TRP_DIST_ID", "1", "="},
                                  {"key:REF_TYP_CD", "Z", "="},
                                  {"key:INACTIVE", "N", "="},
                                  {"key:TRP_ACTN_CD", "V", "<>"},
                                  {"key:THIN", "YES", "="}}) {
      request.criteria.push_back({key, value, op, "QUILLMAR"});
    }
    protocol::Reply reply =
        handler.Handle(request, Principal::LocalAdministrator(1001, "Bench")).reply;
    latencies.Add(std::chrono::steady_clock::now() - start);
    if (!reply.ok) {
      state.SkipWithError(reply.error.c_str());
      break;
    }
    const std::size_t answered = reply.dataSets.at("TROOPFORM").rows.size();
    rows += answered;
    fewest = std::min(fewest, answered);
    most = std::max(most, answered);

    state.PauseTiming();
    store->Withdraw(SaveContext{fmt::format("withdraw-{}-{}", ::getpid(), i), "bench", 1001}, "Z",
                    add.from, add.to, "benchmark run");
    ++i;
    state.ResumeTiming();
  }
  state.counters["requery_rows"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
  state.counters["requery_rows_spread"] = static_cast<double>(most - std::min(fewest, most));
  latencies.Report(state);
}

void BM_SaveSplitRequery_Sqlite(benchmark::State& state) {
  SaveSplitRequery(state, "sqlite:" + (Fixture::Get().mFolder / "save.db").string());
}

void BM_SaveSplitRequery_Postgres(benchmark::State& state) {
  Fixture& f = Fixture::Get();
  if (f.mCluster.Url().empty()) {
    state.SkipWithError(("PostgreSQL not available: " + f.mCluster.Why()).c_str());
    return;
  }
  SaveSplitRequery(state, f.PgAddress("save"));
}

// --- What the custody checks cost a save --------------------------------------------------

RangeChange SplitRow(RangeChange::Action action, std::int64_t from, std::int64_t to,
                     std::int64_t registry) {
  RangeChange c;
  c.action = action;
  c.formType = "Z";
  c.from = from;
  c.to = to;
  c.troop = "A";
  c.district = "1";
  c.registry = registry;
  c.status = "A";
  return c;
}

// The three rows of the screen's split of [base, base+99] around [base+20, base+49].
std::vector<RangeChange> SplitChanges(std::int64_t base) {
  auto upd = SplitRow(RangeChange::Action::Update, base, base + 19, 1002);
  upd.rowVersion = 1;
  return {upd, SplitRow(RangeChange::Action::Add, base + 50, base + 99, 1002),
          SplitRow(RangeChange::Action::Add, base + 20, base + 49, 1003)};
}

// Two stores of one backend holding the same ranges to split; the second is lightened of
// the work weighed (`lighten`). Saves alternate between them so that the machine's load falls
// on both alike. Counters `with`_ms, `without`_ms and their ratio.
void SplitSavePairCost(benchmark::State& state, const std::string& checkedAddress,
                       const std::string& uncheckedAddress,
                       const std::function<void(SqlStore&)>& lighten, const char* with,
                       const char* withoutName) {
  constexpr std::int64_t kBase = 6'000'000'000;
  auto checked = OpenStore(checkedAddress);
  auto unchecked = OpenStore(uncheckedAddress);
  auto* sql = dynamic_cast<SqlStore*>(unchecked.get());
  Must(sql != nullptr, "the store is not an SqlStore");
  lighten(*sql);
  for (auto* store : {checked.get(), unchecked.get()}) {
    LoadDemoInventory(*store);
    std::vector<FormRange> seed;
    for (int i = 0; i < kSaveIterations; ++i) {
      FormRange r;
      r.formType = "Z";
      r.from = kBase + i * 100;
      r.to = r.from + 99;
      r.troop = "A";
      r.district = "1";
      r.registry = 1002;
      r.remaining = 100;
      seed.push_back(r);
    }
    store->ApplyChanges(SaveContext{"seed", "bench", 0, "bench"}, [&] {
      std::vector<RangeChange> rows;
      for (const auto& r : seed) {
        rows.push_back(SplitRow(RangeChange::Action::Add, r.from, r.to, r.registry));
      }
      return rows;
    }());
  }
  const std::int64_t linksBefore = checked->RecordChainHead().seq;
  const std::int64_t lightLinksBefore = unchecked->RecordChainHead().seq;
  using Clock = std::chrono::steady_clock;
  std::vector<double> withChecks;  // milliseconds of each save
  std::vector<double> without;
  int i = 0;
  for (auto _ : state) {
    const auto rows = SplitChanges(kBase + i * 100);
    const SaveContext context{fmt::format("split-{}", i), "bench", 1001, "bench"};
    auto timed = [&](Store& store, std::vector<double>& times) {
      const auto start = Clock::now();
      store.ApplyChanges(context, rows);
      times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    };
    // Alternate which goes first, so neither always finds the disk cache warm.
    if (i % 2 == 0) {
      timed(*checked, withChecks);
      timed(*unchecked, without);
    } else {
      timed(*unchecked, without);
      timed(*checked, withChecks);
    }
    ++i;
  }
  // Medians: on a shared machine a few saves stall for other work, which would swamp a mean.
  auto median = [](std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times.empty() ? 0.0 : times[times.size() / 2];
  };
  state.counters[fmt::format("{}_ms", with)] = median(withChecks);
  state.counters[fmt::format("{}_ms", withoutName)] = median(without);
  state.counters["ratio"] = median(withChecks) / median(without);
  // The chain's bound is per record: what one more link costs, as a share of a whole save.
  // The links counted from the head, not assumed: a save that linked more would show here.
  const std::int64_t links = checked->RecordChainHead().seq - linksBefore;
  const bool lightLinked = unchecked->RecordChainHead().seq != lightLinksBefore;
  if (links > 0 && !lightLinked && i > 0) {
    const double perSave = static_cast<double>(links) / i;
    state.counters["links_per_save"] = perSave;
    state.counters["per_link_share"] =
        (median(withChecks) - median(without)) / perSave / median(without);
  }
}

void SkipChecks(SqlStore& store) { store.SkipCustodyChecksForBenchmark(); }
void SkipChain(SqlStore& store) { store.SkipRecordChainForBenchmark(); }

void BM_SplitSaveChecksCost_Sqlite(benchmark::State& state) {
  const auto& folder = Fixture::Get().mFolder;
  SplitSavePairCost(state, "sqlite:" + (folder / "checked.db").string(),
                    "sqlite:" + (folder / "unchecked.db").string(), SkipChecks, "checked",
                    "unchecked");
}

void BM_SplitSaveChecksCost_Postgres(benchmark::State& state) {
  Fixture& f = Fixture::Get();
  if (f.mCluster.Url().empty()) {
    state.SkipWithError(("PostgreSQL not available: " + f.mCluster.Why()).c_str());
    return;
  }
  SplitSavePairCost(state, f.PgAddress("checked"), f.PgAddress("unchecked"), SkipChecks, "checked",
                    "unchecked");
}

// What linking a three-way split's records to the record chain costs the save: its three
// history entries hashed and linked, the head moved and, on PostgreSQL, the chain's lock.
void BM_SplitSaveChainCost_Sqlite(benchmark::State& state) {
  const auto& folder = Fixture::Get().mFolder;
  SplitSavePairCost(state, "sqlite:" + (folder / "chained.db").string(),
                    "sqlite:" + (folder / "unchained.db").string(), SkipChain, "chained",
                    "unchained");
}

void BM_SplitSaveChainCost_Postgres(benchmark::State& state) {
  Fixture& f = Fixture::Get();
  if (f.mCluster.Url().empty()) {
    state.SkipWithError(("PostgreSQL not available: " + f.mCluster.Why()).c_str());
    return;
  }
  SplitSavePairCost(state, f.PgAddress("chained"), f.PgAddress("unchained"), SkipChain, "chained",
                    "unchained");
}

// The checks of a three-way split in memory: the ledger's work without any database.
void BM_CustodyLedger_ThreeWaySplit(benchmark::State& state) {
  FormRange stored;
  stored.formType = "Z";
  stored.from = 100;
  stored.to = 199;
  const auto rows = SplitChanges(100);
  for (auto _ : state) {
    CustodyLedger ledger;
    ledger.Replaced("Row 1", stored);
    FormRange first = stored;
    first.to = rows[0].to;
    CustodyLedger::CheckUpdateWithin("Row 1", stored, first);
    ledger.Written(first);
    for (std::size_t k = 1; k < rows.size(); ++k) {
      FormRange piece = stored;
      piece.from = rows[k].from;
      piece.to = rows[k].to;
      benchmark::DoNotOptimize(ledger.ClassifyAdd("Row", piece));
      ledger.Written(piece);
    }
    ledger.CheckNothingLost();
  }
}

// Each station the officers serve keeps a minimum of every form type, so the report compares
// every line; set once per store, before the first timed report.
void StockOfEveryStation(benchmark::State& state, const std::shared_ptr<Store>& store) {
  static std::set<const Store*> withMinimums;
  if (withMinimums.insert(store.get()).second) {
    std::set<std::pair<std::string, std::string>> stations;
    for (const Officer& o : store->Reference().Officers()) stations.emplace(o.troop, o.district);
    int n = 0;
    for (const auto& [troop, district] : stations) {
      for (const FormTypeInfo& type : store->Reference().FormTypes()) {
        store->SetStockMinimum(
            SaveContext{fmt::format("minimum-{}-{}", ::getpid(), ++n), "bench", 1001},
            {troop, district, type.code, 500});
      }
    }
  }
  RequestHandler handler(store);
  const Principal admin = Principal::LocalAdministrator(1001, "Bench");
  std::size_t lines = 0;
  for (auto _ : state) {
    const protocol::StockReport report = handler.Stock(StockParameters{}, admin);
    lines = report.lines.size();
    benchmark::DoNotOptimize(report);
  }
  if (lines == 0) state.SkipWithError("the stock report has no line");
  state.counters["lines"] = static_cast<double>(lines);
}

void BM_StockOfEveryStation_Sqlite(benchmark::State& state) {
  StockOfEveryStation(state, Fixture::Get().SqliteLarge());
}

void BM_StockOfEveryStation_Postgres(benchmark::State& state) {
  auto store = Fixture::Get().PgLarge();
  if (!store) {
    state.SkipWithError(("PostgreSQL not available: " + Fixture::Get().mCluster.Why()).c_str());
    return;
  }
  StockOfEveryStation(state, store);
}

BENCHMARK(BM_FindHolding_Store_Sqlite)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FindHolding_BareSql_Sqlite)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FindHolding_Store_Postgres)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FindHolding_BareSql_Postgres)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaveSplitRequery_Sqlite)->Iterations(kSaveIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveSplitRequery_Postgres)->Iterations(kSaveIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitSaveChecksCost_Sqlite)
    ->Iterations(kSaveIterations)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitSaveChecksCost_Postgres)
    ->Iterations(kSaveIterations)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitSaveChainCost_Sqlite)->Iterations(kSaveIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitSaveChainCost_Postgres)
    ->Iterations(kSaveIterations)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CustodyLedger_ThreeWaySplit)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StockOfEveryStation_Sqlite)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StockOfEveryStation_Postgres)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
