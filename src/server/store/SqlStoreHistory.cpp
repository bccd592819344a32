// Reads of the chain of custody: the history of one form, and what a custody report of a
// scope reads over a period.

#include <fmt/format.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/Numbers.h"
#include "server/store/ReferenceData.h"
#include "server/store/SqlStore.h"
#include "server/store/SqlStoreRows.h"
#include "server/store/SqlStoreTransactions.h"
#include "server/store/StoreError.h"

namespace fm::server {

namespace {

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

// Only what a report reads: a station's year can be tens of thousands of entries.
constexpr const char* kReportColumns =
    "r.audit_id, r.applied_at, r.event, r.form_typ_cd, r.parent_id, r.ended_at,"
    " r.before_from, r.before_to, r.before_trp_id, r.before_trp_dist_id, r.before_reg_nbr,"
    " r.before_actn_cd, r.after_from, r.after_to, r.after_trp_id, r.after_trp_dist_id,"
    " r.after_reg_nbr, r.after_actn_cd, r.after_rmng_cnt";

// The columns a report reads of an entry (kReportColumns): ids and times, then the range
// before (absent for a receipt) and after.
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

// The statement reading the chains of custody of the numbers that `numbers`, a query of one
// column (nbr), gives. The rows holding a form form one chain: each entry's "after" lies within its
// "before", so the entry that wrote the range an entry replaced (its parent) held the form too. The
// chain ends at the entry that wrote the range holding the form now (ProducerOf) or, for a
// form no range holds, at its latest withdrawal; it starts at the receipt, and a receipt of
// numbers withdrawn before goes on with that withdrawal (the latest one of the form before
// the receipt); a load is an inventory's start and has nothing before it. Every number's
// walk in one statement, so that PostgreSQL answers in one round trip what a reconciliation
// would otherwise ask thousands of times.
std::string ChainWalk(std::string_view numbers, std::string_view rows) {
  return fmt::format(
      fmt::runtime(
          "WITH RECURSIVE chain(nbr, id) AS ("
          " SELECT k.nbr, COALESCE("
          "   (SELECT p.audit_id FROM form_range h JOIN range_audit p"
          "       ON p.form_typ_cd = h.form_typ_cd AND p.after_from = h.frm_form_nbr"
          "      AND p.after_to = h.to_form_nbr AND p.event <> 'WITHDRAW'"
          "     WHERE h.range_id = (SELECT n.range_id FROM form_range n WHERE n.form_typ_cd = ?"
          "                           AND n.frm_form_nbr <= k.nbr ORDER BY n.frm_form_nbr DESC"
          "                           LIMIT 1)"
          "       AND h.to_form_nbr >= k.nbr ORDER BY p.audit_id DESC LIMIT 1),"
          "   (SELECT max(w.audit_id) FROM range_audit w WHERE w.form_typ_cd = ?"
          "       AND w.event = 'WITHDRAW' AND w.after_from <= k.nbr AND w.after_to >= k.nbr))"
          " FROM ({}) k"
          " UNION ALL"
          " SELECT chain.nbr, CASE WHEN a.parent_id IS NOT NULL THEN a.parent_id"
          "             WHEN a.event = 'RECEIVE' THEN"
          "               (SELECT max(w.audit_id) FROM range_audit w"
          "                 WHERE w.form_typ_cd = a.form_typ_cd AND w.event = 'WITHDRAW'"
          "                   AND w.after_from <= chain.nbr AND w.after_to >= chain.nbr"
          "                   AND w.audit_id < a.audit_id)"
          "        END"
          "   FROM chain JOIN range_audit a ON a.audit_id = chain.id)"
          " SELECT {}, (SELECT o.reason FROM save_override o WHERE o.request_id = r.request_id),"
          " (SELECT l.receipt_nbr FROM hand_receipt_line l WHERE l.audit_id = r.audit_id),"
          " c.nbr FROM ({}) c JOIN range_audit r ON r.audit_id = c.id"),
      numbers, AuditSelectList("r"), rows);
}

// A chain's rows one per number and entry: for one number, which has nothing to share.
constexpr std::string_view kEachNumber = "SELECT nbr, id FROM chain";

// Numbers near one another share most of their chains (a range's numbers went through the same
// splits and hands): one row per entry with the numbers it holds, so that the entry is read
// and sent once, not once per number. `list` is the backend's aggregate of the numbers as
// text separated by commas.
std::string EachEntry(std::string_view list) {
  return fmt::format("SELECT id, {} AS nbr FROM chain WHERE id IS NOT NULL GROUP BY id", list);
}

// Calls `each` with every number of a ChainWalk row's last column: one number, or EachEntry's
// list of them.
template <typename Each>
void ForEachNumberOf(const SqlValue& column, Each each) {
  const auto* list = std::get_if<std::string>(&column);
  if (!list) return each(Integer(column));
  std::string_view rest = *list;
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    const std::string_view piece = rest.substr(0, comma);
    const auto number = text::WholeNumber(piece);
    if (!number) {
      throw StoreError::Internal(
          fmt::format("a chain of custody lists \"{}\" where a form number belongs", piece));
    }
    each(*number);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
  }
}

// The rows of a ChainWalk as one chain per number asked, in the order asked, each oldest
// first (the walk goes from the latest entry back; no ORDER BY, which would cost SQLite a
// temporary table).
std::vector<std::vector<CustodyEntry>> ChainsOf(const std::vector<SqlRow>& rows,
                                                const std::vector<std::int64_t>& numbers) {
  std::unordered_map<std::int64_t, std::vector<std::size_t>> places;
  for (std::size_t i = 0; i < numbers.size(); ++i) places[numbers[i]].push_back(i);
  std::vector<std::vector<CustodyEntry>> chains(numbers.size());
  for (const auto& row : rows) {
    CustodyEntry entry = EntryFromRow(row);
    entry.receipt = OptInteger(row[row.size() - 2]);
    entry.overrideReason = OptText(row[row.size() - 3]);
    ForEachNumberOf(row.back(), [&](std::int64_t number) {
      const auto found = places.find(number);
      if (found == places.end()) {
        throw StoreError::Internal(
            fmt::format("a chain of custody answers for form {}, which was not asked", number));
      }
      for (std::size_t at : found->second) chains[at].push_back(entry);
    });
  }
  for (auto& chain : chains) {
    std::sort(chain.begin(), chain.end(),
              [](const CustodyEntry& a, const CustodyEntry& b) { return a.id < b.id; });
  }
  return chains;
}

}  // namespace

