#include <gmock/gmock.h>

#include "common/FormsMaintBas.h"
#include "controls/CodesCombo.h"
#include "controls/CommandButton.h"
#include "controls/DataGrid.h"
#include "controls/TextBox.h"
#include "document/DocumentFixture.h"
#include "platform/DataSet.h"

namespace fm::testing {
namespace {

using ::testing::ElementsAre;

class LifecycleTest : public DocumentFixture {
 protected:
  // A pending new range, as Add Forms leaves it.
  void AddPendingRange(TARVO_FormsMaint& d) {
    Recordset& rows = d.NewFormsDataSet()->GetRecordset();
    rows.AddNew();
    rows.SetValue("ACTION", "ADD");
    rows.SetValue("TRP_ID", "A");
    rows.SetValue("TRP_DIST_ID", "1");
    rows.SetValue("FORM_TYP_CD", "C");
    rows.SetValue("FRM_FORM_NBR", "1100001");
    rows.SetValue("TO_FORM_NBR", "1100100");
    rows.SetValue("ASGND_REG_NBR", "0");
    rows.SetValue("TRP_ACTN_CD", "A");
    rows.Update();
  }
};

TEST_F(LifecycleTest, FirstShowRunsItsStepsInOrder) {
  document = std::make_unique<TARVO_FormsMaint>();
  document->SetParentWindow("Forms Maintenance - Troop A", "HOST-7");
  document->UserDocument_Show();

  EXPECT_THAT(frame->statusTexts, ElementsAre("Loading information", "Ready"));
  EXPECT_THAT(frame->secondStatusCalls, ElementsAre(true));
  EXPECT_THAT(frame->toolbarCalls,
              ElementsAre(RecordingHostFrame::ToolbarCall{12, false, "HOST-7"},
                          RecordingHostFrame::ToolbarCall{9, false, "HOST-7"},
                          RecordingHostFrame::ToolbarCall{14, false, "HOST-7"},
                          RecordingHostFrame::ToolbarCall{7, false, "HOST-7"},
                          RecordingHostFrame::ToolbarCall{8, false, "HOST-7"}));
  EXPECT_THAT(ui->pointerHistory, ElementsAre(MousePointer::Hourglass, MousePointer::Default));
  EXPECT_EQ(MessageTitle(), "Forms Maintenance - Troop A");
  EXPECT_EQ(HostTag(), "HOST-7");
  EXPECT_EQ(CurrentViewMode(), kFormsAssignment);
  EXPECT_EQ(document->ModeMarker(), "A");

  // "FULL" with false: everything the selection or a reply would enable is off.
  for (int i : {0, 1, 2, 3, 4, 5}) EXPECT_FALSE(document->cmdButton(i).Enabled()) << i;
  EXPECT_FALSE(document->grdFormsAssignment.Enabled());
  EXPECT_FALSE(document->grdOfficerList.Enabled());
  for (DataGrid* grid :
       {&document->grdFormsAssignment, &document->grdOfficerList, &document->grdNewForms}) {
    EXPECT_EQ(grid->RowCount(), 0);
  }
  EXPECT_EQ(messages->ListenerCount(), 1U);
  EXPECT_TRUE(errors->Reports().empty());
}

TEST_F(LifecycleTest, SecondFirstShowKeepsTheMessageComponentReference) {
  auto& d = ShowDocument();
  const auto first = d.MessageComponentRef();
  // A different component would be handed out now; the document must keep its own.
  auto other = std::make_shared<ScriptedMessageComponent>();
  MessageComponent::SetFactory([other] { return other; });
  d.UserDocument_Show();
  EXPECT_EQ(d.MessageComponentRef(), first);
  EXPECT_EQ(messages->ListenerCount(), 1U);
  EXPECT_EQ(other->ListenerCount(), 0U);
}

TEST_F(LifecycleTest, NeedSaveIsFalseEvenWithPendingRangesAndResetsThePointer) {
  TARVO_FormsMaint other;  // documents have distinct identities
  EXPECT_NE(other.DocumentIdentity(), ShowDocument().DocumentIdentity());
  EXPECT_FALSE(other.DocumentIdentity().empty());
  AddPendingRange(*document);
  ui->SetMousePointer(MousePointer::Hourglass);
  EXPECT_FALSE(document->NeedSave());
  EXPECT_EQ(ui->GetMousePointer(), MousePointer::Default);
  EXPECT_TRUE(document->DataChanged());
}

TEST_F(LifecycleTest, CloseAsksOnlyWithPendingRangesAndFollowsTheAnswer) {
  auto& d = ShowDocument();
  EXPECT_TRUE(d.CloseDocument());
  EXPECT_TRUE(ui->messages.empty());
  AddPendingRange(d);

  ui->QueueAnswer(MsgBoxResult::Cancel);
  EXPECT_FALSE(d.CloseDocument());
  ASSERT_EQ(ui->messages.size(), 1U);
  EXPECT_EQ(ui->messages[0].text, "New Forms have been added. Do you wish to save them ?");
  EXPECT_EQ(ui->messages[0].buttons, MsgBoxButtons::YesNoCancel);
  EXPECT_EQ(ui->messages[0].icon, MsgBoxIcon::Question);
  EXPECT_EQ(ui->messages[0].title, "Forms Maintenance");

  ui->QueueAnswer(MsgBoxResult::No);
  EXPECT_TRUE(d.CloseDocument());
  EXPECT_TRUE(messages->Sent().empty()) << "No and Cancel send nothing";
}

// Yes saves and waits for the answer: closed only when the save went through.
TEST_F(LifecycleTest, CloseYesWaitsForTheSaveReply) {
  enum class Answer { Ok, Error, TimeOut };
  for (Answer answer : {Answer::Ok, Answer::Error, Answer::TimeOut}) {
    SCOPED_TRACE(static_cast<int>(answer));
    auto& d = ShowDocument();
    AddPendingRange(d);
    ui->messages.clear();
    messages->SetResponder([answer](ScriptedMessageComponent& m, const auto& sent) {
      if (answer == Answer::Ok) m.ReplyOk(sent.requestId, {});
      if (answer == Answer::Error) m.ReplyError(sent.requestId, "Range 1100001-1100100 overlaps");
      if (answer == Answer::TimeOut) m.TimeOut(sent.requestId);
    });
    ui->QueueAnswer(MsgBoxResult::Yes);
    EXPECT_EQ(d.CloseDocument(), answer == Answer::Ok);
    EXPECT_EQ(messages->LastSent().messageType, 34);
    EXPECT_EQ(messages->LastSent().dataSets.at("TROOPFORM")->RecordCount(), 1);
    // The save reply empties the new forms; otherwise they stay to be saved again.
    EXPECT_EQ(d.DataChanged(), answer != Answer::Ok);
  }
}

TEST_F(LifecycleTest, SaveDataFallsBackOnTheLastSearchAndRestoresTheCurrentCriteria) {
  auto& d = ShowDocument();
  d.SaveData();  // nothing pending: nothing sent, but the save is marked
  EXPECT_TRUE(messages->Sent().empty());
  EXPECT_TRUE(frame->statusTexts.empty());
  EXPECT_TRUE(d.Saving());
  AddPendingRange(d);
  d.SetLastSearchCriteria({"B", "12", "Z", "", ""});
  d.SetCurrentCriteria({"", "", "", "1005", ""});

  d.SaveData();

  ASSERT_EQ(messages->Sent().size(), 1U);
  const auto& criteria = messages->Sent()[0].criteria;
  ASSERT_GE(criteria.size(), 3U);
  EXPECT_EQ(criteria[0], (RequestCriterion{"key:TRP_ID", "B", "=", "QUILLMAR"}));
  EXPECT_EQ(criteria[1], (RequestCriterion{"key:TRP_DIST_ID", "12", "=", "QUILLMAR"}));
  EXPECT_EQ(criteria[2], (RequestCriterion{"key:REF_TYP_CD", "Z", "=", "QUILLMAR"}));
  EXPECT_EQ(d.CurrentCriteria(), (TARVO_FormsMaint::Criteria{"", "", "", "1005", ""}));
  EXPECT_EQ(d.Origin(), "SaveData");
  EXPECT_TRUE(d.Saving());
  EXPECT_EQ(frame->LastStatus(), "Saving Forms");
}

TEST_F(LifecycleTest, EveryCommandClickEndsWithTheDefaultPointerBeforeUnloadReleasesAll) {
  auto& d = ShowDocument();
  for (int i = 0; i < 8; ++i) {
    ui->SetMousePointer(MousePointer::Hourglass);
    d.cmdButton_Click(i);
    EXPECT_EQ(ui->GetMousePointer(), MousePointer::Default) << "button " << i;
  }
  frame->Clear();
  d.BeforeUnload();
  ASSERT_EQ(frame->toolbarCalls.size(), 5U);
  for (const auto& call : frame->toolbarCalls) EXPECT_TRUE(call.enabled);
  EXPECT_EQ(d.MessageComponentRef(), nullptr);
  EXPECT_EQ(messages->ListenerCount(), 0U);
}

// The pending ranges drive the Save item once shown (see the New Forms tests); before the
// first show there is no host to tell.
TEST_F(LifecycleTest, ToolbarSaveItemBeforeFirstShowIsReported) {
  TARVO_FormsMaint unshown;
  unshown.EnableSaveToolbarItem();
  EXPECT_THAT(ReportSources(), ElementsAre("TARVO_FormsMaint.EnableSaveToolbarItem"));
  EXPECT_TRUE(frame->toolbarCalls.empty());
}

}  // namespace
}  // namespace fm::testing
