// The screen's look-up statements, built piece by piece as the screen builds them, run
// against the demo database: the rows each one finds are the rules of the code table.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "DemoDatabaseFixture.h"
#include "platform/DataSet.h"
#include "platform/LocalDatabase.h"
#include "platform/Recordset.h"

namespace fm {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

std::string OfficerSql(const std::string& region) {
  return "Select * From MVE061TB Where REGION='" + region + "' Order By Insp_Id";
}

std::string FormTypeSql(const std::string& region) {
  return "Select * From RVO_CODE Where REGION='" + region + "' And CD_TBL_ID='FORMTYPE'";
}

// The part every delisting statement shares, up to and including the table identifier.
std::string DelistingBase(const std::string& column, const std::string& region) {
  return " SELECT     " + column + "  FROM     RVO_CODE  WHERE     REGION = '" + region +
         "'     AND     (EFCTV_DT <= date())     AND     ( (END_DT >= date()) or (END_DT Is "
         "Null) )    AND     (CD_TBL_ID = 'DELISTCD') ";
}

std::string DelistingDescriptionSql(const std::string& region, const std::string& code) {
  return DelistingBase("CD_TBL_DES", region) + "    AND     (CD_TBL_CD = '" + code + "') ";
}

enum class ViewMode { FormsAssignment = 0, NewForms = 1, InactiveForms = 2 };

std::string FillDelistingBoxSql(const std::string& region, ViewMode mode, bool voidManualForms) {
  std::string sql = DelistingBase("CD_TBL_DES", region);
  if (mode == ViewMode::InactiveForms) return sql + " AND (CD_TBL_CD = 'A') ";
  sql += " AND (CD_TBL_CD <> 'A') ";
  return voidManualForms ? sql : sql + " AND (CD_TBL_CD <> 'V') ";
}

class LookupSqlTest : public testing::DemoDatabaseFixture {
 protected:
  // Every value of one column, in the order the statement returns the rows.
  std::vector<std::string> Column(const std::string& sql, const std::string& field) {
    DataSet dataSet(DbPtr());
    dataSet.SetSource(sql);
    dataSet.Open();
    std::vector<std::string> values;
    for (dataSet.MoveFirst(); !dataSet.IsEOF(); dataSet.MoveNext()) {
      values.push_back(dataSet.GetRecordset().GetText(field));
    }
    dataSet.Close();
    return values;
  }

  // The form-type description the way the screen reads it: the whole table of the region,
  // filtered down to the code's entry without an end date.
  std::string FormDescription(const std::string& code) {
    DataSet dataSet(DbPtr());
    dataSet.SetSource(FormTypeSql("NORTH"));
    dataSet.Open();
    dataSet.MoveFirst();
    auto& rs = dataSet.GetRecordset();
    rs.SetFilter("CD_TBL_CD='" + code + "' And END_DT = NULL");
    std::string description = rs.IsEOF() ? "" : rs.GetText("CD_TBL_DES");
    rs.SetFilter("");
    return description;
  }

  std::string DelistingDescription(const std::string& code) {
    const auto rows = Column(DelistingDescriptionSql("NORTH", code), "CD_TBL_DES");
    return rows.empty() ? "" : rows.front();
  }

  std::string DelistingCode(const std::string& description) {
    std::string key = description;
    key.erase(0, key.find_first_not_of(' '));
    key.erase(key.find_last_not_of(' ') + 1);
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const auto rows = Column(DelistingBase("CD_TBL_CD", "NORTH") +
                                 "    AND     (UCASE(TRIM(CD_TBL_DES)) = '" + key + "') ",
                             "CD_TBL_CD");
    return rows.empty() ? "" : rows.front();
  }
};

TEST_F(LookupSqlTest, OfficerLookUpGivesTheRegionsOfficersByRegistryNumber) {
  DataSet officers(DbPtr());
  officers.SetSource(OfficerSql("NORTH"));
  officers.Open();
  auto& rs = officers.GetRecordset();
  ASSERT_EQ(rs.RecordCount(), 160);
  std::int64_t previous = 0;
  for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
    EXPECT_EQ(rs.GetText("REGION"), "NORTH");
    const auto id = rs.GetValue("INSP_ID").AsInteger();
    EXPECT_GT(id, previous) << "ordered by registry number";
    EXPECT_GE(id, 1000);
    EXPECT_LE(id, 9999);
    previous = id;
  }