std::vector<CustodyEntry> SqlStore::FormHistory(const std::string& formType,
                                                std::int64_t formNumber) {
  // One number as a parameter: the form history screen's read, in half the time of a walk
  // from an array of one.
  static const std::string kOne = ChainWalk("SELECT CAST(? AS BIGINT) AS nbr", kEachNumber);
  return std::move(
      ChainsOf(ReadRows(kOne, {formType, formType, formNumber}), {formNumber}).front());
}

std::vector<std::vector<CustodyEntry>> SqlStore::FormHistories(
    const std::string& formType, const std::vector<std::int64_t>& formNumbers) {
  if (formNumbers.empty()) return {};
  static const std::string kSqlite =
      ChainWalk("SELECT DISTINCT CAST(value AS BIGINT) AS nbr FROM json_each(?)",
                EachEntry("group_concat(nbr, ',')"));
  static const std::string kPostgres = ChainWalk(
      "SELECT DISTINCT CAST(value AS BIGINT) AS nbr"
      " FROM jsonb_array_elements_text(CAST(? AS jsonb))",
      EachEntry("string_agg(CAST(nbr AS TEXT), ',')"));
  std::string numbers = "[";
  for (std::size_t i = 0; i < formNumbers.size(); ++i) {
    numbers += fmt::format("{}{}", i == 0 ? "" : ",", formNumbers[i]);
  }
  numbers += "]";
  return ChainsOf(
      ReadRows(mBackend.name == "postgresql" ? kPostgres : kSqlite, {formType, formType, numbers}),
      formNumbers);
}

