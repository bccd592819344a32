// Reads of the inventory: ranges by their columns or by a form number they hold, officers
// by station or registry number, and the count of ranges.

#include <fmt/format.h>

#include <string>
#include <vector>

#include "server/store/SqlStore.h"
#include "server/store/SqlStoreRows.h"

namespace fm::server {

namespace {

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

}  // namespace

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
    where.emplace_back("r.range_id = hit.hit_id");
    where.emplace_back("r.to_form_nbr >= ?");
    params.emplace_back(*q.formNumber);
  }
  add("r.trp_id", q.troop);
  add("r.trp_dist_id", q.district);
  add("r.form_typ_cd", q.formType);
  add("r.asgnd_reg_nbr", q.registry);
  add("r.trp_actn_cd", q.status);
  if (q.inactiveOnly) {
    where.emplace_back("r.trp_actn_cd <> ?");
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
    alternatives.emplace_back("insp_id = ?");
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

std::size_t SqlStore::RangeCount() {
  auto rows = ReadRows("SELECT count(*) FROM form_range", {});
  return static_cast<std::size_t>(Integer(rows.at(0).at(0)));
}

}  // namespace fm::server
