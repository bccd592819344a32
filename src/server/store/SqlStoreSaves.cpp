// Writes of the store: saves of change rows, withdrawals and the load of an initial inventory,
// each one transaction that keeps the rules of ChangeRules and the books of CustodyLedger.

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/Text.h"
#include "server/store/AllotmentStore.h"
#include "server/store/ChangeRules.h"
#include "server/store/CustodyLedger.h"
#include "server/store/ReceiptStore.h"
#include "server/store/RecordChain.h"
#include "server/store/ReferenceData.h"
#include "server/store/SqlStore.h"
#include "server/store/SqlStoreRows.h"
#include "server/store/SqlStoreTransactions.h"
#include "server/store/UseStore.h"

namespace fm::server {

namespace {

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

// Writes a history entry and adds it to the write's links: answers its id.
std::int64_t InsertAudit(SqlConnection& c, const std::string& auditSql, const SqlRow& audit) {
  const std::int64_t id = Integer(c.Query(auditSql + " RETURNING audit_id", audit).at(0)[0]);
  // The chain's content of an entry: its id and its columns but the last (ended_at).
  SqlRow content{id};
  content.insert(content.end(), audit.begin(), audit.end() - 1);
  LinkRecord(ChainKind::History, id, std::move(content));
  return id;
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

}  // namespace

// --- Saves --------------------------------------------------------------------------------

SaveOutcome SqlStore::ApplyChanges(const SaveContext& context,
                                   const std::vector<RangeChange>& changes) {
  if (context.requestId.empty()) {
    throw StoreError::Rejected("A save needs a request id; nothing was changed.");
  }
  return Write({context.requestId, FormTypesOf(changes)},
               [&](SqlConnection& c) { return ApplyOn(c, context, changes); });
}

SaveOutcome SqlStore::ApplyOn(SqlConnection& c, const SaveContext& context,
                              const std::vector<RangeChange>& changes) {
  const std::string fingerprint = ChangeFingerprint(changes);
  const std::string auditSql = InsertAuditSql();
  auto applied =
      c.Query("SELECT fingerprint FROM applied_request WHERE request_id = ?", {context.requestId});
  if (!applied.empty()) {
    if (Text(applied[0][0]) != fingerprint) {
      throw StoreError::Rejected(fmt::format(
          "The request id {} was already used for a save with other rows; nothing was changed.",
          context.requestId));
    }
    return SaveOutcome{true, 0, {}};
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
  std::vector<GivenRange> given;  // the ranges the save gives to officers: its receipts
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
    const SqlRow audit =
        AuditRow(context, stamp.at, stored ? "UPD" : "ADD", event, before, next, lineage);
    // A range comes into an officer's hands when it is written with an officer other than
    // the one who held its numbers before: an assignment, a reassignment, a receipt
    // straight to an officer. A split that leaves the officer as he was gives nothing.
    const std::int64_t entry = InsertAudit(c, auditSql, audit);
    if (next.registry != kNoOfficer && next.to >= next.from &&
        (!before || before->registry != next.registry)) {
      given.push_back({next, entry});
    }
  }
  if (mCustodyChecks) ledger.CheckNothingLost();
  // Within the form types' locks: a concurrent save to the same officer waits, so two
  // saves cannot each pass a cap the two together break.
  CheckAllotments(c, context, stamp.at, given, *mReference);
  c.Query(
      "INSERT INTO applied_request (request_id, fingerprint, applied_at, row_count)"
      " VALUES (?, ?, ?, ?)",
      {context.requestId, fingerprint, stamp.at, static_cast<std::int64_t>(changes.size())});
  return SaveOutcome{false, changes.size(), IssueReceipts(c, context, stamp.at, given)};
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
    covers.reserve(held.size());
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
      InsertAudit(c, auditSql,
                  AuditRow(context, stamp.at, "WDR", custody::kWithdraw, r, gone,
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
          InsertAudit(
              c, auditSql,
              AuditRow(context, stamp.at, "UPD", custody::kChange, r, piece, {producer, {}}));
        } else {
          InsertRange(c, piece, stamp);
          InsertAudit(
              c, auditSql,
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
    if (recordCustody) {
      const auto last = c.Query("SELECT max(audit_id) FROM range_audit", {});
      LinkRecordsFrom(ChainKind::History,
                      (last.empty() ? 0 : OptInteger(last[0][0]).value_or(0)) + 1);
    }
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
    // PostgreSQL would plan the first reports on the statistics of an empty inventory until
    // its autovacuum came round; SQLite keeps none unless asked, and plans without them.
    if (mBackend.name == "postgresql") c.Query("ANALYZE form_range, range_audit", {});
    return 0;
  });
}

}  // namespace fm::server
