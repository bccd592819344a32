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
#include "platform/PlatformError.h"
#include "platform/Recordset.h"

namespace fm {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

std::string OfficerSql(const std::string& region) {
  return std::string("Select * From MVE061TB Where ") + "REGION" + "='" + region + "'" +
         " Order By Insp_Id";
}

std::string FormTypeSql(const std::string& region) {
  return std::string("Select * From RVO_CODE Where ") + "REGION" + "='" + region + "'" + " And " +
         "CD_TBL_ID" + "='" + "FORMTYPE" + "'";
}

std::string FormTypeFilter(const std::string& code) {
  return std::string("CD_TBL_CD") + "='" + code + "' And " + "END_DT" + " = NULL";
}

// The part every delisting statement shares, up to and including the table identifier.
std::string DelistingBase(const std::string& column, const std::string& region) {
  return std::string(" SELECT ") + "    " + column + " " + " FROM " + "    RVO_CODE " + " WHERE " +
         "    REGION = '" + region + "' " + "    AND " + "    (EFCTV_DT <= date()) " + "    AND " +
         "    ( (END_DT >= date()) or (END_DT Is Null) )" + "    AND " +
         "    (CD_TBL_ID = 'DELISTCD') ";
}

std::string DelistingDescriptionSql(const std::string& region, const std::string& code) {
  return DelistingBase("CD_TBL_DES", region) + "    AND " + "    (CD_TBL_CD = '" + code + "') ";
}

enum class ViewMode { FormsAssignment = 0, NewForms = 1, InactiveForms = 2 };

std::string FillDelistingBoxSql(const std::string& region, ViewMode mode, bool voidManualForms) {
  std::string sql = DelistingBase("CD_TBL_DES", region);
  if (mode != ViewMode::InactiveForms) {
    sql += " AND (CD_TBL_CD <> 'A') ";
    if (!voidManualForms) sql += " AND (CD_TBL_CD <> 'V') ";
  } else {
    sql += " AND (CD_TBL_CD = 'A') ";
  }
  return sql;
}

std::string DelistingCodeSql(const std::string& region, const std::string& description) {
  return DelistingBase("CD_TBL_CD", region) + "    AND " + "    (UCASE(TRIM(CD_TBL_DES)) = '" +
         description + "') ";
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
    rs.SetFilter(FormTypeFilter(code));
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
    const auto rows = Column(DelistingCodeSql("NORTH", key), "CD_TBL_CD");
    return rows.empty() ? "" : rows.front();
  }

