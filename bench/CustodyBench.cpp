// The custody history at 1,000,000 entries, on SQLite and PostgreSQL:
//  - the history of one form (Store::FormHistory: a walk up the lineage) against the scan
//    of every entry whose "after" starts at or below the number (what the history asked
//    before migration 5, with the index by From it had), in the same run;
//  - a Troop/District's accountability report for a year (RequestHandler::Accountability).
//
// The history is three years of generated custody: 100,000 ranges loaded, then splits with
// an assignment, status changes (voids, other reasons, back to "A"), moves between
// stations, unassignments, receipts, withdrawals and receipts of withdrawn numbers, until
// the audit holds FM_BENCH_HISTORY entries (1,000,000 by default). It is written straight
// into the tables (COPY in PostgreSQL) with the lineage the saves would have written, then
// checked before anything is measured: the history of 200 forms equals the scan's, and
// every line of a few reports balances.
//
// PostgreSQL: the server of FM_TEST_PG_URL, else a throw-away cluster started here.
// FM_BENCH_KEEP=1 keeps the SQLite file and the PostgreSQL schema for a look afterwards.

#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ServerBenchCluster.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestHandler.h"
#include "server/store/DemoInventory.h"
#include "server/store/PostgresConnection.h"
#include "server/store/ReferenceData.h"
#include "server/store/SqliteConnection.h"
#include "server/store/Store.h"
#include "server/store/TimeText.h"
#include "server/testing/PgDirect.h"

namespace {

using namespace fm::server;
using fm::server::testing::RunSql;
using fm::server::testing::WithParameter;

std::size_t HistoryRows() {
  const char* text = std::getenv("FM_BENCH_HISTORY");
  return text && *text ? static_cast<std::size_t>(std::strtoull(text, nullptr, 10)) : 1'000'000;
}

void Must(bool ok, const std::string& what) {
  if (!ok) {
    fmt::print(stderr, "custody_bench: {}\n", what);
    std::abort();
  }
}

// --- The generated history -------------------------------------------------------------

struct Station {
  std::string troop;
  std::string district;
  std::vector<std::int64_t> officers;
};

struct Held {
  int type = 0;
  std::int64_t from = 0;
  std::int64_t to = 0;
  std::int64_t remaining = 0;
  int station = 0;
  std::int64_t registry = 0;
  int status = 0;
  std::int64_t producer = 0;  // the entry that wrote it
  std::int64_t Size() const { return to - from + 1; }
};

struct Entry {
  int event = 0;  // index into kEvents
  int request = 0;
  int tick = 0;
  std::optional<Held> before;
  Held after;
  std::int64_t parent = 0;
  int endedTick = -1;
};

const char* const kEvents[] = {"LOAD", "RECEIVE", "CHANGE", "PIECE", "WITHDRAW"};
const char* const kActions[] = {"LOAD", "ADD", "UPD", "ADD", "WDR"};
enum { kLoad, kReceive, kChange, kPiece, kWithdraw };

class History {
 public:
  explicit History(const ReferenceData& reference, std::size_t rows) : mReference(reference) {
    for (const auto& t : reference.FormTypes()) mTypes.push_back(t);
    for (const auto& s : reference.Statuses()) mStatuses.push_back(s.code);
    for (const auto& t : reference.Troops()) mStations.push_back({t.id, "", {}});
    for (const auto& d : reference.Districts()) mStations.push_back({d.troop, d.id, {}});
    for (const auto& o : reference.Officers()) {
      for (auto& s : mStations) {
        if (s.troop == o.troop && s.district == o.district) s.officers.push_back(o.registry);
      }
    }
    Generate(rows);
  }

  std::vector<Entry> mEntries;  // entry id = index + 1
  std::vector<Held> mLive;
  std::vector<std::pair<int, std::pair<std::int64_t, std::int64_t>>> mWithdrawn;
  std::vector<FormTypeInfo> mTypes;
  std::vector<std::string> mStatuses;
  std::vector<Station> mStations;
  int mTicks = 0;

