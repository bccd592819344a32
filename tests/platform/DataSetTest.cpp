#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "DemoDatabaseFixture.h"
#include "platform/DataSet.h"
#include "platform/DataSetTemplates.h"
#include "platform/LocalDatabase.h"
#include "platform/PlatformError.h"
#include "platform/Services.h"

namespace fm {
namespace {

using ::testing::HasSubstr;

class DataSetTest : public testing::DemoDatabaseFixture {
 protected:
  void TearDown() override {
    Services::Reset();
    DemoDatabaseFixture::TearDown();
  }

  DataSet Opened(const std::string& source) {
    DataSet dataSet(DbPtr());
    dataSet.SetSource(source);
    dataSet.Open();
    return dataSet;
  }
};

TEST_F(DataSetTest, ATemplateNameGivesAnEmptySetOfTheTemplatesColumns) {
  for (const char* name : {"TROOPFORM", "OFFICER", "troopform"}) {
    DataSet dataSet;  // a template needs no database
    dataSet.SetSource(name);
    dataSet.Open();
    ASSERT_TRUE(dataSet.IsOpen()) << name;
    EXPECT_EQ(dataSet.RecordCount(), 0) << name;
    EXPECT_TRUE(dataSet.IsEOF()) << name;
    dataSet.MoveFirst();
    EXPECT_TRUE(dataSet.IsEOF()) << "moving to the first row of an empty set is no error";
    const auto expected = TemplateFields(name);
    ASSERT_TRUE(expected.has_value()) << name;
    EXPECT_EQ(dataSet.GetRecordset().FieldCount(), static_cast<int>(expected->size())) << name;
  }
}

TEST_F(DataSetTest, AnSqlSourceGivesTheQueryRowsAtTheFirstRow) {
  auto dataSet = Opened("SELECT * FROM TROOP WHERE REGION = 'NORTH' ORDER BY TRP_ID");
  EXPECT_EQ(dataSet.RecordCount(), 6);
  ASSERT_FALSE(dataSet.IsEOF());
  EXPECT_EQ(dataSet.GetRecordset().GetValue("TRP_ID"), Value("A"));
  long rows = 0;
  for (dataSet.MoveFirst(); !dataSet.IsEOF(); dataSet.MoveNext()) ++rows;
  EXPECT_EQ(rows, 6);
}

TEST_F(DataSetTest, ARefusedOrMissingSourceLeavesTheSetClosedWithTheDatabasesWords) {
  auto dataSet = Opened("SELECT * FROM TROOP");
  for (const auto& [source, says] : {std::pair<const char*, const char*>{"   ", "no source"},
                                     {"SELECT * FROM TROOPS", "no such table: TROOPS"}}) {
    dataSet.SetSource(source);
    try {
      dataSet.Open();
      ADD_FAILURE() << "opened " << source;
    } catch (const PlatformError& error) {
      EXPECT_THAT(error.Description(), HasSubstr(says));
    }
    EXPECT_FALSE(dataSet.IsOpen()) << "the rows of the earlier source are gone";
  }
  EXPECT_THROW(dataSet.GetRecordset(), PlatformError);
  EXPECT_THROW(dataSet.RecordCount(), PlatformError);

  dataSet.SetSource("SELECT * FROM TROOP");
  dataSet.Open();
  EXPECT_EQ(dataSet.RecordCount(), 8);
}

TEST_F(DataSetTest, CloseReleasesTheRecordSetButNotACopyOfItHeldElsewhere) {
  auto dataSet = Opened("SELECT * FROM TROOP");
  auto bound = dataSet.RecordsetPtr();  // what a data control holds
  dataSet.Close();
  EXPECT_FALSE(dataSet.IsOpen());
  EXPECT_THROW(dataSet.IsEOF(), PlatformError);
  EXPECT_THROW(dataSet.RecordsetPtr(), PlatformError);
  EXPECT_EQ(bound->RecordCount(), 8);
}

TEST_F(DataSetTest, EachOpenReadsTheTableAfresh) {
  const std::string sql =
      "SELECT * FROM RVO_CODE WHERE REGION = 'NORTH' AND CD_TBL_ID = 'FORMTYPE'";
  auto dataSet = Opened(sql);
  const long before = dataSet.RecordCount();
  Alter(
      "INSERT INTO RVO_CODE VALUES ('NORTH', 'FORMTYPE', 'P', 'Parking Permits', '1-999999', "
      "'2020-01-01', NULL)");
  dataSet.Open();
  EXPECT_EQ(dataSet.RecordCount(), before + 1);
}

}  // namespace
}  // namespace fm
