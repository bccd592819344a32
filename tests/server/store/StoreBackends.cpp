#include "StoreBackends.h"

#include <fmt/format.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <random>

#include "server/store/GeneratedHistory.h"
#include "server/store/ReferenceData.h"
#include "server/store/TimeText.h"
#include "server/testing/PgDirect.h"

namespace fm::server::testing {

namespace {

std::string UniqueSuffix() {
  static std::atomic<int> counter{0};
  std::random_device random;
  return fmt::format("{}_{}_{:x}", getpid(), counter++, random());
}

}  // namespace

bool CiRequiresEveryBackend() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

std::vector<RangeChange> WithCurrentVersions(Store& store, std::vector<RangeChange> changes) {
  for (auto& change : changes) {
    if (change.action != RangeChange::Action::Update || change.rowVersion) continue;
    RangeQuery query;
    query.formType = {{Comparison::Equal, change.formType}};
    query.formNumber = change.from;
    for (const auto& stored : store.FindRanges(query)) {
      if (stored.range.from == change.from) change.rowVersion = stored.version;
    }
  }
  return changes;
}

FormRange Stock(std::string type, std::int64_t from, std::int64_t to, std::int64_t registry,
                std::string status, std::string troop, std::string district) {
  FormRange r;
  r.formType = std::move(type);
  r.from = from;
  r.to = to;
  r.troop = std::move(troop);
  r.district = std::move(district);
  r.registry = registry;
  r.status = std::move(status);
  r.remaining = to - from + 1;
  if (r.formType == kQuarterlyFormType) {
    r.quarter = 1;
    r.year = 2024;
  }
  return r;
}

SaveContext As(const SaveContext& who, std::string requestId) {
  SaveContext c = who;
  c.requestId = std::move(requestId);
  return c;
}

RangeChange Change(RangeChange::Action action, std::string type, std::int64_t from, std::int64_t to,
                   std::optional<std::int64_t> registry, std::optional<std::string> status,
                   std::optional<std::string> comment) {
  RangeChange c;
  c.action = action;
  c.formType = std::move(type);
  c.from = from;
  c.to = to;
  c.troop = "A";
  c.district = "1";
  c.registry = registry;
  c.status = std::move(status);
  c.comment = std::move(comment);
  return c;
}

std::function<std::string()> CountingClock() {
  auto counter = std::make_shared<std::atomic<int>>(0);
  return [counter] {
    int n = (*counter)++;
    return fmt::format("2024-05-01T{:02}:{:02}:{:02}.000Z", 8 + n / 3600, n / 60 % 60, n % 60);
  };
}

HistoryOptions SmallHistory(std::size_t ranges, int years, std::uint64_t seed) {
  HistoryOptions o;
  o.ranges = ranges;
  o.years = years;
  o.seed = seed;
  o.rowsPerSave = 40;
  o.end = *ParseUtcTimestamp("2026-01-01T00:00:00Z");
  return o;
}

std::vector<std::string> UndoHistoryIndexSql() {
  return {"DELETE FROM schema_migration WHERE version = 15",  // indexes rebuilt, dropped below
          "DROP INDEX form_use_officer",
          "DELETE FROM schema_migration WHERE version = 14",
          "DROP INDEX form_use_day",
          "DELETE FROM schema_migration WHERE version = 13",
          "DROP TABLE record_chain_head",
          "DROP TABLE record_chain",
          "DELETE FROM schema_migration WHERE version = 12",
          "DROP TABLE physical_count_settlement",
          "DROP TABLE physical_count_unexpected",
          "DROP TABLE physical_count_entry",
          "DROP TABLE physical_count_counted",
          "DROP TABLE physical_count_book",
          "DROP TABLE physical_count",
          "DELETE FROM schema_migration WHERE version = 11",
          "DROP INDEX form_range_stock",
          "DELETE FROM schema_migration WHERE version = 10",
          "DROP TABLE save_override",
          "DROP TABLE reissue_rule",
          "DROP TABLE allotment_cap",
          "DELETE FROM schema_migration WHERE version = 9",
          "DROP TABLE hand_receipt_line",
          "DROP TABLE hand_receipt",
          "DELETE FROM schema_migration WHERE version = 8",
          "DROP TABLE stock_alert",
          "DROP TABLE stock_minimum",
          "DELETE FROM schema_migration WHERE version = 7",
          "DROP TABLE form_use_conflict",
          "DROP TABLE form_use",
          "DROP TABLE form_use_import",
          "DELETE FROM schema_migration WHERE version = 6",
          "DROP INDEX range_audit_withdrawn",
          "DROP INDEX range_audit_officer_held",
          "DROP INDEX range_audit_station_held",
          "DROP INDEX range_audit_parent",
          "DROP INDEX range_audit_bounds",
          "ALTER TABLE range_audit DROP COLUMN parent_id",
          "ALTER TABLE range_audit DROP COLUMN ended_at",
          "CREATE INDEX range_audit_form ON range_audit (form_typ_cd, after_from)",
          "DELETE FROM schema_migration WHERE version = 5"};
}

bool SqliteBackend::Prepare(std::string*) {
  mDirectory = std::filesystem::temp_directory_path() / ("fm-store-test-" + UniqueSuffix());
  std::filesystem::create_directories(mDirectory);
  return true;
}

std::string SqliteBackend::Address() const {
  return "sqlite:" + (mDirectory / "inventory.db").string();
}

std::string SqliteBackend::ExecuteDirectly(const std::string& sql) const {
  sqlite3* db = nullptr;
  std::string error;
  if (sqlite3_open((mDirectory / "inventory.db").c_str(), &db) != SQLITE_OK) {
    error = sqlite3_errmsg(db);
  } else {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      error = message ? message : "failed";
    }
    sqlite3_free(message);
  }
  sqlite3_close(db);
  return error;
}

void SqliteBackend::Cleanup() {
  std::error_code ignored;
  if (!mDirectory.empty()) std::filesystem::remove_all(mDirectory, ignored);
}

bool PostgresBackend::Prepare(std::string* why) {
  const char* url = std::getenv("FM_TEST_PG_URL");
  if (!url || !*url) {
    *why = "FM_TEST_PG_URL is not set (scripts/run-tests.sh starts a server and sets it)";
    return false;
  }
  mBaseUrl = WithParameter(url, "connect_timeout=5");
  mSchema = "fm_test_" + UniqueSuffix();
  // The extension goes to public once, so dropping a test schema never takes it along.
  std::string error =
      RunSql(mBaseUrl, fmt::format("CREATE EXTENSION IF NOT EXISTS btree_gist SCHEMA "
                                   "public; CREATE SCHEMA {}",
                                   mSchema));
  if (!error.empty()) {
    // Two test programs may create the extension at the same moment; one try more.
    error = RunSql(mBaseUrl, fmt::format("CREATE SCHEMA {}", mSchema));
  }
  if (!error.empty()) {
    *why = fmt::format("the server at FM_TEST_PG_URL does not answer: {}", error);
    mSchema.clear();
    return false;
  }
  return true;
}

std::string PostgresBackend::Address() const {
  return WithParameter(mBaseUrl, "options=-csearch_path%3D" + mSchema);
}

void PostgresBackend::Cleanup() {
  if (!mSchema.empty()) RunSql(mBaseUrl, fmt::format("DROP SCHEMA {} CASCADE", mSchema));
  mSchema.clear();
}

std::string PostgresBackend::ExecuteDirectly(const std::string& sql) const {
  return RunSql(Address(), sql);
}

}  // namespace fm::server::testing
