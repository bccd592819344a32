#include "server/SqlStore.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <functional>
#include <map>
#include <numeric>
#include <random>
#include <thread>

#include "base/Text.h"
#include "server/ChangeRules.h"
#include "server/CustodyLedger.h"
#include "server/ReferenceData.h"
#include "server/SqlError.h"
#include "server/StoreError.h"
#include "server/TimeText.h"
#include "server/UseStore.h"

namespace fm::server {

namespace {

// --- Values -------------------------------------------------------------------------------

std::string Text(const SqlValue& v) { return SqlText(v); }

std::int64_t Integer(const SqlValue& v) { return SqlInteger(v); }

std::optional<std::int64_t> OptInteger(const SqlValue& v) { return SqlOptInteger(v); }

std::optional<std::string> OptText(const SqlValue& v) { return SqlOptText(v); }

SqlValue Param(const std::optional<std::int64_t>& v) { return v ? SqlValue{*v} : SqlValue{}; }
SqlValue Param(const std::optional<std::string>& v) { return v ? SqlValue{*v} : SqlValue{}; }

// --- Statements (written once, for both backends) ----------------------------------------

constexpr const char* kRangeColumns =
    "r.form_typ_cd, r.frm_form_nbr, r.to_form_nbr, r.trp_id, r.trp_dist_id, r.asgnd_reg_nbr,"
    " r.trp_actn_cd, r.rmng_form_cnt, r.form_qtr_dt, r.form_yr_dt, r.cmmt_txt";

// Text(v) into `out`, which keeps its capacity: a cursor read into one object reused from
// row to row allocates only for texts longer than any before.
void AssignText(const SqlValue& v, std::string& out) {
  if (const auto* s = std::get_if<std::string>(&v)) {
    out.assign(*s);
  } else if (std::holds_alternative<std::monostate>(v)) {
    out.clear();
  } else {
    out = Text(v);
  }
}

void AssignOptText(const SqlValue& v, std::optional<std::string>& out) {
  if (std::holds_alternative<std::monostate>(v)) {
    out.reset();
  } else {
    if (!out) out.emplace();
    AssignText(v, *out);
  }
}

// The 11 range columns of RangeFromRow, read into an existing range.
void ReadRange(const SqlRow& row, FormRange& r) {
  AssignText(row[0], r.formType);
  r.from = Integer(row[1]);
  r.to = Integer(row[2]);
  AssignText(row[3], r.troop);
  AssignText(row[4], r.district);
  r.registry = Integer(row[5]);
  AssignText(row[6], r.status);
  r.remaining = Integer(row[7]);
  r.quarter = OptInteger(row[8]);
  r.year = OptInteger(row[9]);
  AssignOptText(row[10], r.comment);
}

// Reads the 11 range columns starting at `at`.
FormRange RangeFromRow(const SqlRow& row, std::size_t at = 0) {
  FormRange r;
  r.formType = Text(row[at + 0]);
  r.from = Integer(row[at + 1]);
  r.to = Integer(row[at + 2]);
  r.troop = Text(row[at + 3]);
  r.district = Text(row[at + 4]);
  r.registry = Integer(row[at + 5]);
  r.status = Text(row[at + 6]);
  r.remaining = Integer(row[at + 7]);
  r.quarter = OptInteger(row[at + 8]);
  r.year = OptInteger(row[at + 9]);
  r.comment = OptText(row[at + 10]);
  return r;
}

const char* SqlOperator(Comparison c) {
  switch (c) {
    case Comparison::Equal:
      return "=";
    case Comparison::NotEqual:
      return "<>";
    case Comparison::Less:
      return "<";
    case Comparison::LessEqual:
      return "<=";
    case Comparison::Greater:
      return ">";
    case Comparison::GreaterEqual:
      return ">=";
  }
  return "=";
}

// A stored range with what a save needs besides its values: its row, its version and its
// last change (named to a clerk whose save comes too late).
struct StoredRow {
  std::int64_t id = 0;
  FormRange range;
  std::int64_t version = 1;
  LastChange last;
};

constexpr const char* kStoredRowColumns =
    "r.range_id, r.form_typ_cd, r.frm_form_nbr, r.to_form_nbr, r.trp_id, r.trp_dist_id,"
    " r.asgnd_reg_nbr, r.trp_actn_cd, r.rmng_form_cnt, r.form_qtr_dt, r.form_yr_dt, r.cmmt_txt,"
    " r.row_version, r.chg_ts, r.chg_req_id, r.chg_usr_id, r.chg_usr_nme";

StoredRow StoredRowFrom(const SqlRow& row) {
  return StoredRow{Integer(row[0]), RangeFromRow(row, 1), Integer(row[12]),
                   LastChange{Text(row[13]), Text(row[14]), Integer(row[15]), Text(row[16])}};
}

std::optional<StoredRow> FindByFrom(SqlConnection& c, const std::string& formType,
                                    std::int64_t from) {
  auto rows = c.Query(fmt::format("SELECT {} FROM form_range r"
                                  " WHERE r.form_typ_cd = ? AND r.frm_form_nbr = ?",
                                  kStoredRowColumns),
                      {formType, from});
  if (rows.empty()) return std::nullopt;
  return StoredRowFrom(rows[0]);
}

// The stored ranges of the form type holding any number of [from, to], ascending: the last
// one starting at or below `from` (if it reaches it) and every one starting inside. Both
// are index probes of (form type, From).
std::vector<StoredRow> FindHolding(SqlConnection& c, const std::string& formType, std::int64_t from,
                                   std::int64_t to) {
  std::vector<StoredRow> found;
  auto below = c.Query(fmt::format("SELECT {} FROM form_range r WHERE r.form_typ_cd = ?"
                                   " AND r.frm_form_nbr <= ? ORDER BY r.frm_form_nbr DESC LIMIT 1",
                                   kStoredRowColumns),
                       {formType, from});
  if (!below.empty()) {
    StoredRow first = StoredRowFrom(below[0]);
    if (first.range.to >= from) found.push_back(std::move(first));
  }
  for (const auto& row : c.Query(fmt::format("SELECT {} FROM form_range r WHERE"
                                             " r.form_typ_cd = ? AND r.frm_form_nbr > ?"
                                             " AND r.frm_form_nbr <= ? ORDER BY r.frm_form_nbr",
                                             kStoredRowColumns),
                                 {formType, from, to})) {
    found.push_back(StoredRowFrom(row));
  }
  return found;
}

// A stored range sharing a number with [from, to] of the form type, other than `exclude`.
// Stored ranges never overlap, so only two can: one starting inside [from, to], or the
// last one starting below `from`. Both are found through the (form type, From) index.
std::optional<FormRange> FindOverlap(SqlConnection& c, const FormRange& r, std::int64_t exclude) {
  auto inside = c.Query(fmt::format("SELECT {} FROM form_range r WHERE r.form_typ_cd = ?"
                                    " AND r.frm_form_nbr >= ? AND r.frm_form_nbr <= ?"
                                    " AND r.range_id <> ? ORDER BY r.frm_form_nbr LIMIT 1",
                                    kRangeColumns),
                        {r.formType, r.from, r.to, exclude});
  if (!inside.empty()) return RangeFromRow(inside[0]);
  auto below = c.Query(fmt::format("SELECT r.range_id, {} FROM form_range r"
                                   " WHERE r.form_typ_cd = ? AND r.frm_form_nbr < ?"
                                   " ORDER BY r.frm_form_nbr DESC LIMIT 1",
                                   kRangeColumns),
                       {r.formType, r.from});
  if (!below.empty() && Integer(below[0][0]) != exclude) {
    FormRange b = RangeFromRow(below[0], 1);
    if (b.to >= r.from) return b;
  }
  return std::nullopt;
}

// The change stamp every range written by one call carries.
struct Stamp {
  std::string at;
  std::string requestId;
  std::int64_t userId = 0;
  std::string userName;
};

std::vector<std::string> RangeInsertColumns() {
  return {"form_typ_cd", "frm_form_nbr",  "to_form_nbr", "trp_id",
          "trp_dist_id", "asgnd_reg_nbr", "trp_actn_cd", "rmng_form_cnt",
          "form_qtr_dt", "form_yr_dt",    "cmmt_txt",    "chg_ts",
          "chg_req_id",  "chg_usr_id",    "chg_usr_nme", "row_version"};
}

// A new range starts at version 1.
SqlRow RangeInsertRow(const FormRange& r, const Stamp& s) {
  return {r.formType,       r.from,   r.to,        r.troop,          r.district,
          r.registry,       r.status, r.remaining, Param(r.quarter), Param(r.year),
          Param(r.comment), s.at,     s.requestId, s.userId,         s.userName,
          std::int64_t{1}};
}

void InsertRange(SqlConnection& c, const FormRange& r, const Stamp& s) {
  c.Query(
      "INSERT INTO form_range (form_typ_cd, frm_form_nbr, to_form_nbr, trp_id, trp_dist_id,"
      " asgnd_reg_nbr, trp_actn_cd, rmng_form_cnt, form_qtr_dt, form_yr_dt, cmmt_txt,"
      " chg_ts, chg_req_id, chg_usr_id, chg_usr_nme, row_version)"
      " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
      RangeInsertRow(r, s));
}

// Every change of a range increases its version: a client that read the old one can no
// longer replace it.
void ReplaceRange(SqlConnection& c, std::int64_t id, const FormRange& r, const Stamp& s) {
  c.Query(
      "UPDATE form_range SET frm_form_nbr = ?, to_form_nbr = ?, trp_id = ?, trp_dist_id = ?,"
      " asgnd_reg_nbr = ?, trp_actn_cd = ?, rmng_form_cnt = ?, form_qtr_dt = ?,"
      " form_yr_dt = ?, cmmt_txt = ?, chg_ts = ?, chg_req_id = ?, chg_usr_id = ?,"
      " chg_usr_nme = ?, row_version = row_version + 1 WHERE range_id = ?",
      {r.from, r.to, r.troop, r.district, r.registry, r.status, r.remaining, Param(r.quarter),
       Param(r.year), Param(r.comment), s.at, s.requestId, s.userId, s.userName, id});
}

std::vector<std::string> AuditColumns() {
  return {"request_id",      "requester",          "user_id",        "applied_at",
          "action",          "form_typ_cd",        "before_from",    "before_to",
          "before_trp_id",   "before_trp_dist_id", "before_reg_nbr", "before_actn_cd",
          "before_rmng_cnt", "before_qtr_dt",      "before_yr_dt",   "before_cmmt_txt",
          "after_from",      "after_to",           "after_trp_id",   "after_trp_dist_id",
          "after_reg_nbr",   "after_actn_cd",      "after_rmng_cnt", "after_qtr_dt",
          "after_yr_dt",     "after_cmmt_txt",     "user_name",      "event",
          "reason",          "claimed_user_id",    "parent_id",      "ended_at"};
}

// Where an entry stands in the lineage of the ranges: the entry that wrote the range it
// replaced, and (a withdrawal only) when it ended, which is at once.
struct Lineage {
  std::optional<std::int64_t> parent;
  std::optional<std::string> endedAt;
};

SqlRow AuditRow(const SaveContext& ctx, const std::string& at, const std::string& action,
                const std::string& event, const std::optional<FormRange>& before,
                const FormRange& after, const Lineage& lineage,
                const std::optional<std::string>& reason = std::nullopt) {
  SqlRow row{ctx.requestId, ctx.requester, ctx.userId, at, action, after.formType};
  if (before) {
    row.insert(row.end(), {before->from, before->to, before->troop, before->district,
                           before->registry, before->status, before->remaining,
                           Param(before->quarter), Param(before->year), Param(before->comment)});
  } else {
    row.insert(row.end(), 10, SqlValue{});
  }
  row.insert(row.end(), {after.from, after.to, after.troop, after.district, after.registry,
                         after.status, after.remaining, Param(after.quarter), Param(after.year),
                         Param(after.comment), ctx.userName, event, Param(reason),
                         Param(ctx.claimedUserId), Param(lineage.parent), Param(lineage.endedAt)});
  return row;
}

// The entry that wrote the stored range `r`: the latest entry other than a withdrawal whose
// "after" has its bounds (stored ranges never overlap, and a range is only ever replaced by
// ranges inside it, so no earlier range of those bounds can still be stored). None for a
// range whose writing was not recorded (an inventory loaded without history). Ask before
// the save writes entries of its own for `r`.
std::optional<std::int64_t> ProducerOf(SqlConnection& c, const FormRange& r) {
  auto rows = c.Query(
      "SELECT audit_id FROM range_audit WHERE form_typ_cd = ? AND after_from = ? AND after_to = ?"
      " AND event <> 'WITHDRAW' ORDER BY audit_id DESC LIMIT 1",
      {r.formType, r.from, r.to});
  if (rows.empty()) return std::nullopt;
  return Integer(rows[0][0]);
}

// The range the entry wrote is replaced by a save stamped `at`.
void EndEntry(SqlConnection& c, const std::optional<std::int64_t>& entry, const std::string& at) {
  if (entry) c.Query("UPDATE range_audit SET ended_at = ? WHERE audit_id = ?", {at, *entry});
}

// The audit columns read back, in the order EntryFromRow takes them.
std::string AuditSelectList(const char* alias) {
  std::string columns = fmt::format("{0}.audit_id", alias);
  for (const auto& name : AuditColumns()) columns += fmt::format(", {}.{}", alias, name);
  return columns;
}

CustodyEntry EntryFromRow(const SqlRow& row) {
  // row[0] is audit_id, then AuditColumns() in order.
  auto at = [&](std::size_t i) -> const SqlValue& { return row[i + 1]; };
  CustodyEntry e;
  e.id = Integer(row[0]);
  e.requestId = Text(at(0));
  e.requester = Text(at(1));
  e.userId = Integer(at(2));
  e.at = Text(at(3));
  e.action = Text(at(4));
  e.userName = Text(at(26));
  e.event = Text(at(27));
  e.reason = OptText(at(28));
  e.claimedUserId = OptInteger(at(29));
  e.parentId = OptInteger(at(30));
  e.endedAt = OptText(at(31));
  auto range = [&](std::size_t from) {
    FormRange r;
    r.formType = Text(at(5));
    r.from = Integer(at(from));
    r.to = Integer(at(from + 1));
    r.troop = Text(at(from + 2));
    r.district = Text(at(from + 3));
    r.registry = Integer(at(from + 4));
    r.status = Text(at(from + 5));
    r.remaining = Integer(at(from + 6));
    r.quarter = OptInteger(at(from + 7));
    r.year = OptInteger(at(from + 8));
    r.comment = OptText(at(from + 9));
    return r;
  };
  if (!std::holds_alternative<std::monostate>(at(6))) e.before = range(6);
  e.after = range(16);
  return e;
}

// The columns a report reads of an entry (ScopeHistory's list): ids and times, then the
// range before (absent for a receipt) and after.
CustodyEntry ReportEntryFromRow(const SqlRow& row) {
  CustodyEntry e;
  e.id = Integer(row[0]);
  e.at = Text(row[1]);
  e.event = Text(row[2]);
  e.parentId = OptInteger(row[4]);
  e.endedAt = OptText(row[5]);
  auto range = [&](std::size_t from) {
    FormRange r;
    r.formType = Text(row[3]);
    r.from = Integer(row[from]);
    r.to = Integer(row[from + 1]);
    r.troop = Text(row[from + 2]);
    r.district = Text(row[from + 3]);
    r.registry = Integer(row[from + 4]);
    r.status = Text(row[from + 5]);
    return r;
  };
  if (!std::holds_alternative<std::monostate>(row[6])) e.before = range(6);
  e.after = range(12);
  e.after.remaining = Integer(row[18]);
  return e;
}

std::string InsertAuditSql() {
  auto columns = AuditColumns();
  std::string names;
  std::string marks;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    names += (i ? ", " : "") + columns[i];
    marks += i ? ", ?" : "?";
  }
  return fmt::format("INSERT INTO range_audit ({}) VALUES ({})", names, marks);
}

// --- Errors -------------------------------------------------------------------------------

StoreError Translate(const SqlError& e) {
  switch (e.GetKind()) {
    case SqlError::Kind::Busy:
      return StoreError::Unavailable(
          "The forms inventory is busy with other saves; nothing was changed. Try again in a "
          "moment.");
    case SqlError::Kind::Connection:
      return StoreError::Unavailable(fmt::format(
          "The forms inventory cannot be reached; nothing was changed. ({})", e.what()));
    case SqlError::Kind::Retryable:
    case SqlError::Kind::Constraint:
      return StoreError::Conflict(fmt::format(
          "Another save changed the same ranges at the same time, so this one was not applied. "
          "Search again and repeat the change. ({})",
          e.what()));
    case SqlError::Kind::Other:
      break;
  }
  return StoreError::Internal(e.what());
}

bool WorthRetrying(const SqlError& e) {
  switch (e.GetKind()) {
    case SqlError::Kind::Retryable:
    case SqlError::Kind::Constraint:  // a concurrent save may have won a race our checks lost
    case SqlError::Kind::Connection:  // a fresh connection may work (the database restarted)
      return true;
    default:
      return false;
  }
}

void Backoff(int attempt) {
  thread_local std::minstd_rand random{std::random_device{}()};
  int base = 5 << std::min(attempt, 6);
  std::uniform_int_distribution<int> jitter(0, base);
  std::this_thread::sleep_for(std::chrono::milliseconds(base + jitter(random)));
}

// The form types whose ranges a write of these rows (RangeChange, FormRange) changes, known
// before its transaction: a row never moves a range to another form type.
template <typename Rows>
std::vector<std::string> FormTypesOf(const Rows& rows) {
  std::vector<std::string> types;
  for (const auto& row : rows) {
    if (std::find(types.begin(), types.end(), row.formType) == types.end()) {
      types.push_back(row.formType);
    }
  }
  return types;
}

constexpr const char* kMigrationTable =
    "CREATE TABLE IF NOT EXISTS schema_migration ("
    " version INTEGER PRIMARY KEY, description TEXT NOT NULL, applied_at TEXT NOT NULL)";

}  // namespace

