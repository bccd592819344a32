// Minimum stock and its alerts (Store.h, docs/stock.md): the minimum a clerk or an admin sets
// per station and form type, and the comparison every write makes with it before it commits.
#include <fmt/format.h>

#include <map>
#include <tuple>

#include "server/store/ReferenceData.h"
#include "server/store/SqlStore.h"
#include "server/store/SqlStoreRows.h"
#include "server/store/SqlStoreTransactions.h"
#include "server/store/StationScope.h"
#include "server/store/StoreError.h"
#include "server/store/TimeText.h"

namespace fm::server {

namespace {

std::string StockStationName(const std::string& troop, const std::string& district) {
  return district.empty() ? "troop " + troop : troop + district;
}

StockAlert AlertFromRow(const SqlRow& row) {
  StockAlert a;
  a.id = Integer(row[0]);
  a.troop = Text(row[1]);
  a.district = Text(row[2]);
  a.formType = Text(row[3]);
  a.onHand = Integer(row[4]);
  a.minimum = Integer(row[5]);
  a.raisedAt = Text(row[6]);
  a.requestId = Text(row[7]);
  a.clearedAt = OptText(row[8]);
  a.clearedOnHand = OptInteger(row[9]);
  return a;
}

// What "on hand" is, for the alerts and the stock report alike: the unused forms
// (rmng_form_cnt) of the ranges `r` in a status that keeps them in stock. Appends the
// statuses to `params`; the caller narrows it further with " AND ...".
std::string OnHandRanges(const std::vector<std::string>& stock, std::vector<SqlValue>& params) {
  std::string sql = " FROM form_range r WHERE r.trp_actn_cd IN (";
  for (std::size_t i = 0; i < stock.size(); ++i) {
    sql += i == 0 ? "?" : ", ?";
    params.emplace_back(stock[i]);
  }
  return sql + ")";
}

// " AND <prefix>trp_id = ? ..." narrowing rows of a table to the query's stations and form
// type, its values appended to `params`.
std::string ScopeCondition(const StockQuery& q, std::string_view station, std::string_view type,
                           std::vector<SqlValue>& params) {
  std::string sql;
  if (!q.troop.empty()) {
    sql += fmt::format(" AND {}trp_id = ?", station);
    params.emplace_back(q.troop);
    if (!q.wholeTroop) {
      sql += fmt::format(" AND {}trp_dist_id = ?", station);
      params.emplace_back(q.district);
    }
  }
  if (!q.formType.empty()) {
    sql += fmt::format(" AND {}form_typ_cd = ?", type);
    params.emplace_back(q.formType);
  }
  return sql;
}

using StationType = std::tuple<std::string, std::string, std::string>;

}  // namespace

std::vector<std::string> SqlStore::CompareWithMinimums(SqlConnection& c, const WriteScope& scope) {
  std::vector<std::string> raised;
  const std::vector<std::string> stock = mReference->StockStatuses();
  // The unassigned forms on the station's shelf: unused forms of its ranges held by no
  // officer, in a status that keeps them in stock.
  std::vector<SqlValue> params;
  std::string sql =
      "SELECT m.trp_id, m.trp_dist_id, m.minimum_qty, (SELECT COALESCE(SUM(r.rmng_form_cnt), 0)";
  sql += OnHandRanges(stock, params);
  sql +=
      "  AND r.trp_id = m.trp_id AND r.trp_dist_id = m.trp_dist_id"
      "  AND r.form_typ_cd = m.form_typ_cd AND r.asgnd_reg_nbr = 0),"
      " (SELECT a.alert_id FROM stock_alert a WHERE a.trp_id = m.trp_id"
      "  AND a.trp_dist_id = m.trp_dist_id AND a.form_typ_cd = m.form_typ_cd"
      "  AND a.cleared_at IS NULL)"
      " FROM stock_minimum m WHERE m.form_typ_cd = ?";
  params.emplace_back(std::string());
  for (const std::string& formType : scope.formTypes) {
    params.back() = formType;
    for (const SqlRow& row : c.Query(sql, params)) {
      const std::string troop = Text(row[0]);
      const std::string district = Text(row[1]);
      const std::int64_t minimum = Integer(row[2]);
      const std::int64_t onHand = Integer(row[3]);
      const std::optional<std::int64_t> open = OptInteger(row[4]);
      if (onHand < minimum && !open) {
        c.Query(
            "INSERT INTO stock_alert (trp_id, trp_dist_id, form_typ_cd, on_hand, minimum_qty,"
            " raised_at, request_id) VALUES (?, ?, ?, ?, ?, ?, ?)",
            {troop, district, formType, onHand, minimum, Now(), scope.requestId});
        const FormTypeInfo* type = mReference->FindFormType(formType);
        raised.push_back(
            fmt::format("stock alert: {} has {} unassigned {} left, below its minimum of {}",
                        StockStationName(troop, district), onHand,
                        type ? type->description : formType, minimum));
      } else if (onHand >= minimum && open) {
        c.Query("UPDATE stock_alert SET cleared_at = ?, cleared_on_hand = ? WHERE alert_id = ?",
                {Now(), onHand, *open});
      }
    }
  }
  return raised;
}

StockMinimum SqlStore::SetStockMinimum(const SaveContext& context, const StockMinimum& asked) {
  if (!mReference->HasStation(asked.troop, asked.district)) {
    throw StoreError::Rejected(fmt::format("There is no Troop/District {}",
                                           StockStationName(asked.troop, asked.district)));
  }
  if (!mReference->FindFormType(asked.formType)) {
    throw StoreError::Rejected(fmt::format("The Form Type \"{}\" is not known", asked.formType));
  }
  if (asked.minimum < 0) {
    throw StoreError::Rejected(
        fmt::format("A minimum stock is a number of forms, 0 or more; {} is not", asked.minimum));
  }
  if (!context.scope.Covers(asked.troop, asked.district)) {
    throw StoreError::Forbidden(fmt::format("{} may not set the minimum stock of {}",
                                            context.userName,
                                            StockStationName(asked.troop, asked.district)));
  }
  StockMinimum kept = asked;
  kept.setById = context.userId;
  kept.setBy = context.userName;
  WriteWith({context.requestId, {asked.formType}}, [&](SqlConnection& c) {
    kept.setAt = Now();
    c.Query("DELETE FROM stock_minimum WHERE trp_id = ? AND trp_dist_id = ? AND form_typ_cd = ?",
            {asked.troop, asked.district, asked.formType});
    if (asked.minimum > 0) {
      c.Query(
          "INSERT INTO stock_minimum (trp_id, trp_dist_id, form_typ_cd, minimum_qty, set_by_id,"
          " set_by_name, set_at, request_id) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
          {kept.troop, kept.district, kept.formType, kept.minimum, kept.setById, kept.setBy,
           kept.setAt, context.requestId});
    } else {
      // No minimum, nothing to fall below: an alert still open is over.
      c.Query(
          "UPDATE stock_alert SET cleared_at = ?, cleared_on_hand = on_hand"
          " WHERE trp_id = ? AND trp_dist_id = ? AND form_typ_cd = ? AND cleared_at IS NULL",
          {kept.setAt, asked.troop, asked.district, asked.formType});
    }
  });
  return kept;
}

std::vector<StockMinimum> SqlStore::StockMinimums() {
  std::vector<StockMinimum> out;
  for (const SqlRow& row : ReadRows("SELECT trp_id, trp_dist_id, form_typ_cd, minimum_qty,"
                                    " set_by_id, set_by_name, set_at FROM stock_minimum"
                                    " ORDER BY trp_id, trp_dist_id, form_typ_cd",
                                    {})) {
    out.push_back({Text(row[0]), Text(row[1]), Text(row[2]), Integer(row[3]), Integer(row[4]),
                   Text(row[5]), Text(row[6])});
  }
  return out;
}

std::vector<StockAlert> SqlStore::StockAlerts(bool openOnly) {
  std::vector<StockAlert> out;
  const std::string sql = fmt::format(
      "SELECT alert_id, trp_id, trp_dist_id, form_typ_cd, on_hand, minimum_qty, raised_at,"
      " request_id, cleared_at, cleared_on_hand FROM stock_alert{} ORDER BY alert_id DESC",
      openOnly ? " WHERE cleared_at IS NULL" : "");
  for (const SqlRow& row : ReadRows(sql, {})) out.push_back(AlertFromRow(row));
  return out;
}

std::vector<StockHolding> SqlStore::StockOnHand(const StockQuery& query) {
  const auto first = ParseIsoDate(query.firstDay);
  if (!first) {
    throw StoreError::Rejected(fmt::format(
        "The first day of a stock report must be a date YYYY-MM-DD, not \"{}\"", query.firstDay));
  }
  if (query.weeks < 1 || query.weeks > kMaxStockWeeks) {
    throw StoreError::Rejected(fmt::format("A stock report looks back 1 to {} weeks, not {}",
                                           kMaxStockWeeks, query.weeks));
  }
  const std::chrono::sys_days firstDay{*first};
  const auto lastDay = firstDay + std::chrono::days(7 * query.weeks - 1);
  const auto weekOf = [&](const std::optional<std::chrono::year_month_day>& day) -> int {
    if (!day) return -1;
    const std::chrono::sys_days d{*day};
    if (d < firstDay || d > lastDay) return -1;
    return static_cast<int>((d - firstDay).count() / 7);
  };
  const std::vector<std::string> stock = mReference->StockStatuses();
  return Read([&](SqlConnection& c) {
    std::map<StationType, StockHolding> lines;
    const auto line = [&](const SqlRow& row) -> StockHolding& {
      StationType key{Text(row[0]), Text(row[1]), Text(row[2])};
      auto [it, added] = lines.try_emplace(key);
      if (added) {
        it->second.troop = std::get<0>(key);
        it->second.district = std::get<1>(key);
        it->second.formType = std::get<2>(key);
        it->second.used.assign(static_cast<std::size_t>(query.weeks), 0);
        it->second.handedOut.assign(static_cast<std::size_t>(query.weeks), 0);
      }
      return it->second;
    };

    std::vector<SqlValue> params;
    std::string sql =
        "SELECT r.trp_id, r.trp_dist_id, r.form_typ_cd,"
        " SUM(CASE WHEN r.asgnd_reg_nbr = 0 THEN r.rmng_form_cnt ELSE 0 END),"
        " SUM(CASE WHEN r.asgnd_reg_nbr = 0 THEN 0 ELSE r.rmng_form_cnt END)";
    sql += OnHandRanges(stock, params);
    sql += ScopeCondition(query, "r.", "r.", params);
    sql += " GROUP BY r.trp_id, r.trp_dist_id, r.form_typ_cd";
    for (const SqlRow& row : c.Query(sql, params)) {
      StockHolding& h = line(row);
      h.unassigned = Integer(row[3]);
      h.withOfficers = Integer(row[4]);
    }

    params.clear();
    sql =
        "SELECT m.trp_id, m.trp_dist_id, m.form_typ_cd, m.minimum_qty FROM stock_minimum m"
        " WHERE 1 = 1" +
        ScopeCondition(query, "m.", "m.", params);
    for (const SqlRow& row : c.Query(sql, params)) line(row).minimum = Integer(row[3]);

    // A use does not name the station whose number it used. For one Troop/District its
    // ranges are read (the index by station), then each one's uses by number. For more, each
    // use of the weeks (the index by day) is counted to the range holding its number now, the
    // last one starting at or below it: reading the weeks' uses rather than every range's
    // keeps the report of every station a fraction of a second however many years of uses
    // the store holds. CROSS JOIN keeps SQLite to the order given.
    params = {IsoDate(*first), IsoDate(std::chrono::year_month_day{lastDay})};
    if (!query.troop.empty() && !query.wholeTroop) {
      sql =
          "SELECT r.trp_id, r.trp_dist_id, r.form_typ_cd, u.used_on, COUNT(*)"
          " FROM form_range r CROSS JOIN form_use u WHERE u.form_typ_cd = r.form_typ_cd"
          " AND u.form_nbr >= r.frm_form_nbr AND u.form_nbr <= r.to_form_nbr"
          " AND u.standing = 1 AND u.used_on >= ? AND u.used_on <= ?";
    } else if (mBackend.name == "postgresql") {
      // PostgreSQL hashed the whole inventory to join it to the range found; LATERAL has it
      // look up that one range per use, as SQLite does (which knows no LATERAL).
      sql =
          "SELECT r.trp_id, r.trp_dist_id, r.form_typ_cd, u.used_on, COUNT(*)"
          " FROM form_use u CROSS JOIN LATERAL (SELECT n.trp_id, n.trp_dist_id,"
          "  n.form_typ_cd, n.to_form_nbr FROM form_range n"
          "  WHERE n.form_typ_cd = u.form_typ_cd AND n.frm_form_nbr <= u.form_nbr"
          "  ORDER BY n.frm_form_nbr DESC LIMIT 1) r"
          " WHERE u.standing = 1 AND u.used_on >= ? AND u.used_on <= ?"
          " AND r.to_form_nbr >= u.form_nbr";
    } else {
      sql =
          "SELECT r.trp_id, r.trp_dist_id, r.form_typ_cd, u.used_on, COUNT(*)"
          " FROM form_use u CROSS JOIN form_range r"
          " WHERE u.standing = 1 AND u.used_on >= ? AND u.used_on <= ?"
          " AND r.form_typ_cd = u.form_typ_cd AND r.frm_form_nbr = (SELECT n.frm_form_nbr"
          "  FROM form_range n WHERE n.form_typ_cd = u.form_typ_cd"
          "  AND n.frm_form_nbr <= u.form_nbr ORDER BY n.frm_form_nbr DESC LIMIT 1)"
          " AND r.to_form_nbr >= u.form_nbr";
    }
    sql += ScopeCondition(query, "r.", "r.", params);
    sql += " GROUP BY r.trp_id, r.trp_dist_id, r.form_typ_cd, u.used_on";
    for (const SqlRow& row : c.Query(sql, params)) {
      const int week = weekOf(ParseIsoDate(Text(row[3])));
      if (week >= 0) line(row).used[static_cast<std::size_t>(week)] += Integer(row[4]);
    }

    // Forms handed to officers: entries taking forms from no officer to one, counted
    // on the station of the officer who got them, on the local day they were applied.
    params = {LocalMidnightUtc(*first)};
    sql =
        "SELECT a.after_trp_id, a.after_trp_dist_id, a.form_typ_cd, a.applied_at,"
        " a.after_rmng_cnt FROM range_audit a WHERE a.applied_at >= ? AND a.after_reg_nbr <> 0"
        " AND a.before_reg_nbr = 0";
    sql += ScopeCondition(query, "a.after_", "a.", params);
    for (const SqlRow& row : c.Query(sql, params)) {
      const auto at = ParseUtcTimestamp(Text(row[3]));
      if (!at) continue;
      const int week = weekOf(ParseIsoDate(LocalDate(*at)));
      if (week >= 0) line(row).handedOut[static_cast<std::size_t>(week)] += Integer(row[4]);
    }

    std::vector<StockHolding> out;
    out.reserve(lines.size());
    for (auto& [key, holding] : lines) out.push_back(std::move(holding));
    return out;
  });
}

}  // namespace fm::server
