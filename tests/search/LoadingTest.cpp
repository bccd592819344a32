#include "platform/DataSet.h"
#include "platform/ReplyStore.h"
#include "search/SearchFixture.h"

namespace fm::testing {
namespace {

using LoadingTest = SearchFixture;

TEST_F(LoadingTest, ReplyDataSetsBecomeTheGridsWithTheFirstRowCurrent) {
  SearchAndReply(
      {{"C", "4", "C", 1100001, 1100100, Value(1001)}, {"C", "4", "C", 1100101, 1100200, Value(0)}},
      {{1001, "Hartley", "Margaret", "A"}});

  EXPECT_EQ(Doc().FormsAssignmentDataSet()->RecordCount(), 2);
  EXPECT_EQ(Doc().grdFormsAssignment.RecordsetPtr(),
            Doc().FormsAssignmentDataSet()->RecordsetPtr());
  EXPECT_EQ(Doc().grdFormsAssignment.CurrentRowIndex(), 0);
  EXPECT_TRUE(Doc().grdFormsAssignment.Redraw());
  EXPECT_EQ(Doc().grdOfficerList.RecordsetPtr(), Doc().OfficerListDataSet()->RecordsetPtr());
  EXPECT_EQ(Doc().grdOfficerList.CurrentRowIndex(), 0);
  EXPECT_TRUE(Doc().grdOfficerList.Redraw());
}

TEST_F(LoadingTest, ReplyWithoutRangesOrOfficersShowsEmptySetsOnlyTheFormsRegistered) {
  SearchRegistry();
  ReplyWith({{"OFFICER", Officers({{1001, "Hartley", "Margaret", "A"}})}});

  EXPECT_FALSE(Doc().LoadForms());
  EXPECT_EQ(Doc().grdFormsAssignment.RowCount(), 0);
  EXPECT_GE(Doc().FormsAssignmentDataSet()->GetRecordset().FindField("FRM_FORM_NBR"), 0);
  const auto registered = Services::Replies()->Get("TROOPFORM", Doc().DocumentIdentity(), "");
  EXPECT_EQ(registered, Doc().FormsAssignmentDataSet());

  SearchRegistry();
  ReplyWith({{"TROOPFORM", TroopForms({{"C", "4", "C", 1100001, 1100100, Value(0)}})}});
  EXPECT_FALSE(Doc().LoadOfficers());
  EXPECT_EQ(Doc().grdOfficerList.RowCount(), 0);
  ASSERT_NE(Doc().OfficerListDataSet(), nullptr);
  EXPECT_GE(Doc().OfficerListDataSet()->GetRecordset().FindField("INSP_ID"), 0);
  // Only the forms' empty set is registered for later use.
  EXPECT_EQ(Services::Replies()->Get("OFFICER", Doc().DocumentIdentity(), ""), nullptr);
}

TEST_F(LoadingTest, OfficerNameIsLastFirstMiddleJoinedByCommas) {
  EXPECT_EQ(Doc().GetOfcrName(1001), "Hartley,Margaret,A");
  EXPECT_EQ(Doc().GetOfcrName(1003), "Brown,SR,Robert,");  // no middle initial
  EXPECT_EQ(Doc().GetOfcrName(1005), "Doe,,A");            // no first name
  EXPECT_EQ(Doc().GetOfcrName(999), ",,");
  EXPECT_EQ(Doc().GetOfcrName(2001), ",,");  // an officer of another region
  EXPECT_TRUE(errors->Reports().empty());
  settings->SetRegion(" north ");  // the region trimmed and in capitals
  EXPECT_EQ(Doc().AssembleOfficerSQL(),
            "Select * From MVE061TB Where REGION='NORTH' Order By Insp_Id");
}

TEST_F(LoadingTest, OfficerLookUpIsReadOncePerDocument) {
  ASSERT_EQ(Doc().GetOfcrName(1001), "Hartley,Margaret,A");
  // Officers read on the first look-up stay, whatever the settings say later.
  settings->SetRegion("SOUTH");
  EXPECT_EQ(Doc().GetOfcrName(2001), ",,");
  EXPECT_EQ(Doc().GetOfcrName(1001), "Hartley,Margaret,A");

  TARVO_FormsMaint another;
  EXPECT_EQ(another.GetOfcrName(2001), "Boudreaux,Andre,L");
}

}  // namespace
}  // namespace fm::testing