 private:
  std::int64_t Pick(std::int64_t low, std::int64_t high) {
    return std::uniform_int_distribution<std::int64_t>(low, high)(mRandom);
  }
  int Status(const std::string& code) const {
    for (std::size_t i = 0; i < mStatuses.size(); ++i) {
      if (mStatuses[i] == code) return static_cast<int>(i);
    }
    return 0;
  }
  std::int64_t Officer(int station) {
    const auto& officers = mStations[static_cast<std::size_t>(station)].officers;
    if (officers.empty()) return 0;
    return officers[static_cast<std::size_t>(Pick(0, officers.size() - 1))];
  }
  // The store's rule: a range's forms are used from its lowest number up.
  static std::int64_t RemainingOf(const Held& replaced, std::int64_t from, std::int64_t to) {
    const std::int64_t usedLast = replaced.from + (replaced.Size() - replaced.remaining) - 1;
    const std::int64_t overlap = std::max<std::int64_t>(0, std::min(to, usedLast) - from + 1);
    return (to - from + 1) - overlap;
  }
  std::int64_t Add(int event, const std::optional<Held>& before, Held after, std::int64_t parent) {
    Entry e{event, mRequest, mTicks, before, after, parent, event == kWithdraw ? mTicks : -1};
    mEntries.push_back(std::move(e));
    return static_cast<std::int64_t>(mEntries.size());
  }
  // `r` is replaced now: its entry ends.
  void End(const Held& r) {
    if (r.producer > 0) mEntries[static_cast<std::size_t>(r.producer - 1)].endedTick = mTicks;
  }
  Held Piece(const Held& r, std::int64_t from, std::int64_t to) const {
    Held p = r;
    p.from = from;
    p.to = to;
    p.remaining = RemainingOf(r, from, to);
    return p;
  }
  // Replaces the live range at `slot` by `pieces` (none: it goes).
  void Replace(std::size_t slot, std::vector<Held> pieces) {
    if (pieces.empty()) {
      mLive[slot] = mLive.back();
      mLive.pop_back();
      return;
    }
    mLive[slot] = pieces[0];
    for (std::size_t i = 1; i < pieces.size(); ++i) mLive.push_back(pieces[i]);
  }

  void Generate(std::size_t rows) {
    const std::size_t start = std::max<std::size_t>(1, rows / 10);
    const auto ranges = BuildLargeInventory(mReference, start, 7);
    ++mRequest;
    for (const auto& r : ranges) {
      Held h;
      for (std::size_t t = 0; t < mTypes.size(); ++t) {
        if (mTypes[t].code == r.formType) h.type = static_cast<int>(t);
      }
      h.from = r.from;
      h.to = r.to;
      h.remaining = r.remaining;
      h.registry = r.registry;
      h.status = Status(r.status);
      for (std::size_t s = 0; s < mStations.size(); ++s) {
        if (mStations[s].troop == r.troop && mStations[s].district == r.district) {
          h.station = static_cast<int>(s);
        }
      }
      h.producer = Add(kLoad, std::nullopt, h, 0);
      mLive.push_back(h);
      mFresh.resize(mTypes.size());
      mFresh[static_cast<std::size_t>(h.type)] =
          std::max(mFresh[static_cast<std::size_t>(h.type)], h.to + 100);
    }
    while (mEntries.size() < rows) {
      ++mTicks;
      ++mRequest;
      Event();
    }
  }