// --- Transactions ------------------------------------------------------------------------

template <typename Body>
auto SqlStore::Write(const WriteScope& scope, Body&& body) {
  for (int attempt = 0;; ++attempt) {
    try {
      auto lease = mPool.Acquire();
      try {
        lease->BeginWrite(scope.formTypes);
        auto result = body(*lease);
        lease->Commit();
        return result;
      } catch (...) {
        lease->Rollback();
        throw;
      }
    } catch (const SqlError& e) {
      if (WorthRetrying(e) && attempt < mOptions.maxRetries) {
        // With the form-type locks, writers of one form type no longer collide; what still
        // does (saves of different form types whose reads and writes the database could not
        // tell apart, a broken connection) is worth seeing.
        spdlog::warn("request {}: {} store: running the write again ({} of at most {}) after: {}",
                     scope.requestId, mBackend.name, attempt + 1, mOptions.maxRetries, e.what());
        Backoff(attempt);
        continue;
      }
      throw Translate(e);
    }
  }
}

namespace {

// The connection and snapshot of the read this thread is in, and for which store.
struct SharedRead {
  const SqlStore* store = nullptr;
  SqlConnection* connection = nullptr;
};
thread_local SharedRead tShared;

}  // namespace

template <typename Body>
auto SqlStore::OnConnection(Body&& body) {
  for (int attempt = 0;; ++attempt) {
    try {
      auto lease = mPool.Acquire();
      return body(*lease);
    } catch (const SqlError& e) {
      if (WorthRetrying(e) && attempt < mOptions.maxRetries) {
        Backoff(attempt);
        continue;
      }
      throw Translate(e);
    }
  }
}