  std::string ErrorOf(const std::string& sql) {
    DataSet dataSet(DbPtr());
    dataSet.SetSource(sql);
    try {
      dataSet.Open();
    } catch (const PlatformError& error) {
      EXPECT_FALSE(dataSet.IsOpen());
      return error.Description();
    }
    ADD_FAILURE() << "no error for: " << sql;
    return {};
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
  EXPECT_EQ(FormDescription("C"), "ENF001 Citation") << "not the ended 'Uniform Traffic Ticket'";
  EXPECT_EQ(FormDescription("M"), "ENF003 Warning");
  EXPECT_EQ(FormDescription("V"), "ENF004 Vehicle Inspection");
  EXPECT_EQ(FormDescription("O"), "ENF507 Out of Service Report");
  EXPECT_EQ(FormDescription("T"), "Temporary Permits");
  EXPECT_EQ(FormDescription("R"), "Receipts");
  EXPECT_EQ(FormDescription("B"), "OOS Decals");
  EXPECT_EQ(FormDescription("Y"), "CVSA Decals");
  EXPECT_EQ(FormDescription("Z"), "Seals");
  EXPECT_EQ(FormDescription("K"), "Wrecker Decals");
  EXPECT_EQ(FormDescription("Q"), "");
  EXPECT_EQ(FormDescription(""), "");
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

TEST_F(LookupSqlTest, DelistingDescriptionFindsOnlyEntriesInForceToday) {
  EXPECT_EQ(DelistingDescription("A"), "Activate");
  EXPECT_EQ(DelistingDescription("U"), "Unassign");
  EXPECT_EQ(DelistingDescription("V"), "Void") << "not the other region's 'Voided'";
  EXPECT_EQ(DelistingDescription("R"), "Returned to Supply");
  EXPECT_EQ(DelistingDescription("L"), "Lost") << "not the wording that ended in 2004";
  EXPECT_EQ(DelistingDescription("W"), "Withdrawn from Service") << "ends in the future";
  EXPECT_EQ(DelistingDescription("X"), "Destroyed by Court Order") << "ends today";
  EXPECT_EQ(DelistingDescription("F"), "Forwarded to Headquarters") << "starts today";
  EXPECT_EQ(DelistingDescription("E"), "") << "ended last month";
  EXPECT_EQ(DelistingDescription("T"), "") << "in force only from next month";
  EXPECT_EQ(DelistingDescription("Q"), "");
  EXPECT_EQ(DelistingDescription(""), "");
  EXPECT_EQ(DelistingDescription("v"), "") << "codes are compared as stored";
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

TEST_F(LookupSqlTest, DelistingCodeMatchesTheDescriptionWhateverItsCase) {
  EXPECT_EQ(DelistingCode("void"), "V");
  EXPECT_EQ(DelistingCode("  Unassign "), "U");
  EXPECT_EQ(DelistingCode("ACTIVATE"), "A");
  EXPECT_EQ(DelistingCode("Withdrawn from Service"), "W");
  EXPECT_EQ(DelistingCode("Lost"), "L");
  EXPECT_EQ(DelistingCode("Lost or Misplaced"), "") << "ended";
  EXPECT_EQ(DelistingCode("Transferred to Another Agency"), "") << "not yet in force";
  EXPECT_EQ(DelistingCode("Voided"), "") << "the other region's wording";
  EXPECT_EQ(DelistingCode(""), "");
}

TEST_F(LookupSqlTest, TheSameLookUpTextIsPreparedOnce) {
  DelistingDescription("V");
  const auto afterFirst = DbPtr()->PreparedStatementCount();
  DelistingDescription("V");
  FormDescription("C");
  FormDescription("M");
  EXPECT_EQ(DbPtr()->PreparedStatementCount(), afterFirst + 1)
      << "one more for the form-type statement, whose code goes into the filter only";
  DelistingDescription("U");
  EXPECT_EQ(DbPtr()->PreparedStatementCount(), afterFirst + 2);
}

TEST_F(LookupSqlTest, MalformedLookUpTextsAreClearErrors) {
  const auto twoStatements = FormTypeSql("NORTH") + "; " + OfficerSql("NORTH");
  EXPECT_THAT(ErrorOf(twoStatements), HasSubstr("more than one statement"));

  const auto syntax = "Select * Form RVO_CODE Where REGION='NORTH'";
  const auto syntaxError = ErrorOf(syntax);
  EXPECT_THAT(syntaxError, HasSubstr("syntax error"));
  EXPECT_THAT(syntaxError, HasSubstr(syntax)) << "the message quotes the statement";

  EXPECT_THAT(ErrorOf("Select * From MVE061TBX Where REGION='NORTH' Order By Insp_Id"),
              HasSubstr("no such table: MVE061TBX"));
  EXPECT_THAT(ErrorOf("Select * From MVE061TB Where REGON='NORTH'"),
              HasSubstr("no such column: REGON"));

  // The screen writes a value between quotes without doubling a quote inside it.
  EXPECT_THAT(ErrorOf(DelistingDescriptionSql("NORTH", "O'")), HasSubstr("[SQL:"));
}

TEST_F(LookupSqlTest, AMalformedFilterIsAClearErrorAndLeavesTheRowsAsTheyWere) {
  DataSet dataSet(DbPtr());
  dataSet.SetSource(FormTypeSql("NORTH"));
  dataSet.Open();
  auto& rs = dataSet.GetRecordset();
  EXPECT_THROW(rs.SetFilter("CD_TBL_CD='C' And"), PlatformError);
  EXPECT_THROW(rs.SetFilter("NO_SUCH_FIELD = NULL"), PlatformError);
  EXPECT_EQ(rs.RecordCount(), 11);
}

}  // namespace
}  // namespace fm
