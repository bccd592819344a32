#include <tuple>

#include "base/Text.h"
#include "platform/DataSet.h"
#include "search/SearchFixture.h"

namespace fm::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using RequestTest = SearchFixture;

const std::vector<RangeRow> kTwoRanges{
    {"C", "4", "C", 1100001, 1100100, Value(1001), "A", 100},
    {"C", "4", "C", 1100101, 1100200, Value(0), "A", 100},
};

std::shared_ptr<DataSet> OneNewRange() {
  return DataSet::Wrap(TroopForms({{"C", "4", "C", 1100201, 1100300, Value(0), "A", 0}}));
}

TEST_F(RequestTest, MissingCriteriaFallBackOnTheLastSearch) {
  Doc().txtBox(0).SetText("C4");
  SelectFormType("C");
  Doc().txtBox(1).SetText("1001");
  Doc().txtBox(7).SetText("1100005");
  Doc().ProcessCmdButtonSearchClick();
  // A troop of its own keeps the last search's registry out; the form type falls back alone.
  Doc().SetCurrentCriteria({"B", "1", "", "", ""});
  Doc().QueryForms(33, nullptr);
  EXPECT_THAT(messages->LastSent().criteria,
              ElementsAre(Criterion("key:TRP_ID", "B"), Criterion("key:TRP_DIST_ID", "1"),
                          Criterion("key:REF_TYP_CD", "C"), Criterion("key:INACTIVE", "N"),
                          Criterion("key:TRP_ACTN_CD", "V", "<>"), Criterion("key:THIN", "YES")));

  // Clear rebuilds the record sets, which forgets the last search's troop, district and
  // form type; its registry and form number stay.
  Doc().ProcessCmdButtonClearClick();

  Doc().SaveDataAndRequery(OneNewRange());

  const auto& sent = messages->LastSent();
  EXPECT_EQ(sent.messageType, 34);
  EXPECT_THAT(
      sent.criteria,
      ElementsAre(Criterion("key:ASGND_REG_NBR", "1001"),
                  Criterion("key:FORM_SEARCH_NBR", "1100005"), Criterion("key:INACTIVE", "N"),
                  Criterion("key:TRP_ACTN_CD", "V", "<>"), Criterion("key:THIN", "YES")));
  ASSERT_EQ(sent.dataSets.count("TROOPFORM"), 1u);
  EXPECT_EQ(sent.dataSets.at("TROOPFORM")->RecordCount(), 1);
  EXPECT_EQ(frame->LastStatus(), "Saving Forms");
  EXPECT_THAT(errors->Reports(), IsEmpty());  // the search left no origin to report
}

TEST_F(RequestTest, SaveWithoutTroopOrFormTypeIsSentAndReportedWithItsOrigin) {
  AddPendingRow();

  Doc().SaveData();

  EXPECT_THAT(messages->LastSent().criteria,
              ElementsAre(Criterion("key:INACTIVE", "N"), Criterion("key:TRP_ACTN_CD", "V", "<>"),
                          Criterion("key:THIN", "YES")));
  const auto reports = errors->Reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].description, "Origin-SaveData-Empty T/D");
  EXPECT_EQ(reports[1].description, "Origin-SaveData-Empty Form Type");
  for (const auto& report : reports) {
    EXPECT_EQ(report.source, "TARVO_FormsMaint.QueryForms");
    EXPECT_EQ(report.executable, Services::ExecutableName());
    EXPECT_FALSE(report.optional.has_value());
    EXPECT_EQ(report.kind, 1);
  }
}

TEST_F(RequestTest, SaveWithoutRowsSendsNothingAndShowsNoStatus) {
  Doc().SaveDataAndRequery(nullptr);
  Doc().SaveDataAndRequery(DataSet::Wrap(TroopForms({})));
  EXPECT_THAT(messages->Sent(), IsEmpty());
  EXPECT_THAT(frame->statusTexts, IsEmpty());
}

TEST_F(RequestTest, ReplyIsReadOnlyForThisDocumentMatchedIgnoringCaseAndBlanks) {
  SearchAndReply(kTwoRanges);
  SearchRegistry();
  frame->Clear();

  // Another document's reply is ignored, but the controls come back.
  messages->ReplyOk(Doc().RequestId(), {{"TROOPFORM", TroopForms({})}}, "SCR.TARVO_FormsMaint.999");
  Deliver();
  EXPECT_EQ(Doc().grdFormsAssignment.RowCount(), 2);
  EXPECT_THAT(ui->messages, IsEmpty());
  EXPECT_THAT(frame->statusTexts, IsEmpty());
  EXPECT_THAT(frame->secondStatusCalls, ElementsAre(true));
  EXPECT_TRUE(Doc().cmdButton(0).Enabled());
  EXPECT_TRUE(Doc().grdFormsAssignment.Enabled());
  EXPECT_FALSE(Doc().cmdButton(2).Enabled());
  EXPECT_EQ(ui->GetMousePointer(), MousePointer::Default);

  SearchRegistry();
  messages->ReplyOk(Doc().RequestId(), {{"TROOPFORM", TroopForms({kTwoRanges[0]})}},
                    " " + text::ToUpper(Doc().DocumentIdentity()) + "  ");
  Deliver();
  EXPECT_EQ(Doc().grdFormsAssignment.RowCount(), 1);
  EXPECT_TRUE(Doc().ReplyReceived());
}