  // The look-up the assignment grid does for each row.
  rs.MoveFirst();
  ASSERT_TRUE(rs.Find("INSP_ID = 1002"));
  EXPECT_EQ(rs.GetText("INSP_NME_LST"), "Smith,jr");
  EXPECT_EQ(rs.GetText("INSP_NME_FRST"), "John");
  EXPECT_EQ(rs.GetText("INSP_NME_MDL_INT"), "Q");
  rs.MoveFirst();
  EXPECT_FALSE(rs.Find("INSP_ID = 2001")) << "an officer of another region";
}

TEST_F(LookupSqlTest, DemoOfficersCoverTheNameFormsAndEveryDutyStation) {
  const auto lastNames = Column(OfficerSql("NORTH"), "INSP_NME_LST");
  const auto firstNames = Column(OfficerSql("NORTH"), "INSP_NME_FRST");
  const auto middles = Column(OfficerSql("NORTH"), "INSP_NME_MDL_INT");
  const auto count = [](const std::vector<std::string>& values, auto predicate) {
    return std::count_if(values.begin(), values.end(), predicate);
  };
  EXPECT_GE(count(lastNames, [](const std::string& n) { return n.find(",jr") != n.npos; }), 2);
  EXPECT_GE(count(lastNames,
                  [](const std::string& n) {
                    return n.find(",SR") != n.npos || n.find(",Sr") != n.npos;
                  }),
            2);
  EXPECT_GE(count(firstNames, [](const std::string& n) { return n.size() == 1; }), 5);
  EXPECT_GE(count(middles, [](const std::string& n) { return n.empty(); }), 20);

  // Every NORTH district has officers on duty there.
  const auto empty = DbPtr()->Query(
      "SELECT * FROM TRP_DIST d WHERE d.REGION = 'NORTH' AND NOT EXISTS (SELECT 1 FROM "
      "MVE061TB o WHERE o.REGION = d.REGION AND o.DIST_ID = d.TRP_ID AND o.SUB_DIST_ID = "
      "d.TRP_DIST_ID)");
  EXPECT_EQ(empty->RecordCount(), 0);
  EXPECT_EQ(Column(OfficerSql("SOUTH"), "INSP_ID").size(), 5u);
  EXPECT_TRUE(Column(OfficerSql("north"), "INSP_ID").empty()) << "regions are stored upper-case";
}

TEST_F(LookupSqlTest, FormTypeFilterFindsTheOneEntryWithoutEndDateOfEachCode) {
  const std::pair<const char*, const char*> cases[] = {
      {"C", "ENF001 Citation"},  // not the ended 'Uniform Traffic Ticket'
      {"M", "ENF003 Warning"},
      {"V", "ENF004 Vehicle Inspection"},
      {"O", "ENF507 Out of Service Report"},
      {"T", "Temporary Permits"},
      {"R", "Receipts"},
      {"B", "OOS Decals"},
      {"Y", "CVSA Decals"},
      {"Z", "Seals"},
      {"K", "Wrecker Decals"},
      {"Q", ""},
      {"", ""},
  };
  for (const auto& [code, description] : cases)
    EXPECT_EQ(FormDescription(code), description) << code;
}

TEST_F(LookupSqlTest, FormTypeEntryWithAnEndDateAheadIsNotFoundAlthoughStillInForce) {
  Alter(
      "INSERT INTO RVO_CODE VALUES ('NORTH', 'FORMTYPE', 'P', 'Parking Permits', '1-999999', "
      "date('now', '-1 year'), date('now', '+90 days'))");
  EXPECT_EQ(FormDescription("P"), "");
  EXPECT_EQ(FormDescription("C"), "ENF001 Citation");
}

