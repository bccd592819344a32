#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "server/store/SqlValue.h"
#include "server/store/StoreTypes.h"

// The values and columns the statements of SqlStore share: how a column reads, the columns
// of a range and of an audit entry, and a range read from them. Internal to the store's
// sources: SqlStore*.cpp, and for how a column reads, InventoryCheck and ReferenceData.
namespace fm::server {

inline std::string Text(const SqlValue& v) { return SqlText(v); }

inline std::int64_t Integer(const SqlValue& v) { return SqlInteger(v); }

inline std::optional<std::int64_t> OptInteger(const SqlValue& v) { return SqlOptInteger(v); }

inline std::optional<std::string> OptText(const SqlValue& v) { return SqlOptText(v); }

inline SqlValue Param(const std::optional<std::int64_t>& v) {
  return v ? SqlValue{*v} : SqlValue{};
}
inline SqlValue Param(const std::optional<std::string>& v) { return v ? SqlValue{*v} : SqlValue{}; }

inline constexpr const char* kRangeColumns =
    "r.form_typ_cd, r.frm_form_nbr, r.to_form_nbr, r.trp_id, r.trp_dist_id, r.asgnd_reg_nbr,"
    " r.trp_actn_cd, r.rmng_form_cnt, r.form_qtr_dt, r.form_yr_dt, r.cmmt_txt";

// Text(v) into `out`, which keeps its capacity: a cursor read into one object reused from
// row to row allocates only for texts longer than any before.
inline void AssignText(const SqlValue& v, std::string& out) {
  if (const auto* s = std::get_if<std::string>(&v)) {
    out.assign(*s);
  } else if (std::holds_alternative<std::monostate>(v)) {
    out.clear();
  } else {
    out = Text(v);
  }
}

inline void AssignOptText(const SqlValue& v, std::optional<std::string>& out) {
  if (std::holds_alternative<std::monostate>(v)) {
    out.reset();
  } else {
    if (!out) out.emplace();
    AssignText(v, *out);
  }
}

// The 11 range columns of RangeFromRow, read into an existing range.
inline void ReadRange(const SqlRow& row, FormRange& r) {
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
inline FormRange RangeFromRow(const SqlRow& row, std::size_t at = 0) {
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

inline std::vector<std::string> AuditColumns() {
  return {"request_id",      "requester",          "user_id",        "applied_at",
          "action",          "form_typ_cd",        "before_from",    "before_to",
          "before_trp_id",   "before_trp_dist_id", "before_reg_nbr", "before_actn_cd",
          "before_rmng_cnt", "before_qtr_dt",      "before_yr_dt",   "before_cmmt_txt",
          "after_from",      "after_to",           "after_trp_id",   "after_trp_dist_id",
          "after_reg_nbr",   "after_actn_cd",      "after_rmng_cnt", "after_qtr_dt",
          "after_yr_dt",     "after_cmmt_txt",     "user_name",      "event",
          "reason",          "claimed_user_id",    "parent_id",      "ended_at"};
}

}  // namespace fm::server
