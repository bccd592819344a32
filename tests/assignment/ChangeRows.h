#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/Recordset.h"

namespace fm::testing {

// One change row as the server receives it, read back from a "TROOPFORM" record set.
struct ChangeRow {
  std::string action;
  std::string from;
  std::string to;
  std::string troop;
  std::string district;
  std::string formType;
  std::string registry;
  std::string status;
  std::optional<std::string> comment;  // nothing: null
  std::string quarter = {};
  std::string year = {};
  friend bool operator==(const ChangeRow&, const ChangeRow&) = default;
};

inline void PrintTo(const ChangeRow& row, std::ostream* os) {
  *os << "{" << row.action << " " << row.from << "-" << row.to << " " << row.troop << "/"
      << row.district << " type " << row.formType << " reg " << row.registry << " status \""
      << row.status << "\" comment " << (row.comment ? "\"" + *row.comment + "\"" : "null");
  if (!row.quarter.empty() || !row.year.empty()) {
    *os << " qtr " << row.quarter << " yr " << row.year;
  }
  *os << "}";
}

// Every visible row, in order; the cursor is left at the end.
inline std::vector<ChangeRow> ReadChangeRows(Recordset& rows) {
  std::vector<ChangeRow> result;
  if (rows.RecordCount() == 0) return result;
  for (rows.MoveFirst(); !rows.IsEOF(); rows.MoveNext()) {
    const Value& comment = rows.GetValue("TRP_FORM_CMMT_TXT");
    result.push_back({rows.GetText("ACTION"), rows.GetText("FRM_FORM_NBR"),
                      rows.GetText("TO_FORM_NBR"), rows.GetText("TRP_ID"),
                      rows.GetText("TRP_DIST_ID"), rows.GetText("FORM_TYP_CD"),
                      rows.GetText("ASGND_REG_NBR"), rows.GetText("TRP_ACTN_CD"),
                      comment.IsNull() ? std::nullopt : std::optional(comment.ToText()),
                      rows.GetText("FORM_QTR_DT"), rows.GetText("FORM_YR_DT")});
  }
  return result;
}

}  // namespace fm::testing