TEST_F(LookupSqlTest, FormTypeStatementReadsOnlyTheRegionsFormTypes) {
  DataSet dataSet(DbPtr());
  dataSet.SetSource(FormTypeSql("NORTH"));
  dataSet.Open();
  auto& rs = dataSet.GetRecordset();
  EXPECT_EQ(rs.RecordCount(), 11) << "ten current entries and the ended citation wording";
  rs.SetFilter("END_DT = NULL");
  EXPECT_EQ(rs.RecordCount(), 10);
  for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
    EXPECT_EQ(rs.GetText("REGION"), "NORTH");
    EXPECT_EQ(rs.GetText("CD_TBL_ID"), "FORMTYPE");
    EXPECT_THAT(rs.GetText("ADTL_INFO_TXT"), ::testing::MatchesRegex("[0-9]+-[0-9]+"))
        << "the central server reads a type's bounds from here";
  }
  rs.SetFilter("");
  EXPECT_EQ(rs.RecordCount(), 11);
}

TEST_F(LookupSqlTest, DelistingLookUpsFindOnlyEntriesInForceTodayBothWays) {
  const std::pair<const char*, const char*> byCode[] = {
      {"A", "Activate"},
      {"U", "Unassign"},
      {"V", "Void"},  // not the other region's 'Voided'
      {"R", "Returned to Supply"},
      {"L", "Lost"},                       // not the wording that ended in 2004
      {"W", "Withdrawn from Service"},     // ends in the future
      {"X", "Destroyed by Court Order"},   // ends today
      {"F", "Forwarded to Headquarters"},  // starts today
      {"E", ""},                           // ended last month
      {"T", ""},                           // in force only from next month
      {"Q", ""},
      {"", ""},
      {"v", ""},  // codes are compared as stored
  };
  for (const auto& [code, description] : byCode) {
    EXPECT_EQ(DelistingDescription(code), description) << code;
  }
  // The description is matched whatever its case and blanks.
  const std::pair<const char*, const char*> byDescription[] = {
      {"void", "V"},
      {"  Unassign ", "U"},
      {"ACTIVATE", "A"},
      {"Withdrawn from Service", "W"},
      {"Lost", "L"},
      {"Lost or Misplaced", ""},              // ended
      {"Transferred to Another Agency", ""},  // not yet in force
      {"Voided", ""},                         // the other region's wording
      {"", ""},
  };
  for (const auto& [description, code] : byDescription) {
    EXPECT_EQ(DelistingCode(description), code) << description;
  }
}

TEST_F(LookupSqlTest, FillDelistingBoxOffersTheReasonsOfTheViewMode) {
  const auto normalWithVoid =
      Column(FillDelistingBoxSql("NORTH", ViewMode::FormsAssignment, true), "CD_TBL_DES");
  EXPECT_THAT(normalWithVoid,
              UnorderedElementsAre("Unassign", "Void", "Returned to Supply", "Lost", "Damaged",
                                   "Stolen", "Issued in Error", "Withdrawn from Service",
                                   "Destroyed by Court Order", "Forwarded to Headquarters"));

  const auto normalWithoutVoid =
      Column(FillDelistingBoxSql("NORTH", ViewMode::FormsAssignment, false), "CD_TBL_DES");
  auto expected = normalWithVoid;
  expected.erase(std::find(expected.begin(), expected.end(), "Void"));
  EXPECT_EQ(normalWithoutVoid, expected) << "the same reasons in the same order, less 'Void'";

  EXPECT_EQ(Column(FillDelistingBoxSql("NORTH", ViewMode::NewForms, false), "CD_TBL_DES"),
            normalWithoutVoid);
  EXPECT_THAT(Column(FillDelistingBoxSql("NORTH", ViewMode::InactiveForms, false), "CD_TBL_DES"),
              ElementsAre("Activate"));
  EXPECT_THAT(Column(FillDelistingBoxSql("NORTH", ViewMode::InactiveForms, true), "CD_TBL_DES"),
              ElementsAre("Activate"));
  EXPECT_THAT(Column(FillDelistingBoxSql("SOUTH", ViewMode::FormsAssignment, true), "CD_TBL_DES"),
              UnorderedElementsAre("Unassign", "Voided", "Returned to Stock", "Lost in Transit"));
}

}  // namespace
}  // namespace fm