  void Event() {
    const std::size_t slot = static_cast<std::size_t>(Pick(0, mLive.size() - 1));
    const Held r = mLive[slot];
    const int roll = static_cast<int>(Pick(0, 99));
    if (roll < 40 && r.Size() >= 3) {  // part assigned to an officer: the three-way split
      const std::int64_t a = Pick(r.from + 1, r.to - 1);
      const std::int64_t b = Pick(a, r.to - 1);
      End(r);
      Held low = Piece(r, r.from, a - 1);
      Held high = Piece(r, b + 1, r.to);
      Held mid = Piece(r, a, b);
      mid.registry = Officer(r.station);
      mid.status = Status(kActiveStatus);
      low.producer = Add(kChange, r, low, r.producer);
      high.producer = Add(kPiece, r, high, r.producer);
      mid.producer = Add(kPiece, r, mid, r.producer);
      Replace(slot, {low, high, mid});
    } else if (roll < 80) {  // a status, a move or an unassignment of the whole range
      Held next = r;
      if (roll < 60) {
        next.status = Pick(0, 2) == 0 ? Status(kActiveStatus)
                                      : static_cast<int>(Pick(0, mStatuses.size() - 1));
      } else if (roll < 75) {
        next.station = static_cast<int>(Pick(0, mStations.size() - 1));
        next.registry = 0;
      } else {
        next.registry = 0;
        next.status = Status("U");
      }
      End(r);
      next.producer = Add(kChange, r, next, r.producer);
      Replace(slot, {next});
    } else if (roll < 90 || (roll >= 98 && mWithdrawn.empty())) {  // a receipt of new forms
      Held h;
      h.type = static_cast<int>(Pick(0, mTypes.size() - 1));
      auto& fresh = mFresh[static_cast<std::size_t>(h.type)];
      if (fresh + 20 > mTypes[static_cast<std::size_t>(h.type)].highest) return;
      h.from = fresh;
      h.to = fresh + 19;
      h.remaining = 20;
      fresh += 25;
      h.station = static_cast<int>(Pick(0, mStations.size() - 1));
      h.status = Status(kActiveStatus);
      h.producer = Add(kReceive, std::nullopt, h, 0);
      mLive.push_back(h);
    } else if (roll < 98 && r.Size() >= 3) {  // a withdrawal from the middle
      const std::int64_t a = Pick(r.from + 1, r.to - 1);
      const std::int64_t b = Pick(a, r.to - 1);
      End(r);
      Add(kWithdraw, r, Piece(r, a, b), r.producer);
      Held low = Piece(r, r.from, a - 1);
      Held high = Piece(r, b + 1, r.to);
      low.producer = Add(kChange, r, low, r.producer);
      high.producer = Add(kPiece, r, high, r.producer);
      Replace(slot, {low, high});
      mWithdrawn.push_back({r.type, {a, b}});
    } else if (!mWithdrawn.empty()) {  // withdrawn numbers received again
      const std::size_t w = static_cast<std::size_t>(Pick(0, mWithdrawn.size() - 1));
      Held h;
      h.type = mWithdrawn[w].first;
      h.from = mWithdrawn[w].second.first;
      h.to = mWithdrawn[w].second.second;
      h.remaining = h.Size();
      h.station = static_cast<int>(Pick(0, mStations.size() - 1));
      h.status = Status(kActiveStatus);
      h.producer = Add(kReceive, std::nullopt, h, 0);
      mLive.push_back(h);
      mWithdrawn[w] = mWithdrawn.back();
      mWithdrawn.pop_back();
    }
  }

  const ReferenceData& mReference;
  std::mt19937_64 mRandom{2024};
  std::vector<std::int64_t> mFresh;
  int mRequest = 0;
};

// --- Writing it into a store -------------------------------------------------------------

const std::vector<std::string> kAuditColumns = {"audit_id",
                                                "request_id",
                                                "requester",
                                                "user_id",
                                                "applied_at",
                                                "action",
                                                "form_typ_cd",
                                                "before_from",
                                                "before_to",
                                                "before_trp_id",
                                                "before_trp_dist_id",
                                                "before_reg_nbr",
                                                "before_actn_cd",
                                                "before_rmng_cnt",
                                                "before_qtr_dt",
                                                "before_yr_dt",
                                                "before_cmmt_txt",
                                                "after_from",
                                                "after_to",
                                                "after_trp_id",
                                                "after_trp_dist_id",
                                                "after_reg_nbr",
                                                "after_actn_cd",
                                                "after_rmng_cnt",
                                                "after_qtr_dt",
                                                "after_yr_dt",
                                                "after_cmmt_txt",
                                                "user_name",
                                                "event",
                                                "reason",
                                                "parent_id",
                                                "ended_at"};

class Writer {
 public:
  Writer(const History& h, std::chrono::system_clock::time_point first,
         std::chrono::system_clock::time_point last)
      : mH(h), mFirst(first), mStep((last - first) / std::max(1, h.mTicks)) {}

  std::string At(int tick) const { return UtcTimestamp(mFirst + mStep * tick); }

