// Bad input reaching the platform through a trapped procedure: each is a clear report under
// the procedure's name, the procedure ends, and nothing it touched is left half-changed.

#include <gmock/gmock.h>

#include "DemoDatabaseFixture.h"
#include "platform/DataSet.h"
#include "platform/DataSetTemplates.h"
#include "platform/ErrorReporter.h"
#include "platform/ErrorTrap.h"
#include "platform/Services.h"

namespace fm::testing {
namespace {

using ::testing::HasSubstr;

class BadInputTest : public DemoDatabaseFixture {
 protected:
  void SetUp() override {
    DemoDatabaseFixture::SetUp();
    Services::Reset();
    mReporter = std::make_shared<ErrorReporter>(std::filesystem::path{}, false);
    Services::SetErrorReporter(mReporter);
    mRows = std::make_shared<Recordset>(*TemplateFields("TROOPFORM"));
    mRows->AddNew();
    mRows->SetValue("FORM_TYP_CD", "C");
    mRows->SetValue("FRM_FORM_NBR", "1100001");
    mRows->SetValue("TO_FORM_NBR", "1100100");
    mRows->Update();
  }
  void TearDown() override {
    Services::Reset();
    DemoDatabaseFixture::TearDown();
  }

  // Runs `body` as the procedure "Test.Procedure" would, and answers the one report.
  template <class Body>
  std::string ReportOf(Body body) {
    mReporter->ClearReports();
    EXPECT_FALSE(Trap("Test.Procedure", body));
    const auto reports = mReporter->Reports();
    EXPECT_EQ(reports.size(), 1U);
    if (reports.empty()) return {};
    EXPECT_EQ(reports[0].source, "Test.Procedure");
    return reports[0].description;
  }

  std::shared_ptr<ErrorReporter> mReporter;
  std::shared_ptr<Recordset> mRows;
};

TEST_F(BadInputTest, EachIsReportedNamingTheFaultAndLeavesWhatItTouchedAsItWas) {
  mRows->SetFilter("FORM_TYP_CD = 'C'");
  EXPECT_THAT(ReportOf([&] { mRows->SetFilter("FORM_TYP_CD = 'C' AND (FRM_FORM_NBR <"); }),
              HasSubstr("FRM_FORM_NBR <"));
  EXPECT_EQ(mRows->Filter(), "FORM_TYP_CD = 'C'");
  EXPECT_EQ(mRows->RecordCount(), 1);

  EXPECT_THAT(ReportOf([&] { mRows->Find("FORM_NUMBER = 5"); }), HasSubstr("FORM_NUMBER"));
  EXPECT_THAT(ReportOf([&] { (void)mRows->GetValue("FORM_NUMBER"); }), HasSubstr("FORM_NUMBER"));

  mRows->MoveFirst();
  EXPECT_THAT(ReportOf([&] { mRows->SetValue("FRM_FORM_NBR", "11OO001"); }), HasSubstr("11OO001"));
  EXPECT_EQ(mRows->GetText("FRM_FORM_NBR"), "1100001");

  Services::SetDatabase(DbPtr());
  DataSet dataSet;
  dataSet.SetSource("Select * From RVO_CODE; Delete From RVO_CODE");
  EXPECT_THAT(ReportOf([&] { dataSet.Open(); }), HasSubstr("statement"));
  EXPECT_FALSE(dataSet.IsOpen());
  EXPECT_GT(Db().Query("Select * From RVO_CODE")->RecordCount(), 0);
}

}  // namespace
}  // namespace fm::testing