template <typename Body>
auto SqlStore::Read(Body&& body) {
  // Inside a read of this store already: its connection and snapshot, and its retry of the
  // whole.
  if (tShared.store == this) return body(*tShared.connection);
  return OnConnection([&](SqlConnection& c) {
    // SQLite takes the snapshot at the first statement, PostgreSQL (REPEATABLE READ) too:
    // every statement of the body sees the same commits, and no writer waits for it.
    c.Begin(SqlConnection::Transaction::Read);
    const SharedRead outer = tShared;
    tShared = {this, &c};
    try {
      auto result = body(c);
      tShared = outer;
      c.Commit();
      return result;
    } catch (...) {
      tShared = outer;
      c.Rollback();
      throw;
    }
  });
}

void SqlStore::ReadEach(std::string_view sql, const std::vector<SqlValue>& params,
                        const std::function<bool(const SqlRow&, std::size_t)>& each) {
  auto run = [&](SqlConnection& c) {
    std::size_t index = 0;  // from 0 again when the statement is run again
    c.QueryEach(sql, params, [&](const SqlRow& row) { return each(row, index++); });
    return 0;
  };
  // One statement reads one snapshot by itself: no transaction to begin and end.
  if (tShared.store == this) {
    run(*tShared.connection);
  } else {
    OnConnection(run);
  }
}

