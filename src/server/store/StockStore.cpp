// Minimum stock and its alerts (Store.h, docs/stock.md): the minimum a clerk or an admin sets
// per station and form type, and the comparison every write makes with it before it commits.
#include <fmt/format.h>

#include "server/store/ReferenceData.h"
#include "server/store/SqlStore.h"
#include "server/store/SqlStoreRows.h"
#include "server/store/SqlStoreTransactions.h"
#include "server/store/StationScope.h"
#include "server/store/StoreError.h"

namespace fm::server {

namespace {

std::string StationName(const std::string& troop, const std::string& district) {
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

}  // namespace

std::vector<std::string> SqlStore::CompareWithMinimums(SqlConnection& c, const WriteScope& scope) {
  std::vector<std::string> raised;
  const std::vector<std::string> stock = mReference->StockStatuses();
  // The unassigned forms on the station's shelf: unused forms of its ranges held by no
  // officer, in a status that keeps them in stock.
  std::string sql =
      "SELECT m.trp_id, m.trp_dist_id, m.minimum_qty,"
      " (SELECT COALESCE(SUM(r.rmng_form_cnt), 0) FROM form_range r"
      "  WHERE r.trp_id = m.trp_id AND r.trp_dist_id = m.trp_dist_id"
      "  AND r.form_typ_cd = m.form_typ_cd AND r.asgnd_reg_nbr = 0 AND r.trp_actn_cd IN (";
  std::vector<SqlValue> params;
  for (std::size_t i = 0; i < stock.size(); ++i) {
    sql += i == 0 ? "?" : ", ?";
    params.emplace_back(stock[i]);
  }
  sql +=
      ")),"
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
        raised.push_back(fmt::format(
            "stock alert: {} has {} unassigned {} left, below its minimum of {}",
            StationName(troop, district), onHand, type ? type->description : formType, minimum));
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
    throw StoreError::Rejected(
        fmt::format("There is no Troop/District {}", StationName(asked.troop, asked.district)));
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
                                            StationName(asked.troop, asked.district)));
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

}  // namespace fm::server