  void Write(SqlConnection& c) const {
    c.Begin(SqlConnection::Transaction::Write);
    std::vector<SqlRow> rows;
    for (std::size_t i = 0; i < mH.mEntries.size(); ++i) {
      rows.push_back(AuditRow(static_cast<std::int64_t>(i + 1), mH.mEntries[i]));
      if (rows.size() == 20000 || i + 1 == mH.mEntries.size()) {
        c.BulkInsert("range_audit", kAuditColumns, rows);
        rows.clear();
      }
    }
    for (const Held& r : mH.mLive) {
      const Entry& e = mH.mEntries[static_cast<std::size_t>(r.producer - 1)];
      SqlRow row{Type(r), r.from, r.to, Troop(r), District(r), r.registry, Status(r), r.remaining};
      row.insert(row.end(),
                 {Quarter(r), Year(r), SqlValue{}, At(e.tick), fmt::format("gen-{}", e.request),
                  std::int64_t{1001}, std::string("Bench Clerk"), std::int64_t{1}});
      rows.push_back(std::move(row));
    }
    c.BulkInsert("form_range",
                 {"form_typ_cd", "frm_form_nbr", "to_form_nbr", "trp_id", "trp_dist_id",
                  "asgnd_reg_nbr", "trp_actn_cd", "rmng_form_cnt", "form_qtr_dt", "form_yr_dt",
                  "cmmt_txt", "chg_ts", "chg_req_id", "chg_usr_id", "chg_usr_nme", "row_version"},
                 rows);
    c.Commit();
  }

 private:
  std::string Type(const Held& r) const { return mH.mTypes[static_cast<std::size_t>(r.type)].code; }
  std::string Troop(const Held& r) const {
    return mH.mStations[static_cast<std::size_t>(r.station)].troop;
  }
  std::string District(const Held& r) const {
    return mH.mStations[static_cast<std::size_t>(r.station)].district;
  }
  std::string Status(const Held& r) const {
    return mH.mStatuses[static_cast<std::size_t>(r.status)];
  }
  SqlValue Quarter(const Held& r) const {
    return Type(r) == kQuarterlyFormType ? SqlValue{std::int64_t{1}} : SqlValue{};
  }
  SqlValue Year(const Held& r) const {
    return Type(r) == kQuarterlyFormType ? SqlValue{std::int64_t{2026}} : SqlValue{};
  }
  void Side(SqlRow& row, const std::optional<Held>& r) const {
    if (!r) {
      row.insert(row.end(), 10, SqlValue{});
      return;
    }
    row.insert(row.end(), {r->from, r->to, Troop(*r), District(*r), r->registry, Status(*r),
                           r->remaining, Quarter(*r), Year(*r), SqlValue{}});
  }
  SqlRow AuditRow(std::int64_t id, const Entry& e) const {
    SqlRow row{
        id,         fmt::format("gen-{}", e.request), std::string("BENCH"), std::int64_t{1001},
        At(e.tick), std::string(kActions[e.event]),   Type(e.after)};
    Side(row, e.before);
    Side(row, e.after);
    row.insert(row.end(), {std::string("Bench Clerk"), std::string(kEvents[e.event]),
                           e.event == kWithdraw ? SqlValue{std::string("destroyed")} : SqlValue{},
                           e.parent > 0 ? SqlValue{e.parent} : SqlValue{},
                           e.endedTick >= 0 ? SqlValue{At(e.endedTick)} : SqlValue{}});
    return row;
  }

  const History& mH;
  std::chrono::system_clock::time_point mFirst;
  std::chrono::system_clock::duration mStep;
};

// What the history asked before migration 5: every entry of the type whose "after" starts at
// or below the number, through the index by (form type, From), kept by the one that holds it.
constexpr const char* kScanSql =
    "SELECT audit_id, request_id, requester, user_id, applied_at, action, form_typ_cd,"
    " before_from, before_to, before_trp_id, before_trp_dist_id, before_reg_nbr, before_actn_cd,"
    " before_rmng_cnt, before_qtr_dt, before_yr_dt, before_cmmt_txt, after_from, after_to,"
    " after_trp_id, after_trp_dist_id, after_reg_nbr, after_actn_cd, after_rmng_cnt,"
    " after_qtr_dt, after_yr_dt, after_cmmt_txt, user_name, event, reason"
    " FROM range_audit WHERE form_typ_cd = ? AND after_from <= ? AND after_to >= ?"
    " ORDER BY audit_id";
constexpr const char* kScanIndex =
    "CREATE INDEX IF NOT EXISTS bench_audit_by_from ON range_audit (form_typ_cd, after_from)";

struct Probe {
  std::string formType;
  std::int64_t number;
};

struct Backend {
  std::shared_ptr<Store> store;
  std::unique_ptr<SqlConnection> direct;  // for the scan the history used to be
};

class Fixture {
 public:
  static Fixture& Get() {
    static Fixture instance;
    return instance;
  }