std::vector<SqlRow> SqlStore::ReadRows(std::string_view sql, const std::vector<SqlValue>& params) {
  std::vector<SqlRow> rows;
  ReadEach(sql, params, [&](const SqlRow& row, std::size_t index) {
    if (index == 0) rows.clear();
    rows.push_back(row);
    return true;
  });
  return rows;
}

void SqlStore::WriteWith(const WriteScope& scope, const std::function<void(SqlConnection&)>& body) {
  Write(scope, [&](SqlConnection& c) {
    body(c);
    return 0;
  });
}

// --- Construction -------------------------------------------------------------------------

SqlStore::SqlStore(Backend backend, StoreOptions options)
    : mBackend(std::move(backend)),
      mOptions(std::move(options)),
      mPool(mBackend.connect, mOptions.poolSize) {
  if (mOptions.migrate) Migrate();
  mReference = Read([](SqlConnection& c) {
    return std::make_unique<const ReferenceData>(ReferenceData::FromStore(c));
  });
  if (mReference->FormTypes().empty()) {
    throw StoreError::Internal(fmt::format(
        "the {} inventory has no form types: its schema was not created (run the migrations)",
        mBackend.name));
  }
}

SqlStore::~SqlStore() = default;

std::string SqlStore::Now() const {
  std::string now =
      mOptions.clock ? mOptions.clock() : UtcTimestamp(std::chrono::system_clock::now());
  // The custody history is read as of instants (what a station held at the start of a
  // month), which needs a save's stamp to be no earlier than those of the saves it builds
  // on. A system clock stepped back would break that; the stamps wait for it instead.
  std::lock_guard lock(mClockMutex);
  if (now < mLastStamp) return mLastStamp;
  mLastStamp = now;
  return now;
}

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

// --- Queries ------------------------------------------------------------------------------

std::string SqlStore::BackendName() const { return mBackend.name; }

int SqlStore::SchemaVersion() {
  auto rows = ReadRows("SELECT max(version) FROM schema_migration", {});
  return rows.empty() ? 0 : static_cast<int>(OptInteger(rows[0][0]).value_or(0));
}

