#include "platform/DataSet.h"
#include "search/SearchFixture.h"

namespace fm::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using SearchCommandTest = SearchFixture;

TEST_F(SearchCommandTest, AcceptedSearchSendsTheCriteriaInOrder) {
  Doc().txtBox(0).TypeText("a1");
  SelectFormType("C");
  Doc().txtBox(1).SetText("1001");
  Doc().txtBox(7).SetText(" 1100005 ");
  ASSERT_TRUE(Doc().cmdButton(0).PerformClick());

  EXPECT_THAT(ui->messages, IsEmpty());
  ASSERT_EQ(messages->Sent().size(), 1u);
  const auto& sent = messages->LastSent();
  EXPECT_EQ(sent.requestId, Doc().RequestId());
  EXPECT_EQ(sent.identity, Doc().DocumentIdentity());
  EXPECT_EQ(sent.version, "1.0");
  EXPECT_EQ(sent.requester, "FORMSMAINT");
  EXPECT_EQ(sent.messageType, 33);
  EXPECT_THAT(sent.dataSets, IsEmpty());
  // Registry number and form number come after the form type.
  EXPECT_THAT(
      sent.criteria,
      ElementsAre(Criterion("key:TRP_ID", "A"), Criterion("key:TRP_DIST_ID", "1"),
                  Criterion("key:REF_TYP_CD", "C"), Criterion("key:ASGND_REG_NBR", "1001"),
                  Criterion("key:FORM_SEARCH_NBR", "1100005"), Criterion("key:INACTIVE", "N"),
                  Criterion("key:TRP_ACTN_CD", "V", "<>"), Criterion("key:THIN", "YES")));

  EXPECT_EQ(frame->LastStatus(), "Requesting Assigned Forms and Officers");
  EXPECT_EQ(ui->GetMousePointer(), MousePointer::Default);
  const TARVO_FormsMaint::Criteria expected{"A", "1", "C", "1001", "1100005"};
  EXPECT_EQ(Doc().CurrentCriteria(), expected);
  EXPECT_EQ(Doc().LastSearchCriteria(), expected);
  // Nothing can be worked on until the answer is in.
  EXPECT_FALSE(Doc().cmdButton(0).Enabled());
  EXPECT_FALSE(Doc().cmdButton(2).Enabled());
}

TEST_F(SearchCommandTest, RefusedSearchSendsNothingAndSaysWhatIsMissing) {
  Doc().ProcessCmdButtonSearchClick();
  ExpectOneMessage("Please Enter an Account Type to complete search criteria\r\n");
  EXPECT_EQ(ui->GetMousePointer(), MousePointer::Default);
  EXPECT_EQ(Doc().LastSearchCriteria(), TARVO_FormsMaint::Criteria{});

  // The New Forms view's entry check asks nothing of an untouched entry area, so only the
  // search's own demand is left, on one line.
  ui->messages.clear();
  Doc().optButton(1).Choose();
  Doc().ProcessCmdButtonSearchClick();
  ExpectOneMessage(
      "Please Enter a Troop/District and an Account Type and/or a Registry Number to complete "
      "search criteria");
  EXPECT_THAT(messages->Sent(), IsEmpty());
}

TEST_F(SearchCommandTest, InactiveFormsSearchLeavesTheStatusExclusionAndTheFormNumberOut) {
  Doc().txtBox(7).SetText("1100005");
  Doc().optButton(2).Choose();
  Doc().ProcessCmdButtonSearchClick();  // no criteria needed
  EXPECT_THAT(ui->messages, IsEmpty());
  EXPECT_THAT(messages->LastSent().criteria,
              ElementsAre(Criterion("key:INACTIVE", "Y"), Criterion("key:THIN", "YES")));
  SelectFormType("C");
  Doc().ProcessCmdButtonSearchClick();
  EXPECT_THAT(messages->LastSent().criteria,
              ElementsAre(Criterion("key:REF_TYP_CD", "C"), Criterion("key:INACTIVE", "Y"),
                          Criterion("key:THIN", "YES")));
  // It is still the search's form number, for a later request to fall back on.
  EXPECT_EQ(Doc().LastSearchCriteria().formNumber, "1100005");
}

TEST_F(SearchCommandTest, SearchClearsTheOriginOfAnEarlierSave) {
  Doc().SaveData();
  ASSERT_EQ(Doc().Origin(), "SaveData");
  SearchRegistry();
  EXPECT_EQ(Doc().Origin(), "");
}

TEST_F(SearchCommandTest, ClearEmptiesTheCriteriaButKeepsTheLastSearch) {
  Doc().txtBox(0).SetText("C4");
  SelectFormType("C");
  Doc().txtBox(1).SetText("1001");
  Doc().txtBox(7).SetText("1100005");
  Doc().ProcessCmdButtonSearchClick();
  const auto lastSearch = Doc().LastSearchCriteria();
  for (int index : {2, 3, 4, 5, 6}) Doc().txtBox(index).SetText("1");
  Doc().txtBox(0).SetText("Q");  // marked
  const auto formsBefore = Doc().FormsAssignmentDataSet();

  ASSERT_TRUE(Doc().cmdButton(1).PerformClick());

  for (int index : {0, 1, 2, 3, 4, 7}) EXPECT_EQ(Doc().txtBox(index).Text(), "") << index;
  EXPECT_EQ(Doc().txtBox(5).Text(), "1");
  EXPECT_EQ(Doc().txtBox(6).Text(), "1");
  EXPECT_EQ(Doc().qmCboFormTypes.SelectedIndex(), -1);
  EXPECT_FALSE(Doc().txtBox(0).ErrorMark());
  EXPECT_EQ(Doc().CurrentCriteria(), (TARVO_FormsMaint::Criteria{"", "", "", "", "1100005"}));
  EXPECT_EQ(Doc().LastSearchCriteria().registry, lastSearch.registry);
  EXPECT_EQ(Doc().LastSearchCriteria().formNumber, lastSearch.formNumber);
  EXPECT_NE(Doc().FormsAssignmentDataSet(), formsBefore);
  EXPECT_EQ(Doc().FormsAssignmentDataSet()->RecordCount(), 0);
  for (int index : {0, 1, 2, 3, 4, 5}) EXPECT_FALSE(Doc().cmdButton(index).Enabled()) << index;

  // In the New Forms view the pending ranges stay.
  Doc().optButton(1).Choose();
  auto newForms = Doc().NewFormsDataSet();
  AddPendingRow();
  Doc().txtBox(0).SetText("C4");
  Doc().txtBox(2).SetText("1100001");
  Doc().ProcessCmdButtonClearClick();
  EXPECT_EQ(Doc().txtBox(0).Text(), "");
  EXPECT_EQ(Doc().txtBox(2).Text(), "");
  EXPECT_EQ(Doc().NewFormsDataSet(), newForms);
  EXPECT_EQ(Doc().NewFormsDataSet()->RecordCount(), 1);
}

}  // namespace
}  // namespace fm::testing