  Backend* Sqlite() {
    if (!mSqlite.store) {
      const auto file = mFolder / "history.db";
      mSqlite.store = OpenStore("sqlite:" + file.string());
      mSqlite.direct = std::make_unique<SqliteConnection>(file, std::chrono::seconds(30));
      Fill(mSqlite);
      Check(mSqlite);
    }
    return &mSqlite;
  }

  Backend* Postgres() {
    if (!mPostgres.store && !mCluster.Url().empty()) {
      const std::string schema = fmt::format("fm_bench_custody_{}", ::getpid());
      const std::string base = WithParameter(mCluster.Url(), "connect_timeout=5");
      RunSql(base, "CREATE EXTENSION IF NOT EXISTS btree_gist SCHEMA public");
      Must(RunSql(base, fmt::format("DROP SCHEMA IF EXISTS {0} CASCADE; CREATE SCHEMA {0}", schema))
               .empty(),
           "could not create a PostgreSQL schema");
      mSchema = schema;
      const std::string url = WithParameter(base, "options=-csearch_path%3D" + schema);
      mPostgres.store = OpenStore(url);
      mPostgres.direct = std::make_unique<PostgresConnection>(url, std::chrono::seconds(30));
      Fill(mPostgres);
      mPostgres.direct->ExecuteScript(
          "SELECT setval(pg_get_serial_sequence('range_audit', 'audit_id'),"
          " (SELECT max(audit_id) FROM range_audit))");
      // What autovacuum does after a bulk of inserts: statistics and the visibility map.
      Must(RunSql(url, "VACUUM ANALYZE").empty(), "VACUUM ANALYZE failed");
      Check(mPostgres);
    }
    return mPostgres.store ? &mPostgres : nullptr;
  }

  const std::vector<Probe>& Probes() const { return mProbes; }
  const std::vector<std::string>& Stations() const { return mStationTexts; }
  std::string From() const { return mFrom; }
  std::string To() const { return mTo; }
  std::string Why() const { return mCluster.Why(); }

  ~Fixture() {
    mSqlite = {};
    mPostgres = {};
    if (std::getenv("FM_BENCH_KEEP")) {
      fmt::print(stderr, "custody_bench: kept {} and schema {}\n", mFolder.string(), mSchema);
      return;
    }
    if (!mSchema.empty()) RunSql(mCluster.Url(), fmt::format("DROP SCHEMA {} CASCADE", mSchema));
    std::error_code ignored;
    std::filesystem::remove_all(mFolder, ignored);
  }

 private:
  Fixture() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "fm-custody-bench-XXXXXX").string();
    Must(::mkdtemp(pattern.data()) != nullptr, "could not create a temporary folder");
    mFolder = pattern;
  }

  void Fill(Backend& b) {
    using namespace std::chrono;
    if (!mHistory) {
      const auto started = steady_clock::now();
      mHistory = std::make_unique<History>(b.store->Reference(), HistoryRows());
      const auto last = floor<days>(system_clock::now());
      mWriter = std::make_unique<Writer>(*mHistory, last - days{3 * 365}, last);
      const year_month_day end{floor<days>(last) - days{1}};
      mTo = IsoDate(end);
      mFrom = IsoDate(year_month_day{sys_days{end} - days{364}});
      std::mt19937_64 random(5);
      for (int i = 0; i < 2000; ++i) {
        const Held& r = mHistory->mLive[random() % mHistory->mLive.size()];
        mProbes.push_back(
            {mHistory->mTypes[static_cast<std::size_t>(r.type)].code,
             r.from + static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(r.Size()))});
      }
      for (int i = 0; i < 200 && !mHistory->mWithdrawn.empty(); ++i) {
        const auto& w = mHistory->mWithdrawn[random() % mHistory->mWithdrawn.size()];
        mProbes.push_back(
            {mHistory->mTypes[static_cast<std::size_t>(w.first)].code, w.second.first});
      }
      std::shuffle(mProbes.begin(), mProbes.end(), random);
      for (const auto& s : mHistory->mStations) {
        if (!s.district.empty()) mStationTexts.push_back(s.troop + s.district);
      }
      fmt::print(stderr, "custody_bench: {} history entries, {} ranges held, generated in {} ms\n",
                 mHistory->mEntries.size(), mHistory->mLive.size(),
                 duration_cast<milliseconds>(steady_clock::now() - started).count());
    }
    const auto started = steady_clock::now();
    mWriter->Write(*b.direct);
    b.direct->ExecuteScript(kScanIndex);
    fmt::print(stderr, "custody_bench: {} written in {} s\n", b.store->BackendName(),
               duration_cast<seconds>(steady_clock::now() - started).count());
  }

  // Nothing is measured on a history the store does not read as it wrote it.
  void Check(Backend& b) {
    for (std::size_t i = 0; i < 200; ++i) {
      const Probe& p = mProbes[i];
      const auto walked = b.store->FormHistory(p.formType, p.number);
      const auto scanned = b.direct->Query(kScanSql, {p.formType, p.number, p.number});
      Must(walked.size() == scanned.size() && !walked.empty(),
           fmt::format("the history of {} {} has {} entries, the scan {}", p.formType, p.number,
                       walked.size(), scanned.size()));
      for (std::size_t k = 0; k < walked.size(); ++k) {
        Must(walked[k].id == std::get<std::int64_t>(scanned[k][0]),
             fmt::format("the history of {} {} differs from the scan", p.formType, p.number));
      }
    }
    RequestHandler handler(b.store);
    for (std::size_t s = 0; s < 3; ++s) {
      const auto report = handler.Accountability({mStationTexts[s * 5], "", "", mFrom, mTo});
      for (const auto& line : report.lines) {
        Must(line.Imbalance() == 0,
             fmt::format("{} {} does not balance", mStationTexts[s * 5], line.formType));
      }
    }
  }

  std::filesystem::path mFolder;
  fm::server::bench::BenchCluster mCluster;
  std::string mSchema;
  std::unique_ptr<History> mHistory;
  std::unique_ptr<Writer> mWriter;
  std::vector<Probe> mProbes;
  std::vector<std::string> mStationTexts;
  std::string mFrom;
  std::string mTo;
  Backend mSqlite;
  Backend mPostgres;
};