void SqlStore::ForEachRange(const RangeQuery& q, const RangeVisitor& each) {
  std::vector<std::string> where;
  std::vector<SqlValue> params;
  auto add = [&](const char* column, const auto& conditions) {
    for (const auto& c : conditions) {
      where.push_back(fmt::format("{} {} ?", column, SqlOperator(c.comparison)));
      params.emplace_back(c.value);
    }
  };
  std::string from = "form_range r JOIN form_type t ON t.code = r.form_typ_cd";
  if (q.formNumber) {
    // Per form type, the range with the greatest From not above the number is the only one
    // that can hold it: one index probe per form type instead of a scan of every lower
    // range. The probes drive the query (CROSS JOIN keeps SQLite from starting with the
    // ranges instead); the form-type conditions already limit which types are probed.
    std::string probe =
        "SELECT (SELECT h.range_id FROM form_range h WHERE h.form_typ_cd = ft.code"
        " AND h.frm_form_nbr <= ? ORDER BY h.frm_form_nbr DESC LIMIT 1) AS hit_id"
        " FROM form_type ft";
    params.emplace_back(*q.formNumber);
    for (std::size_t i = 0; i < q.formType.size(); ++i) {
      probe += fmt::format("{} ft.code {} ?", i == 0 ? " WHERE" : " AND",
                           SqlOperator(q.formType[i].comparison));
      params.emplace_back(q.formType[i].value);
    }
    from = fmt::format("({}) hit CROSS JOIN {}", probe, from);
    where.push_back("r.range_id = hit.hit_id");
    where.push_back("r.to_form_nbr >= ?");
    params.emplace_back(*q.formNumber);
  }
  add("r.trp_id", q.troop);
  add("r.trp_dist_id", q.district);
  add("r.form_typ_cd", q.formType);
  add("r.asgnd_reg_nbr", q.registry);
  add("r.trp_actn_cd", q.status);
  if (q.inactiveOnly) {
    where.push_back("r.trp_actn_cd <> ?");
    params.emplace_back(std::string(kActiveStatus));
  }
  std::string sql = fmt::format(
      "SELECT {}, t.description, r.chg_ts, r.chg_req_id, r.chg_usr_id, r.chg_usr_nme,"
      " r.row_version FROM {}",
      kRangeColumns, from);
  for (std::size_t i = 0; i < where.size(); ++i) {
    sql += (i == 0 ? " WHERE " : " AND ") + where[i];
  }
  sql += " ORDER BY r.form_typ_cd, r.frm_form_nbr";
  if (q.limit > 0) {
    sql += " LIMIT ?";
    params.emplace_back(static_cast<std::int64_t>(q.limit));
  }
  StoredRange stored;
  ReadEach(sql, params, [&](const SqlRow& row, std::size_t index) {
    ReadRange(row, stored.range);
    AssignText(row[11], stored.formTypeDescription);
    AssignText(row[12], stored.lastChange.at);
    AssignText(row[13], stored.lastChange.requestId);
    stored.lastChange.userId = Integer(row[14]);
    AssignText(row[15], stored.lastChange.userName);
    stored.version = Integer(row[16]);
    return each(stored, index);
  });
}

void SqlStore::ReadTogether(const std::function<void()>& reads) {
  Read([&](SqlConnection&) {
    reads();
    return 0;
  });
}

std::vector<StoredRange> SqlStore::FindRanges(const RangeQuery& q) {
  std::vector<StoredRange> result;
  ForEachRange(q, [&](const StoredRange& range, std::size_t index) {
    if (index == 0) result.clear();
    result.push_back(range);
    return true;
  });
  return result;
}

std::vector<Officer> SqlStore::FindOfficers(const OfficerQuery& q) {
  std::vector<std::string> alternatives;
  std::vector<SqlValue> params;
  if (q.troop && !q.troop->empty()) {
    std::string station = "(dist_id = ?";
    params.emplace_back(*q.troop);
    if (q.district && !q.district->empty()) {
      station += " AND sub_dist_id = ?";
      params.emplace_back(*q.district);
    }
    station += " AND (duty_start IS NULL OR duty_start <= ?)";
    station += " AND (duty_end IS NULL OR duty_end >= ?))";
    params.emplace_back(q.today);
    params.emplace_back(q.today);
    alternatives.push_back(station);
  }
  if (q.registry) {
    alternatives.push_back("insp_id = ?");
    params.emplace_back(*q.registry);
  }
  if (alternatives.empty()) return {};
  std::string sql =
      "SELECT dist_id, sub_dist_id, insp_id, duty_start, duty_end, assignment_updated,"
      " last_name, first_name, middle_initial, racf_id FROM officer WHERE ";
  for (std::size_t i = 0; i < alternatives.size(); ++i) {
    sql += (i ? " OR " : "") + alternatives[i];
  }
  sql += " ORDER BY insp_id";
  std::vector<Officer> result;
  for (const auto& row : ReadRows(sql, params)) {
    result.push_back({Text(row[0]), Text(row[1]), Integer(row[2]), Text(row[3]), Text(row[4]),
                      Text(row[5]), Text(row[6]), Text(row[7]), Text(row[8]), Text(row[9])});
  }
  return result;
}

std::vector<CustodyEntry> SqlStore::FormHistory(const std::string& formType,
                                                std::int64_t formNumber) {
  // The rows holding the form form one chain: each entry's "after" lies within its "before",
  // so the entry that wrote the range an entry replaced (its parent) held the form too. The
  // chain ends at the entry that wrote the range holding the form now (ProducerOf) or, for a
  // form no range holds, at its latest withdrawal; it starts at the receipt, and a receipt of
  // numbers withdrawn before goes on with that withdrawal (the latest one of the form before
  // the receipt); a load is an inventory's start and has nothing before it. One statement,
  // so that PostgreSQL answers it in one round trip.
  static const std::string walk = fmt::format(
      "WITH RECURSIVE chain(id) AS ("
      " SELECT COALESCE("
      "   (SELECT p.audit_id FROM form_range h JOIN range_audit p"
      "       ON p.form_typ_cd = h.form_typ_cd AND p.after_from = h.frm_form_nbr"
      "      AND p.after_to = h.to_form_nbr AND p.event <> 'WITHDRAW'"
      "     WHERE h.range_id = (SELECT n.range_id FROM form_range n WHERE n.form_typ_cd = ?"
      "                           AND n.frm_form_nbr <= ? ORDER BY n.frm_form_nbr DESC LIMIT 1)"
      "       AND h.to_form_nbr >= ? ORDER BY p.audit_id DESC LIMIT 1),"
      "   (SELECT max(w.audit_id) FROM range_audit w WHERE w.form_typ_cd = ?"
      "       AND w.event = 'WITHDRAW' AND w.after_from <= ? AND w.after_to >= ?))"
      " UNION ALL"
      " SELECT CASE WHEN a.parent_id IS NOT NULL THEN a.parent_id"
      "             WHEN a.event = 'RECEIVE' THEN"
      "               (SELECT max(w.audit_id) FROM range_audit w"
      "                 WHERE w.form_typ_cd = a.form_typ_cd AND w.event = 'WITHDRAW'"
      "                   AND w.after_from <= ? AND w.after_to >= ? AND w.audit_id < a.audit_id)"
      "        END"
      "   FROM chain JOIN range_audit a ON a.audit_id = chain.id)"
      " SELECT {} FROM chain JOIN range_audit r ON r.audit_id = chain.id",
      AuditSelectList("r"));
  std::vector<CustodyEntry> result;
  for (const auto& row : ReadRows(walk, {formType, formNumber, formNumber, formType, formNumber,
                                         formNumber, formNumber, formNumber})) {
    result.push_back(EntryFromRow(row));
  }
  // The walk goes from the latest entry back; no ORDER BY, which would cost SQLite a
  // temporary table.
  std::sort(result.begin(), result.end(),
            [](const CustodyEntry& a, const CustodyEntry& b) { return a.id < b.id; });
  return result;
}