std::vector<CustodyEntry> SqlStore::FormerHoldings(const std::vector<std::int64_t>& registries,
                                                   const std::string& formType,
                                                   const std::string& end) {
  if (registries.empty()) return {};
  std::vector<SqlValue> params;
  std::string list;
  for (const std::int64_t registry : registries) {
    list += list.empty() ? "?" : ", ?";
    params.emplace_back(registry);
  }
  // An ended entry's end is a time, never empty: the bound lets the officers' index
  // (registry, end, start) skip what they hold now.
  std::string sql = fmt::format(
      "SELECT {} FROM range_audit r WHERE r.after_reg_nbr IN ({}) AND r.ended_at > ''"
      " AND r.applied_at < ?",
      kReportColumns, list);
  params.emplace_back(end);
  if (!formType.empty()) {
    sql += " AND r.form_typ_cd = ?";
    params.emplace_back(formType);
  }
  std::vector<CustodyEntry> entries;
  ReadEach(sql, params, [&](const SqlRow& row, std::size_t index) {
    if (index == 0) entries.clear();
    entries.push_back(ReportEntryFromRow(row));
    return true;
  });
  return entries;
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
  std::vector<SqlValue> params;
  // Held before the end and ended at or after the start: held at the start, or for a while
  // in the period.
  std::string sql =
      fmt::format("SELECT {} FROM range_audit r WHERE {} AND r.applied_at < ? AND r.ended_at >= ?",
                  kReportColumns, holder("r", true, params));
  params.emplace_back(q.end);
  params.emplace_back(q.start);
  // Written in the period and held still (what was held before is in `held`).
  sql += fmt::format(
      " UNION ALL SELECT {} FROM range_audit r WHERE {} AND r.ended_at IS NULL"
      " AND r.applied_at >= ? AND r.applied_at < ?",
      kReportColumns, holder("r", true, params));
  params.emplace_back(q.start);
  params.emplace_back(q.end);
  // What replaced a held range during the period and went elsewhere; what stayed is above.
  sql += fmt::format(
      " UNION ALL SELECT {} FROM range_audit r WHERE r.parent_id IN (SELECT p.audit_id FROM"
      " range_audit p WHERE {} AND p.ended_at >= ? AND p.ended_at < ?)",
      kReportColumns, holder("p", true, params));
  params.emplace_back(q.start);
  params.emplace_back(q.end);
  sql += fmt::format(" AND NOT ({})", holder("r", false, params));
  // The ranges held now, from the inventory (its holder indexes) rather than from the
  // entries that wrote them: the bulk of a station's report, read from the smaller table.
  std::vector<std::string> heldTerms;
  std::vector<SqlValue> heldParams{SqlValue{q.end}};  // "r.chg_ts < ?" comes first
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
  for (const auto& t : heldTerms) heldSql += " AND " + t;
  // Both statements in Read's one snapshot: a save committing between them would show a range
  // it replaced both held and ended (counted twice) or neither (not at all), and the report
  // would not balance.
  return Read([&](SqlConnection& c) {
    HoldingsHistory history;
    // Row by row: a troop holds a hundred thousand ranges and more, which need not be held
    // twice, as rows and as ranges.
    c.QueryEach(heldSql, heldParams, [&](const SqlRow& row) {
      StoredRange& held = history.held.emplace_back();
      held.range = RangeFromRow(row);
      held.lastChange.at = Text(row[11]);
      return true;
    });
    std::vector<CustodyEntry>& result = history.entries;
    c.QueryEach(sql, params, [&](const SqlRow& row) {
      result.push_back(ReportEntryFromRow(row));
      return true;
    });
    std::sort(result.begin(), result.end(),
              [](const CustodyEntry& x, const CustodyEntry& y) { return x.id < y.id; });
    return history;
  });
}

}  // namespace fm::server
