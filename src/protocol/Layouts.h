#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "protocol/Messages.h"

// The row layouts both ends of the wire use: the screen's record sets are made from them
// (the common library's templates) and the server writes its replies in them. Defined once
// here so that the two cannot drift apart.
namespace fm::protocol {

struct LayoutColumn {
  std::string_view name;
  ColumnType type;
  int size;  // longest text a column is meant to hold; 0 = unlimited (never enforced)
};

// "TROOPFORM": one range of forms. The comment's size is the longest comment a clerk types;
// a stamped comment (user and time appended) may run past it. ROW_VERSION is the server's
// version of a stored range, which the message component puts in the "UPD" rows of a save
// from the latest search.
inline constexpr LayoutColumn kTroopFormLayout[] = {
    {"TRP_ID", ColumnType::Text, 1},           {"TRP_DIST_ID", ColumnType::Text, 2},
    {"FORM_TYP_CD", ColumnType::Text, 1},      {"FORM_TYP_DESC", ColumnType::Text, 60},
    {"FRM_FORM_NBR", ColumnType::Integer, 0},  {"TO_FORM_NBR", ColumnType::Integer, 0},
    {"ASGND_REG_NBR", ColumnType::Integer, 0}, {"TRP_ACTN_CD", ColumnType::Text, 1},
    {"RMNG_FORM_CNT", ColumnType::Integer, 0}, {"FORM_QTR_DT", ColumnType::Integer, 0},
    {"FORM_YR_DT", ColumnType::Integer, 0},    {"TRP_FORM_CMMT_TXT", ColumnType::Text, 254},
    {"ACTION", ColumnType::Text, 3},           {"ROW_VERSION", ColumnType::Integer, 0},
};

// The change stamp of a stored range, which a server's full (not thin) search reply adds
// after the "TROOPFORM" columns.
inline constexpr LayoutColumn kTroopFormStampLayout[] = {
    {"LAST_CHG_TS", ColumnType::Text, 0},
    {"LAST_CHG_REQ_ID", ColumnType::Text, 0},
    {"LAST_CHG_USR_ID", ColumnType::Integer, 0},
};

// "OFFICER": one trooper. Dates are ISO texts (YYYY-MM-DD).
inline constexpr LayoutColumn kOfficerLayout[] = {
    {"DIST_ID", ColumnType::Text, 1},
    {"SUB_DIST_ID", ColumnType::Text, 2},
    {"INSP_ID", ColumnType::Integer, 0},
    {"INSP_DUTY_STRT_DT", ColumnType::Text, 10},
    {"INSP_DUTY_END_DT", ColumnType::Text, 10},
    {"INSP_ASSN_DT_UPDT", ColumnType::Text, 10},
    {"INSP_NME_LST", ColumnType::Text, 30},
    {"INSP_NME_FRST", ColumnType::Text, 30},
    {"INSP_NME_MDL_INT", ColumnType::Text, 1},
    {"USR_RACF_ID", ColumnType::Text, 8},
    {"ACTION", ColumnType::Text, 4},
};

// The wire columns of a layout, in its order.
inline std::vector<Column> ColumnsOf(std::span<const LayoutColumn> layout) {
  std::vector<Column> columns;
  columns.reserve(layout.size());
  for (const auto& c : layout) columns.push_back({std::string(c.name), c.type});
  return columns;
}

}  // namespace fm::protocol