HoldingsHistory SqlStore::ScopeHistory(const ScopeHistoryQuery& q) {
  if (!q.scope.registry && q.scope.troop.empty()) {
    throw StoreError::Rejected("A custody report needs a Troop/District, a troop or an officer.");
  }
  // The holder's conditions on the "after" columns of `alias`, with their parameters.
  auto holder = [&](const char* alias, bool withType, std::vector<SqlValue>& params) {
    std::vector<std::string> terms;
    if (q.scope.registry) {
      terms.push_back(fmt::format("{}.after_reg_nbr = ?", alias));
      params.emplace_back(*q.scope.registry);
    }
    if (!q.scope.troop.empty()) {
      terms.push_back(fmt::format("{}.after_trp_id = ?", alias));
      params.emplace_back(q.scope.troop);
      if (!q.scope.wholeTroop) {
        terms.push_back(fmt::format("{}.after_trp_dist_id = ?", alias));
        params.emplace_back(q.scope.district);
      } else {
        // The troop's districts spelled out, so that the index goes on to the end of
        // validity instead of reading every entry of the troop.
        std::string list = "?";
        params.emplace_back(std::string());
        for (const auto& d : mReference->Districts()) {
          if (d.troop != q.scope.troop) continue;
          list += ", ?";
          params.emplace_back(d.id);
        }
        terms.push_back(fmt::format("{}.after_trp_dist_id IN ({})", alias, list));
      }
    }
    if (withType && !q.formType.empty()) {
      terms.push_back(fmt::format("{}.form_typ_cd = ?", alias));
      params.emplace_back(q.formType);
    }
    std::string where;
    for (const auto& t : terms) where += (where.empty() ? "" : " AND ") + t;
    return where;
  };
  // Only what a report reads: a station's year can be tens of thousands of entries.
  constexpr const char* kColumns =
      "r.audit_id, r.applied_at, r.event, r.form_typ_cd, r.parent_id, r.ended_at,"
      " r.before_from, r.before_to, r.before_trp_id, r.before_trp_dist_id, r.before_reg_nbr,"
      " r.before_actn_cd, r.after_from, r.after_to, r.after_trp_id, r.after_trp_dist_id,"
      " r.after_reg_nbr, r.after_actn_cd, r.after_rmng_cnt";
  std::vector<SqlValue> params;
  // Held before the end and ended at or after the start: held at the start, or for a while
  // in the period.
  std::string sql =
      fmt::format("SELECT {} FROM range_audit r WHERE {} AND r.applied_at < ? AND r.ended_at >= ?",
                  kColumns, holder("r", true, params));
  params.emplace_back(q.end);
  params.emplace_back(q.start);
  // Written in the period and held still (what was held before is in `held`).
  sql += fmt::format(
      " UNION ALL SELECT {} FROM range_audit r WHERE {} AND r.ended_at IS NULL"
      " AND r.applied_at >= ? AND r.applied_at < ?",
      kColumns, holder("r", true, params));
  params.emplace_back(q.start);
  params.emplace_back(q.end);
  // What replaced a held range during the period and went elsewhere; what stayed is above.
  sql += fmt::format(
      " UNION ALL SELECT {} FROM range_audit r WHERE r.parent_id IN (SELECT p.audit_id FROM"
      " range_audit p WHERE {} AND p.ended_at >= ? AND p.ended_at < ?)",
      kColumns, holder("p", true, params));
  params.emplace_back(q.start);
  params.emplace_back(q.end);
  sql += fmt::format(" AND NOT ({})", holder("r", false, params));
  // The ranges held now, from the inventory (its holder indexes) rather than from the
  // entries that wrote them: the bulk of a station's report, read from the smaller table.
  std::vector<std::string> heldTerms;
  std::vector<SqlValue> heldParams;
  if (q.scope.registry) {
    heldTerms.emplace_back("r.asgnd_reg_nbr = ?");
    heldParams.emplace_back(*q.scope.registry);
  }
  if (!q.scope.troop.empty()) {
    heldTerms.emplace_back("r.trp_id = ?");
    heldParams.emplace_back(q.scope.troop);
    if (!q.scope.wholeTroop) {
      heldTerms.emplace_back("r.trp_dist_id = ?");
      heldParams.emplace_back(q.scope.district);
    }
  }
  if (!q.formType.empty()) {
    heldTerms.emplace_back("r.form_typ_cd = ?");
    heldParams.emplace_back(q.formType);
  }
  std::string heldSql =
      fmt::format("SELECT {}, r.chg_ts FROM form_range r WHERE r.chg_ts < ?", kRangeColumns);
  heldParams.insert(heldParams.begin(), SqlValue{q.end});
  for (const auto& t : heldTerms) heldSql += " AND " + t;
  // Both statements in Read's one snapshot: a save committing between them would show a range
  // it replaced both held and ended (counted twice) or neither (not at all), and the report
  // would not balance.
  return Read([&](SqlConnection& c) {
    HoldingsHistory history;
    for (const auto& row : c.Query(heldSql, heldParams)) {
      StoredRange held;
      held.range = RangeFromRow(row);
      held.lastChange.at = Text(row[11]);
      history.held.push_back(std::move(held));
    }
    std::vector<CustodyEntry>& result = history.entries;
    for (const auto& row : c.Query(sql, params)) result.push_back(ReportEntryFromRow(row));
    std::sort(result.begin(), result.end(),
              [](const CustodyEntry& x, const CustodyEntry& y) { return x.id < y.id; });
    return history;
  });
}

std::vector<FormTypeInfo> SqlStore::FormTypes() { return mReference->FormTypes(); }

const ReferenceData& SqlStore::Reference() const { return *mReference; }

