// The schema of the store: the migrations a database is brought up to when the store opens.

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <functional>
#include <string>
#include <vector>

#include "server/store/RecordChain.h"
#include "server/store/ReferenceData.h"
#include "server/store/SqlStore.h"
#include "server/store/SqlStoreRows.h"
#include "server/store/SqlStoreTransactions.h"

namespace fm::server {

namespace {

constexpr const char* kMigrationTable =
    "CREATE TABLE IF NOT EXISTS schema_migration ("
    " version INTEGER PRIMARY KEY, description TEXT NOT NULL, applied_at TEXT NOT NULL)";

}  // namespace

void SqlStore::Migrate() {
  struct Migration {
    int version;
    std::string description;
    std::function<void(SqlConnection&)> apply;
  };
  const std::string region = mOptions.region;
  const std::vector<Migration> migrations = {
      {1, "inventory, reference and audit tables",
       [this](SqlConnection& c) { c.ExecuteScript(mBackend.inventorySchema); }},
      {2, fmt::format("reference data of region {} from the demo database", region),
       [region](SqlConnection& c) { ReferenceData::FromDemoDatabase(region).WriteTo(c); }},
      {3, "range versions, change names and custody events",
       [this](SqlConnection& c) { c.ExecuteScript(mBackend.versionsSchema); }},
      {4, "the user id a client claimed, beside the authenticated one",
       [this](SqlConnection& c) { c.ExecuteScript(mBackend.claimedUserSchema); }},
      {5, "custody history indexed by lineage and by holder",
       [this](SqlConnection& c) { c.ExecuteScript(mBackend.historySchema); }},
      {6, "the uses of form numbers, their imports and conflicts",
       [this](SqlConnection& c) { c.ExecuteScript(mBackend.usageSchema); }},
      {7, "minimum stock per station and form type, and its alerts",
       [this](SqlConnection& c) { c.ExecuteScript(mBackend.stockSchema); }},
      {8, "hand receipts of the forms given to officers",
       [this](SqlConnection& c) { c.ExecuteScript(mBackend.receiptSchema); }},
      {9, "allotment caps, reissue rules and the overrides that lifted them",
       [this](SqlConnection& c) { c.ExecuteScript(mBackend.allotmentSchema); }},
      {10, "the stock report's index of what each station holds",
       [this](SqlConnection& c) { c.ExecuteScript(mBackend.stockIndexSchema); }},
      {11, "physical counts, their fixed books, certifications and settlements",
       [this](SqlConnection& c) { c.ExecuteScript(mBackend.countSchema); }},
      {12, "the record chain over history, uses and counts",
       [this](SqlConnection& c) {
         c.ExecuteScript(mBackend.chainSchema);
         LinkUnlinkedRecords(c);
       }},
      // The stock report counts the uses of its last weeks from the uses of those days, each
      // to the range holding it, rather than from every range of every station to its uses:
      // at a million ranges and ten years of uses a twentieth of the work. The same statement
      // on both backends.
      {13, "the standing uses by day",
       [](SqlConnection& c) {
         c.ExecuteScript(
             "CREATE INDEX form_use_day ON form_use (used_on, form_typ_cd, form_nbr)"
             " WHERE standing = 1;");
       }},
      // A reconciliation reads the standing uses of a Troop/District's officers wherever
      // their numbers are: without it a scan of every use (a troop's officers hold a sixth
      // of ten years' uses). It holds each mark whole, so the read never visits the table;
      // an import writes one entry more per use.
      {14, "the standing uses by officer",
       [](SqlConnection& c) {
         c.ExecuteScript(
             "CREATE INDEX form_use_officer ON form_use"
             " (reg_nbr, form_typ_cd, form_nbr, used_on, disposition, standing)"
             " WHERE standing = 1;");
       }},
      // What a troop's reconciliation and report read of the standing uses (the brief mark),
      // held in PostgreSQL's two indexes of them, so that those reads never visit the table,
      // on most of whose pages a troop's uses lie. SQLite's officers' index holds the mark
      // already (its entries carry the row's id), and its reads meet their figures as they
      // are: its indexes stay.
      {15, "the standing uses' marks in their PostgreSQL indexes",
       [this](SqlConnection& c) {
         if (mBackend.name != "postgresql") return;
         c.ExecuteScript(
             "DROP INDEX form_use_officer;"
             " CREATE INDEX form_use_officer ON form_use"
             " (reg_nbr, form_typ_cd, form_nbr, used_on, disposition, standing) INCLUDE (use_id)"
             " WHERE standing = 1;"
             " DROP INDEX form_use_standing;"
             " CREATE UNIQUE INDEX form_use_standing ON form_use (form_typ_cd, form_nbr)"
             " INCLUDE (use_id, disposition, used_on, reg_nbr, standing) WHERE standing = 1;");
       }},
  };
  const int latest = migrations.back().version;

  try {
    auto lease = mPool.Acquire();
    try {
      lease->Begin(SqlConnection::Transaction::Migration);
      lease->ExecuteScript(kMigrationTable);
      auto rows = lease->Query("SELECT max(version) FROM schema_migration", {});
      int current = rows.empty() ? 0 : static_cast<int>(OptInteger(rows[0][0]).value_or(0));
      if (current > latest) {
        throw StoreError::Internal(fmt::format(
            "the inventory database has schema version {}, newer than this server knows ({})",
            current, latest));
      }
      for (const auto& m : migrations) {
        if (m.version <= current) continue;
        spdlog::info("{} store: applying migration {} ({})", mBackend.name, m.version,
                     m.description);
        m.apply(*lease);
        lease->Query(
            "INSERT INTO schema_migration (version, description, applied_at)"
            " VALUES (?, ?, ?)",
            {std::int64_t{m.version}, m.description, Now()});
      }
      lease->Commit();
    } catch (...) {
      lease->Rollback();
      throw;
    }
  } catch (const SqlError& e) {
    if (e.GetKind() == SqlError::Kind::Connection) throw Translate(e);
    throw StoreError::Internal(
        fmt::format("the {} inventory schema could not be migrated: {}", mBackend.name, e.what()));
  }
}

int SqlStore::SchemaVersion() {
  auto rows = ReadRows("SELECT max(version) FROM schema_migration", {});
  return rows.empty() ? 0 : static_cast<int>(OptInteger(rows[0][0]).value_or(0));
}

}  // namespace fm::server
