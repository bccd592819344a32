#include "server/store/ReferenceData.h"

#include <fmt/format.h>

#include "base/Numbers.h"
#include "base/Text.h"
#include "localdata/LocalData.h"
#include "server/store/SqlConnection.h"
#include "server/store/SqlError.h"
#include "server/store/SqlStoreRows.h"
#include "server/store/SqliteConnection.h"
#include "server/store/StoreError.h"

namespace fm::server {

namespace {

bool ParseNumber(std::string_view text, std::int64_t& out) {
  return text::ReadWholeNumber(text, out) == text::WholeNumberStatus::kOk;
}

// "low-high" of ADTL_INFO_TXT.
FormTypeInfo ParseFormType(const std::string& code, const std::string& description,
                           const std::string& bounds) {
  FormTypeInfo info{code, description, 0, 0};
  auto dash = bounds.find('-');
  if (dash == std::string::npos || !ParseNumber(bounds.substr(0, dash), info.lowest) ||
      !ParseNumber(bounds.substr(dash + 1), info.highest) || info.lowest > info.highest) {
    throw StoreError::Internal(fmt::format(
        "the demo data gives form type {} the bounds \"{}\"; expected \"low-high\"", code, bounds));
  }
  return info;
}

// Of several entries of one code, the first row of each code wins: the query orders the
// entry in force today first, then one without end date, then the latest.
constexpr const char* kCodeEntries =
    "SELECT CD_TBL_CD, CD_TBL_DES, ADTL_INFO_TXT FROM RVO_CODE"
    " WHERE REGION = ? AND CD_TBL_ID = ?"
    " ORDER BY CD_TBL_CD,"
    " (EFCTV_DT <= date('now') AND (END_DT IS NULL OR END_DT >= date('now'))) DESC,"
    " (END_DT IS NULL) DESC, EFCTV_DT DESC";

}  // namespace

ReferenceData ReferenceData::FromDemoDatabase(const std::string& region) {
  ReferenceData data;
  try {
    SqliteConnection demo(":memory:", std::chrono::milliseconds(1000));
    demo.ExecuteScript(local_data::SchemaSql());
    demo.ExecuteScript(local_data::DemoSql());

    std::string last;
    for (const auto& row : demo.Query(kCodeEntries, {region, std::string("FORMTYPE")})) {
      std::string code = Text(row[0]);
      if (code == last) continue;
      last = code;
      data.mFormTypes.push_back(ParseFormType(code, Text(row[1]), Text(row[2])));
    }
    last.clear();
    for (const auto& row : demo.Query(kCodeEntries, {region, std::string("DELISTCD")})) {
      std::string code = Text(row[0]);
      if (code == last) continue;
      last = code;
      data.mStatuses.push_back({code, Text(row[1])});
    }
    for (const auto& row : demo.Query(
             "SELECT TRP_ID, TRP_NME FROM TROOP WHERE REGION = ? ORDER BY TRP_ID", {region})) {
      data.mTroops.push_back({Text(row[0]), Text(row[1])});
    }
    for (const auto& row :
         demo.Query("SELECT TRP_ID, TRP_DIST_ID, DIST_NME FROM TRP_DIST WHERE REGION = ?"
                    " ORDER BY TRP_ID, TRP_DIST_ID",
                    {region})) {
      data.mDistricts.push_back({Text(row[0]), Text(row[1]), Text(row[2])});
    }
    for (const auto& row :
         demo.Query("SELECT DIST_ID, SUB_DIST_ID, INSP_ID, INSP_DUTY_STRT_DT, INSP_DUTY_END_DT,"
                    " INSP_ASSN_DT_UPDT, INSP_NME_LST, INSP_NME_FRST, INSP_NME_MDL_INT, USR_RACF_ID"
                    " FROM MVE061TB WHERE REGION = ? ORDER BY INSP_ID",
                    {region})) {
      data.mOfficers.push_back({Text(row[0]), Text(row[1]), Integer(row[2]), Text(row[3]),
                                Text(row[4]), Text(row[5]), Text(row[6]), Text(row[7]),
                                Text(row[8]), Text(row[9])});
    }
  } catch (const SqlError& e) {
    throw StoreError::Internal(
        fmt::format("the demo reference data could not be read: {}", e.what()));
  }
  if (data.mFormTypes.empty() || data.mTroops.empty()) {
    throw StoreError::Internal(
        fmt::format("the demo data holds no form types or troops for the region \"{}\"", region));
  }
  // "A" is the status of a range in use even where the code table does not list it.
  bool hasActive = false;
  for (const auto& s : data.mStatuses) hasActive = hasActive || s.code == kActiveStatus;
  if (!hasActive) data.mStatuses.insert(data.mStatuses.begin(), {kActiveStatus, "Active"});
  data.Index();
  return data;
}

ReferenceData ReferenceData::FromStore(SqlConnection& connection) {
  ReferenceData data;
  for (const auto& row : connection.Query(
           "SELECT code, description, lowest, highest FROM form_type ORDER BY code", {})) {
    data.mFormTypes.push_back({Text(row[0]), Text(row[1]), Integer(row[2]), Integer(row[3])});
  }
  for (const auto& row :
       connection.Query("SELECT code, description FROM status_code ORDER BY code", {})) {
    data.mStatuses.push_back({Text(row[0]), Text(row[1])});
  }
  for (const auto& row : connection.Query("SELECT trp_id, name FROM troop ORDER BY trp_id", {})) {
    data.mTroops.push_back({Text(row[0]), Text(row[1])});
  }
  for (const auto& row : connection.Query(
           "SELECT trp_id, trp_dist_id, name FROM district ORDER BY trp_id, trp_dist_id", {})) {
    data.mDistricts.push_back({Text(row[0]), Text(row[1]), Text(row[2])});
  }
  for (const auto& row : connection.Query(
           "SELECT dist_id, sub_dist_id, insp_id, duty_start, duty_end, assignment_updated,"
           " last_name, first_name, middle_initial, racf_id FROM officer ORDER BY insp_id",
           {})) {
    data.mOfficers.push_back({Text(row[0]), Text(row[1]), Integer(row[2]), Text(row[3]),
                              Text(row[4]), Text(row[5]), Text(row[6]), Text(row[7]), Text(row[8]),
                              Text(row[9])});
  }
  data.Index();
  return data;
}

void ReferenceData::WriteTo(SqlConnection& connection) const {
  auto orNull = [](const std::string& s) -> SqlValue {
    return s.empty() ? SqlValue{} : SqlValue{s};
  };
  for (const auto& t : mFormTypes) {
    connection.Query(
        "INSERT INTO form_type (code, description, lowest, highest) VALUES (?, ?, ?, ?)",
        {t.code, t.description, t.lowest, t.highest});
  }
  for (const auto& s : mStatuses) {
    connection.Query("INSERT INTO status_code (code, description) VALUES (?, ?)",
                     {s.code, s.description});
  }
  for (const auto& t : mTroops) {
    connection.Query("INSERT INTO troop (trp_id, name) VALUES (?, ?)", {t.id, t.name});
  }
  for (const auto& d : mDistricts) {
    connection.Query("INSERT INTO district (trp_id, trp_dist_id, name) VALUES (?, ?, ?)",
                     {d.troop, d.id, d.name});
  }
  for (const auto& o : mOfficers) {
    connection.Query(
        "INSERT INTO officer (insp_id, last_name, first_name, middle_initial, racf_id, dist_id,"
        " sub_dist_id, duty_start, duty_end, assignment_updated)"
        " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
        {o.registry, o.lastName, orNull(o.firstName), orNull(o.middleInitial), orNull(o.userId),
         orNull(o.troop), orNull(o.district), orNull(o.dutyStart), orNull(o.dutyEnd),
         orNull(o.assignmentUpdated)});
  }
}

const FormTypeInfo* ReferenceData::FindFormType(const std::string& code) const {
  auto it = mFormTypeIndex.find(code);
  return it == mFormTypeIndex.end() ? nullptr : &mFormTypes[it->second];
}

std::vector<std::string> ReferenceData::StockStatuses() const {
  std::vector<std::string> codes{kActiveStatus};
  for (const auto& s : mStatuses) {
    if (s.code != kActiveStatus && IsStockStatus(s.code)) codes.push_back(s.code);
  }
  return codes;
}

bool ReferenceData::IsStockStatus(const std::string& code) const {
  if (code == kActiveStatus) return true;
  for (const auto& s : mStatuses) {
    if (s.code == code) return text::ToUpper(text::Trim(s.description)) == "UNASSIGN";
  }
  return false;
}

bool ReferenceData::HasStatus(const std::string& code) const {
  return mStatusCodes.count(code) > 0;
}

bool ReferenceData::HasStation(const std::string& troop, const std::string& district) const {
  return mStations.count({troop, district}) > 0;
}

bool ReferenceData::HasRegistry(std::int64_t registry) const {
  return registry == kNoOfficer || mRegistries.count(registry) > 0;
}

void ReferenceData::Index() {
  for (std::size_t i = 0; i < mFormTypes.size(); ++i) mFormTypeIndex[mFormTypes[i].code] = i;
  for (const auto& s : mStatuses) mStatusCodes.insert(s.code);
  for (const auto& t : mTroops) mStations.insert({t.id, std::string()});
  for (const auto& d : mDistricts) mStations.insert({d.troop, d.id});
  for (const auto& o : mOfficers) mRegistries.insert(o.registry);
}

}  // namespace fm::server