std::size_t SqlStore::RangeCount() {
  auto rows = ReadRows("SELECT count(*) FROM form_range", {});
  return static_cast<std::size_t>(Integer(rows.at(0).at(0)));
}

InventoryCheck SqlStore::CheckInventory() {
  // The ranges and the history from one snapshot (Read's): a save landing between the two
  // reads would show as a range no history accounts for.
  return Read([](SqlConnection& c) { return fm::server::CheckInventory(c); });
}

// --- Saves --------------------------------------------------------------------------------

SaveOutcome SqlStore::ApplyChanges(const SaveContext& context,
                                   const std::vector<RangeChange>& changes) {
  if (context.requestId.empty()) {
    throw StoreError::Rejected("A save needs a request id; nothing was changed.");
  }
  const std::string fingerprint = ChangeFingerprint(changes);
  const std::string auditSql = InsertAuditSql();
  return Write({context.requestId, FormTypesOf(changes)}, [&](SqlConnection& c) {
    auto applied = c.Query("SELECT fingerprint FROM applied_request WHERE request_id = ?",
                           {context.requestId});
    if (!applied.empty()) {
      if (Text(applied[0][0]) != fingerprint) {
        throw StoreError::Rejected(fmt::format(
            "The request id {} was already used for a save with other rows; nothing was changed.",
            context.requestId));
      }
      return SaveOutcome{true, 0};
    }
    // The rows applied: those sent, or the split a change of part of a quarterly range means.
    // Messages name the row as the clerk's screen sent it.
    std::vector<RangeChange> rows;
    std::vector<std::size_t> sentAs;
    if (IsLoneQuarterlyUpdate(changes)) {
      const RangeChange& part = changes[0];
      const std::vector<StoredRow> holding = FindHolding(c, part.formType, part.from, part.to);
      if (holding.size() == 1 && holding[0].range.from <= part.from &&
          holding[0].range.to >= part.to &&
          (holding[0].range.from != part.from || holding[0].range.to != part.to)) {
        rows = SplitPartOfRange(part, holding[0].range);
        sentAs.assign(rows.size(), 0);
      }
    }
    if (rows.empty()) {
      rows = changes;
      sentAs.resize(rows.size());
      std::iota(sentAs.begin(), sentAs.end(), std::size_t{0});
    }
    const Stamp stamp{Now(), context.requestId, context.userId, context.userName};
    UseAwareCounter counter(c);
    CustodyLedger ledger;
    // The entry that wrote each range this save replaces, by (form type, From): the parent of
    // the entries recording the range's new state and its pieces.
    std::map<std::pair<std::string, std::int64_t>, std::optional<std::int64_t>> producers;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const RangeChange& change = rows[i];
      const std::string label = RowLabel(sentAs[i], changes[sentAs[i]], *mReference);
      if (!mReference->FindFormType(change.formType)) {
        throw StoreError::Rejected(
            fmt::format("{}: the Form Type \"{}\" is not known", label, change.formType));
      }
      std::optional<StoredRow> stored;
      if (change.action == RangeChange::Action::Update) {
        stored = FindByFrom(c, change.formType, change.from);
        if (!stored) {
          throw StoreError::Rejected(
              fmt::format("{}: no stored range of {} starts at {}; another user may have "
                          "changed it. Search again.",
                          label, FormTypeName(change.formType, *mReference), change.from));
        }
        // Scope before versions: a clerk learns nothing about ranges it may not change.
        CheckHeldInScope(context.scope, stored->range, *mReference, "nothing was saved");
        ledger.Replaced(label, stored->range);
        if (mCustodyChecks) {
          if (!change.rowVersion) {
            throw StoreError::Rejected(fmt::format(
                "{}: the row carries no ROW_VERSION, the version of the range it replaces as "
                "the search answered it; a change that does not know what it replaces is not "
                "applied",
                label));
          }
          if (*change.rowVersion != stored->version) {
            throw StoreError::Stale(StaleRangeMessage(
                stored->range, FormTypeName(change.formType, *mReference), stored->last));
          }
        }
        counter.Replaced(stored->range);
      }
      std::optional<FormRange> before;
      if (stored) before = stored->range;
      FormRange next = ResolveChange(label, change, before);
      if (next.to >= next.from)
        next.remaining = counter.RemainingFor(next.formType, next.from, next.to);
      CheckRange(label, next, *mReference);
      CheckWrittenInScope(context.scope, sentAs[i], next, *mReference);
      if (auto clash = FindOverlap(c, next, stored ? stored->id : -1)) {
        throw StoreError::Rejected(fmt::format(
            "{}: the range overlaps the stored range {}-{} of {} held by Troop/District {}", label,
            clash->from, clash->to, FormTypeName(clash->formType, *mReference),
            clash->troop + clash->district));
      }
      const char* event = custody::kChange;
      Lineage lineage;
      if (stored) {
        if (mCustodyChecks) CustodyLedger::CheckUpdateWithin(label, stored->range, next);
        lineage.parent = ProducerOf(c, stored->range);
        producers[{stored->range.formType, stored->range.from}] = lineage.parent;
        EndEntry(c, lineage.parent, stamp.at);
        ReplaceRange(c, stored->id, next, stamp);
      } else {
        // A piece records the range it was split from; a receipt has no "before".
        before = ledger.ClassifyAdd(label, next);
        event = before ? custody::kPiece : custody::kReceive;
        if (before) lineage.parent = producers[{before->formType, before->from}];
        InsertRange(c, next, stamp);
      }
      ledger.Written(next);
      c.Query(auditSql,
              AuditRow(context, stamp.at, stored ? "UPD" : "ADD", event, before, next, lineage));
    }
    if (mCustodyChecks) ledger.CheckNothingLost();
    c.Query(
        "INSERT INTO applied_request (request_id, fingerprint, applied_at, row_count)"
        " VALUES (?, ?, ?, ?)",
        {context.requestId, fingerprint, stamp.at, static_cast<std::int64_t>(changes.size())});
    return SaveOutcome{false, changes.size()};
  });
}