TEST_F(RequestTest, FailedReplyShowsTheErrorAndKeepsTheGrids) {
  SearchAndReply(kTwoRanges);
  SearchRegistry();

  messages->ReplyError(Doc().RequestId(), "The forms server could not read the inventory.");
  Deliver();

  ExpectOneMessage("The forms server could not read the inventory.", MsgBoxIcon::Critical);
  EXPECT_EQ(frame->LastStatus(), "Search was not successful");
  EXPECT_TRUE(Doc().SaveFailed());
  EXPECT_TRUE(Doc().ReplyReceived());
  EXPECT_EQ(Doc().grdFormsAssignment.RowCount(), 2);
  EXPECT_TRUE(Doc().cmdButton(0).Enabled());
}

TEST_F(RequestTest, TimeOutThenFailedReplyShowsTimedOutAndLeavesTheFlags) {
  SearchRegistry();

  messages->TimeOut(Doc().RequestId());
  Deliver();

  EXPECT_TRUE(Doc().TimedOut());
  ASSERT_EQ(ui->messages.size(), 1u);
  EXPECT_EQ(ui->messages[0].icon, MsgBoxIcon::Critical);
  EXPECT_NE(ui->messages[0].text.find("did not answer in time"), std::string::npos);
  EXPECT_EQ(frame->LastStatus(), "Search timed out");
  EXPECT_FALSE(Doc().SaveFailed());
  EXPECT_FALSE(Doc().ReplyReceived());

  // The next request starts without the time-out.
  Doc().ProcessCmdButtonSearchClick();
  EXPECT_FALSE(Doc().TimedOut());
}

TEST_F(RequestTest, RepliesAreReadForTheLatestRequestOnly) {
  SearchRegistry();
  const std::string first = Doc().RequestId();
  Doc().ProcessCmdButtonSearchClick();
  const std::string second = Doc().RequestId();
  ASSERT_NE(first, second);

  messages->ReplyOk(first, {{"TROOPFORM", TroopForms(kTwoRanges)}});
  Deliver();
  EXPECT_EQ(Doc().grdFormsAssignment.RowCount(), 0);
  ASSERT_EQ(ui->messages.size(), 1u);
  EXPECT_NE(ui->messages[0].text.find(second), std::string::npos);

  messages->ReplyOk(second, {{"TROOPFORM", TroopForms(kTwoRanges)}});
  Deliver();
  EXPECT_EQ(Doc().grdFormsAssignment.RowCount(), 2);
}

TEST_F(RequestTest, ReplyToASaveEmptiesTheNewFormsAndClearsTheEntryArea) {
  AddPendingRow();
  Doc().txtBox(0).SetText("C4");
  SelectFormType("C");
  Doc().SaveData();
  ASSERT_TRUE(Doc().Saving());
  const auto pending = Doc().NewFormsDataSet();

  ReplyWith({{"TROOPFORM", TroopForms(kTwoRanges)}});

  EXPECT_FALSE(Doc().Saving());
  EXPECT_TRUE(Doc().ReplyReceived());
  EXPECT_NE(Doc().NewFormsDataSet(), pending);
  EXPECT_EQ(Doc().NewFormsDataSet()->RecordCount(), 0);
  EXPECT_EQ(Doc().grdNewForms.RowCount(), 0);
  EXPECT_EQ(Doc().txtBox(0).Text(), "");
  EXPECT_EQ(Doc().grdFormsAssignment.RowCount(), 2);
  EXPECT_FALSE(Doc().DataChanged());
}

// forms found, officers found, status text
using StatusCase = std::tuple<bool, bool, const char*>;

class ReplyStatusTest : public SearchFixture, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ReplyStatusTest, SuccessfulReplyTellsWhatWasFound) {
  const auto [forms, officers, status] = GetParam();
  SearchRegistry();
  ReplyWith(
      {{"TROOPFORM", TroopForms(forms ? kTwoRanges : std::vector<RangeRow>{})},
       {"OFFICER", Officers(officers ? std::vector<OfficerRow>{{1001, "Hartley", "Margaret", "A"}}
                                     : std::vector<OfficerRow>{})}});
  EXPECT_EQ(frame->LastStatus(), status);
  EXPECT_THAT(ui->messages, IsEmpty());
  EXPECT_TRUE(Doc().ReplyReceived());
  EXPECT_FALSE(Doc().SaveFailed());
  EXPECT_EQ(Doc().grdFormsAssignment.RowCount(), forms ? 2 : 0);
  EXPECT_EQ(Doc().grdOfficerList.RowCount(), officers ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    FoundOrNot, ReplyStatusTest,
    ::testing::Values(
        StatusCase{true, true, "Ready"},
        StatusCase{true, false, "No Officers assigned for specified selection criteria"},
        StatusCase{false, true, "No Forms assigned for specified selection criteria"},
        StatusCase{false, false,
                   "No Forms and Officers assigned for specified selection criteria"}));

}  // namespace
}  // namespace fm::testing