// --- Benchmarks ----------------------------------------------------------------------------

void WalkHistory(benchmark::State& state, Backend* b) {
  const auto& probes = Fixture::Get().Probes();
  std::size_t i = 0;
  std::size_t entries = 0;
  for (auto _ : state) {
    const Probe& p = probes[i++ % probes.size()];
    auto history = b->store->FormHistory(p.formType, p.number);
    entries += history.size();
    benchmark::DoNotOptimize(history);
  }
  state.counters["entries"] =
      benchmark::Counter(static_cast<double>(entries), benchmark::Counter::kAvgIterations);
}

void Scan(benchmark::State& state, Backend* b) {
  const auto& probes = Fixture::Get().Probes();
  std::size_t i = 0;
  for (auto _ : state) {
    const Probe& p = probes[i++ % probes.size()];
    auto rows = b->direct->Query(kScanSql, {p.formType, p.number, p.number});
    benchmark::DoNotOptimize(rows);
  }
}

void StationYear(benchmark::State& state, Backend* b) {
  Fixture& f = Fixture::Get();
  RequestHandler handler(b->store);
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string& station = f.Stations()[i++ % f.Stations().size()];
    auto report = handler.Accountability({station, "", "", f.From(), f.To()});
    benchmark::DoNotOptimize(report);
  }
}

template <void (*Run)(benchmark::State&, Backend*)>
void OnSqlite(benchmark::State& state) {
  Run(state, Fixture::Get().Sqlite());
}

template <void (*Run)(benchmark::State&, Backend*)>
void OnPostgres(benchmark::State& state) {
  Backend* b = Fixture::Get().Postgres();
  if (!b) {
    state.SkipWithError(("PostgreSQL not available: " + Fixture::Get().Why()).c_str());
    return;
  }
  Run(state, b);
}

BENCHMARK(OnSqlite<WalkHistory>)->Name("BM_FormHistory_Sqlite")->Unit(benchmark::kMicrosecond);
BENCHMARK(OnSqlite<Scan>)->Name("BM_FormHistoryByScan_Sqlite")->Unit(benchmark::kMicrosecond);
BENCHMARK(OnSqlite<StationYear>)
    ->Name("BM_StationYearReport_Sqlite")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OnPostgres<WalkHistory>)->Name("BM_FormHistory_Postgres")->Unit(benchmark::kMicrosecond);
BENCHMARK(OnPostgres<Scan>)->Name("BM_FormHistoryByScan_Postgres")->Unit(benchmark::kMicrosecond);
BENCHMARK(OnPostgres<StationYear>)
    ->Name("BM_StationYearReport_Postgres")
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