WithdrawOutcome SqlStore::Withdraw(const SaveContext& context, const std::string& formType,
                                   std::int64_t from, std::int64_t to, const std::string& reason) {
  const std::string why = text::Trim(reason);
  if (why.empty()) {
    throw StoreError::Rejected(
        "A withdrawal needs a reason: say why the forms leave the inventory.");
  }
  if (why.size() > kMaxWithdrawReasonLength) {
    throw StoreError::Rejected(fmt::format("The reason of a withdrawal is at most {} characters",
                                           kMaxWithdrawReasonLength));
  }
  const FormTypeInfo* type = mReference->FindFormType(formType);
  if (!type) {
    throw StoreError::Rejected(fmt::format("The Form Type \"{}\" is not known", formType));
  }
  if (to < from) {
    throw StoreError::Rejected(fmt::format("The To Range {} is below the From Range {}", to, from));
  }
  const std::string auditSql = InsertAuditSql();
  return Write({context.requestId, {formType}}, [&](SqlConnection& c) {
    const std::vector<StoredRow> held = FindHolding(c, formType, from, to);
    // Every number of the span must be held: a withdrawal accounts for forms, it does not
    // invent them.
    std::vector<NumberSpan> covers;
    for (const auto& row : held) covers.push_back({row.range.from, row.range.to});
    const auto unheld = UncoveredParts({from, to}, covers);
    if (!unheld.empty()) {
      throw StoreError::Rejected(
          fmt::format("Forms {} of {} are in no range; only forms the inventory holds can be "
                      "withdrawn. Nothing was withdrawn.",
                      SpansText(unheld), FormTypeName(formType, *mReference)));
    }
    const Stamp stamp{Now(), context.requestId, context.userId, context.userName};
    WithdrawOutcome outcome;
    CustodyLedger ledger;
    ledger.Withdrawn(formType, {from, to});
    for (const auto& row : held) {
      const FormRange& r = row.range;
      const std::string label =
          fmt::format("The range {}-{} of {}", r.from, r.to, FormTypeName(r.formType, *mReference));
      CheckHeldInScope(context.scope, r, *mReference, "nothing was withdrawn");
      ledger.Replaced(label, r);
      UseAwareCounter counter(c);
      counter.Replaced(r);
      FormRange gone = r;
      gone.from = std::max(r.from, from);
      gone.to = std::min(r.to, to);
      gone.remaining = counter.RemainingFor(formType, gone.from, gone.to);
      const std::optional<std::int64_t> producer = ProducerOf(c, r);
      EndEntry(c, producer, stamp.at);
      c.Query(auditSql, AuditRow(context, stamp.at, "WDR", custody::kWithdraw, r, gone,
                                 Lineage{producer, stamp.at}, why));
      outcome.withdrawn.push_back(gone);

      std::vector<FormRange> pieces;
      if (r.from < from) {
        FormRange low = r;
        low.to = from - 1;
        pieces.push_back(low);
      }
      if (r.to > to) {
        FormRange high = r;
        high.from = to + 1;
        pieces.push_back(high);
      }
      if (pieces.empty()) {
        c.Query("DELETE FROM form_range WHERE range_id = ?", {row.id});
      }
      for (std::size_t k = 0; k < pieces.size(); ++k) {
        FormRange& piece = pieces[k];
        piece.remaining = counter.RemainingFor(formType, piece.from, piece.to);
        CheckRange(label, piece, *mReference);
        // The range's own row becomes its first piece (a change, with a new version); a
        // second piece is split off it.
        if (k == 0) {
          ReplaceRange(c, row.id, piece, stamp);
          c.Query(auditSql,
                  AuditRow(context, stamp.at, "UPD", custody::kChange, r, piece, {producer, {}}));
        } else {
          InsertRange(c, piece, stamp);
          c.Query(auditSql,
                  AuditRow(context, stamp.at, "ADD", custody::kPiece, r, piece, {producer, {}}));
        }
        ledger.Written(piece);
        outcome.kept.push_back(piece);
      }
    }
    ledger.CheckNothingLost();
    return outcome;
  });
}

void SqlStore::LoadInventory(const std::vector<FormRange>& ranges, const SaveContext& context,
                             bool recordCustody) {
  // Everything is checked before the first row is written.
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    const FormRange& r = ranges[i];
    CheckRange(fmt::format("Range {} ({}-{} of form type {})", i + 1, r.from, r.to, r.formType), r,
               *mReference);
  }
  std::vector<std::size_t> order(ranges.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return std::tie(ranges[a].formType, ranges[a].from) <
           std::tie(ranges[b].formType, ranges[b].from);
  });
  for (std::size_t k = 1; k < order.size(); ++k) {
    const FormRange& a = ranges[order[k - 1]];
    const FormRange& b = ranges[order[k]];
    if (a.formType == b.formType && b.from <= a.to) {
      throw StoreError::Rejected(fmt::format("The ranges {}-{} and {}-{} of form type {} overlap",
                                             a.from, a.to, b.from, b.to, a.formType));
    }
  }

  constexpr std::size_t kBatch = 20000;  // bounds the memory of a million-range load
  Write({context.requestId, FormTypesOf(ranges)}, [&](SqlConnection& c) {
    if (!c.Query("SELECT range_id FROM form_range LIMIT 1", {}).empty()) {
      throw StoreError::Rejected(
          "An inventory can only be loaded into a store that holds no ranges yet.");
    }
    const Stamp stamp{Now(), context.requestId, context.userId, context.userName};
    const auto rangeColumns = RangeInsertColumns();
    const auto auditColumns = AuditColumns();
    std::vector<SqlRow> rows;
    for (std::size_t start = 0; start < ranges.size(); start += kBatch) {
      std::size_t end = std::min(ranges.size(), start + kBatch);
      rows.clear();
      for (std::size_t i = start; i < end; ++i) rows.push_back(RangeInsertRow(ranges[i], stamp));
      c.BulkInsert("form_range", rangeColumns, rows);
      if (recordCustody) {
        rows.clear();
        for (std::size_t i = start; i < end; ++i) {
          rows.push_back(
              AuditRow(context, stamp.at, "LOAD", custody::kLoad, std::nullopt, ranges[i], {}));
        }
        c.BulkInsert("range_audit", auditColumns, rows);
      }
    }
    return 0;
  });
}

}  // namespace fm::server
