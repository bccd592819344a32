#include <gmock/gmock.h>

#include "assignment/DialogFixture.h"
#include "controls/Frame.h"
#include "controls/Label.h"

namespace fm::testing {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::UnorderedElementsAre;

// Whether each control is visible, in the order given.
template <class... C>
std::vector<bool> Shown(const C&... controls) {
  return {controls.Visible()...};
}

template <class... Box>
std::vector<std::string> Texts(const Box&... boxes) {
  return {boxes.Text()...};
}

using UnAssignFormsDesignTest = DialogFixture;

// The captions are the clerk's words; where each control sits is the layout's business.
TEST_F(UnAssignFormsDesignTest, HoldsEveryControlWithItsCaption) {
  frmUnAssignForms form;
  const std::pair<int, const char*> labels[] = {{0, "From Range:"},
                                                {1, "To Range:"},
                                                {2, "Assigned To:"},
                                                {11, "Qtr Year:"},
                                                {12, "Year:"},
                                                {3, "From Range:"},
                                                {4, "To Range:"},
                                                {5, "Status:"},
                                                {7, "Assign to Officer:"},
                                                {6, "Comments:"},
                                                {9, "Assign to Registry #:"}};
  for (const auto& [index, caption] : labels) {
    EXPECT_EQ(form.lblForm(index).Caption(), caption) << index;
  }
  EXPECT_EQ(form.Caption() + "/" + form.fraForm(0).Caption() + "/" + form.fraForm(1).Caption(),
            "Unassign Forms/Row Selected/Accounts to Unassign");
  EXPECT_EQ(form.cmdOk.Caption() + "/" + form.cmdCancel.Caption(), "Save/Close");
  EXPECT_EQ(form.txtBox(3).MaxLength(), 10);
  EXPECT_EQ(form.txtBox(4).MaxLength(), 10);
  EXPECT_EQ(form.txtBox(5).MaxLength(), 254);
  EXPECT_TRUE(form.txtBox(5).MultiLine());
  EXPECT_EQ(form.TabOrder().front(), &form.txtBox(3));
}

// --- Set-up from the parameter text

using UnAssignFormsSetStateTest = DialogFixture;

TEST_F(UnAssignFormsSetStateTest, AssignShowsTheOfficerAndHidesTheStatus) {
  SelectedRange range;
  range.officerName = "DOE, A.";
  range.officerRegistry = "1005";
  std::string flag = " assign ";
  std::string parameters = range.Text();
  frmUnAssignForms form;
  form.LoadForm();
  EXPECT_TRUE(form.SetState(flag, parameters));

  EXPECT_EQ(flag, "ASSIGN");  // the caller's variable is normalised too
  EXPECT_EQ(form.Flag(), "ASSIGN");
  EXPECT_EQ(form.Caption() + "/" + form.fraForm(1).Caption(), "Assign Forms/Forms to Assign");
  EXPECT_EQ(form.cboStatus.Text(), "Activate");
  EXPECT_FALSE(form.cboStatus.Visible() || form.lblForm(5).Visible());
  EXPECT_THAT(Shown(form.lblForm(7), form.lblForm(8), form.lblForm(9), form.lblForm(10)),
              ElementsAre(true, true, true, true));
  // The entry starts as the whole selected range (the document's side checks the other fields).
  EXPECT_THAT(Texts(form.txtBox(3), form.txtBox(4), form.txtBox(6), form.txtBox(7)),
              ElementsAre("100", "199", "", ""));
  // Not a quarterly form type: quarter and year stay hidden and empty.
  EXPECT_THAT(Shown(form.lblForm(11), form.lblForm(12), form.txtBox(6), form.txtBox(7)),
              ElementsAre(false, false, false, false));
}

TEST_F(UnAssignFormsSetStateTest, UnassignOffersTheReasonsOtherFlagsOnlyFillTheBoxes) {
  frmUnAssignForms form;
  form.LoadForm();
  std::string flag = "Unassign";
  std::string parameters = SelectedRange{}.Text();
  EXPECT_TRUE(form.SetState(flag, parameters));
  EXPECT_EQ(form.Caption() + "/" + form.fraForm(1).Caption(), "Unassign Forms/Forms to UnAssign");
  EXPECT_TRUE(form.cboStatus.Visible() && form.lblForm(5).Visible());
  EXPECT_EQ(form.cboStatus.ListIndex(), 0);
  EXPECT_EQ(form.cboStatus.Text(), form.cboStatus.List(0));
  // The row's registry is kept, hidden.
  EXPECT_THAT(Shown(form.lblForm(7), form.lblForm(8), form.lblForm(9), form.lblForm(10)),
              ElementsAre(false, false, false, false));
  EXPECT_EQ(form.lblForm(10).Caption(), "1234");

  frmUnAssignForms other;
  other.LoadForm();
  flag = "move";
  other.SetState(flag, parameters);
  EXPECT_EQ(other.Caption() + "/" + other.fraForm(1).Caption(),
            "Unassign Forms/Accounts to Unassign");
  EXPECT_TRUE(other.cboStatus.Visible());
  EXPECT_EQ(other.cboStatus.Text(), "");
  EXPECT_TRUE(other.lblForm(8).Visible());
  EXPECT_THAT(Texts(other.txtBox(3), other.txtBox(4)), ElementsAre("100", "199"));
}

// A comment may hold the separator of the parameter text.
TEST_F(UnAssignFormsSetStateTest, QuarterlyRangeShowsQuarterAndYearTildeStaysInTheComment) {
  SelectedRange range;
  range.formType = "Y";
  range.quarter = "2";
  range.year = "2025";
  range.comment = "box 3~4 ~ shelf";
  Open("UNASSIGN", range);
  EXPECT_THAT(Shown(dialog->lblForm(11), dialog->lblForm(12), dialog->txtBox(6), dialog->txtBox(7)),
              ElementsAre(true, true, true, true));
  EXPECT_THAT(Texts(dialog->txtBox(6), dialog->txtBox(7)), ElementsAre("2", "2025"));
  EXPECT_EQ(dialog->PreviousComment(), "box 3~4 ~ shelf");
  EXPECT_EQ(dialog->PreviousRegistry(), "1234");
  EXPECT_THAT(errors->Reports(), IsEmpty());
}

TEST_F(UnAssignFormsSetStateTest, ShortParameterTextIsReportedAndKeepsWhatWasApplied) {
  frmUnAssignForms form;
  form.LoadForm();
  std::string flag = "ASSIGN";
  std::string parameters = "DOE, A.~1005~100~199";  // ends before the Assigned To text
  EXPECT_FALSE(form.SetState(flag, parameters));

  EXPECT_THAT(ReportSources(), ElementsAre("frmUnAssignForms.SetState"));
  EXPECT_THAT(errors->Reports().front().description, ::testing::HasSubstr("field 4"));
  EXPECT_EQ(form.Caption(), "Assign Forms");
  EXPECT_EQ(form.lblForm(10).Caption(), "1005");
  EXPECT_THAT(Texts(form.txtBox(3), form.txtBox(4), form.txtBox(2)), ElementsAre("100", "199", ""));
  EXPECT_EQ(form.Troop(), "");
}

// --- The delisting reasons

using DelistingReasonsTest = DialogFixture;

TEST_F(DelistingReasonsTest, FollowTheViewTheVoidSwitchAndTheRegion) {
  Open("UNASSIGN");
  const auto& items = dialog->cboStatus.Items();
  EXPECT_THAT(items, AllOf(Contains("Unassign"), Contains("Returned to Supply"), Contains("Lost"),
                           Contains("Withdrawn from Service"), Contains("Destroyed by Court Order"),
                           Contains("Forwarded to Headquarters")));
  // Neither Activate nor Void, nor a reason not in force or of another region.
  EXPECT_THAT(items, AllOf(Not(Contains("Activate")), Not(Contains("Void")),
                           Not(Contains("Lost or Misplaced")), Not(Contains("Expired")),
                           Not(Contains("Transferred to Another Agency"))));
  EXPECT_EQ(items.size(), 9u);

  settings->SetSwitch("VoidManualForms", true);
  Open("UNASSIGN");
  EXPECT_THAT(dialog->cboStatus.Items(), AllOf(Contains("Void"), Not(Contains("Activate"))));
  EXPECT_EQ(dialog->cboStatus.ListCount(), 10);

  SetCurrentViewMode(kInactiveForms);  // inactive forms can only be activated
  Open("UNASSIGN");
  EXPECT_THAT(dialog->cboStatus.Items(), ElementsAre("Activate"));
  EXPECT_EQ(dialog->cboStatus.Text(), "Activate");

  SetCurrentViewMode(kFormsAssignment);
  settings->SetSwitch("VoidManualForms", false);
  settings->SetRegion(" south ");  // trimmed and upper-cased
  Open("UNASSIGN");
  EXPECT_THAT(dialog->cboStatus.Items(),
              UnorderedElementsAre("Unassign", "Returned to Stock", "Lost in Transit"));
}

// --- Validation

struct InvalidEntry {
  const char* name;
  const char* flag;
  const char* status;  // nullptr: as set up
  const char* assignedTo;
  const char* from;
  const char* to;
  const char* comment;
  const char* message;
  int markedBox;  // -1: none; 99: the status combo
};

class UnAssignFormsValidationTest : public DialogFixture,
                                    public ::testing::WithParamInterface<InvalidEntry> {};

TEST_P(UnAssignFormsValidationTest, RefusesWithItsMessageAndMarksItsBox) {
  const InvalidEntry& entry = GetParam();
  settings->SetSwitch("VoidManualForms", true);
  SelectedRange range;
  range.officerName = "DOE, A.";
  range.officerRegistry = "5678";
  range.assignedTo = entry.assignedTo;
  Open(entry.flag, range);
  if (entry.status) dialog->cboStatus.SetText(entry.status);
  Enter(entry.from, entry.to, entry.comment);

  EXPECT_THAT(Save(), IsEmpty());
  ExpectOneMessage(entry.message);
  for (int box : {3, 4, 5}) {
    EXPECT_EQ(dialog->txtBox(box).ErrorMark(), box == entry.markedBox) << "txtBox(" << box << ")";
  }
  EXPECT_EQ(dialog->cboStatus.ErrorMark(), entry.markedBox == 99);
  // The dialog stays open with what the clerk typed.
  EXPECT_TRUE(dialog->Visible());
  EXPECT_EQ(dialog->Recordset(), nullptr);
  EXPECT_EQ(dialog->txtBox(3).Text(), entry.from);
  EXPECT_EQ(dialog->txtBox(5).Text(), entry.comment);
  EXPECT_THAT(errors->Reports(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    EveryMessage, UnAssignFormsValidationTest,
    ::testing::Values(
        InvalidEntry{"AlreadyUnassigned", "UNASSIGN", "Unassign", "", "100", "199", "",
                     "Selected forms are already  unassigned.", -1},
        // Another flag words the message without verb or past tense.
        InvalidEntry{"OtherFlagAlreadyUnassigned", "MOVE", "Unassign", "", "100", "199", "",
                     "Selected forms are already ", -1},
        InvalidEntry{"FromMissing", "ASSIGN", nullptr, "C4", " ", "199", "",
                     "Both the 'From Range' and the 'To Range' must be filled in.", 3},
        InvalidEntry{"ToMissing", "UNASSIGN", "Lost", "C4", "100", "", "",
                     "Both the 'From Range' and the 'To Range' must be filled in.", 4},
        InvalidEntry{"FromNotNumeric", "ASSIGN", nullptr, "C4", "1O0", "199", "",
                     "Range values must be numeric.", 3},
        InvalidEntry{"FromNotWhole", "ASSIGN", nullptr, "C4", "150.5", "199", "",
                     "Range values must be numeric.", 3},
        InvalidEntry{"ToNotNumeric", "ASSIGN", nullptr, "C4", "100", "19-9", "",
                     "Range values must be numeric.", 4},
        InvalidEntry{"FromBelowSelection", "ASSIGN", nullptr, "C4", "99", "199", "",
                     "Assign 'From Range' must be equal to or greater than the selected "
                     "'From Range'.",
                     3},
        InvalidEntry{"ToAboveSelection", "UNASSIGN", "Lost", "C4", "100", "200", "",
                     "Unassign 'To Range' must be equal to or less than the selected "
                     "'To Range'.",
                     4},
        InvalidEntry{"FromAboveTo", "UNASSIGN", "Lost", "C4", "150", "120", "",
                     "Unassign 'From Range' must be equal to or less than the unassign "
                     "'To Range'.",
                     3},
        InvalidEntry{"VoidWithoutComment", "UNASSIGN", " void ", "C4", "100", "199", "  ",
                     "Comment is required when voiding forms.", 5},
        InvalidEntry{"StatusNotAReason", "UNASSIGN", "Misfiled", "C4", "100", "199", "",
                     "Select a status from the list.", 99}),
    [](const auto& param) { return std::string(param.param.name); });

using UnAssignFormsCheckTest = DialogFixture;

TEST_F(UnAssignFormsCheckTest, LeavingABoxMarksSilentlyAndTheNextCheckClearsTheMark) {
  OpenAssign();
  EXPECT_EQ(dialog->ActiveControl(), &dialog->txtBox(3));  // Form_Activate put it there
  dialog->txtBox(3).SetText("99");
  dialog->SetFocusTo(dialog->txtBox(4));
  EXPECT_TRUE(dialog->txtBox(3).ErrorMark());
  EXPECT_THAT(ui->messages, IsEmpty());

  dialog->txtBox(3).SetText("120");
  dialog->SetFocusTo(dialog->txtBox(5));
  EXPECT_FALSE(dialog->txtBox(3).ErrorMark());
  EXPECT_THAT(ui->messages, IsEmpty());
}

TEST_F(UnAssignFormsCheckTest, SelectedRangeThatIsNoNumberIsReportedNotSaved) {
  SelectedRange range;
  range.from = "A100";
  OpenAssign(range);
  Enter("120", "149");
  EXPECT_THAT(Save(), IsEmpty());
  EXPECT_THAT(ReportSources(), ElementsAre("frmUnAssignForms.IsDataValid"));
  EXPECT_THAT(errors->Reports().front().description, ::testing::HasSubstr("'A100'"));
  EXPECT_TRUE(dialog->Visible());
}

// --- Keys

using UnAssignFormsKeyTest = DialogFixture;

TEST_F(UnAssignFormsKeyTest, RangeBoxesTakeDigitsOnlyAndBeepTheCommentTakesEveryKey) {
  OpenAssign();
  for (int box : {3, 4}) {
    TextBox& entry = dialog->txtBox(box);
    entry.SetText("");
    ui->beeps = 0;
    EXPECT_FALSE(entry.TypeKey('.'));
    EXPECT_EQ(ui->beeps, 1) << "a period beeps once";
    EXPECT_FALSE(entry.TypeKey('x') || entry.TypeKey('-'));
    EXPECT_EQ(ui->beeps, 3);
    EXPECT_TRUE(entry.TypeText("150") && entry.TypeKey(8));  // backspace
    EXPECT_EQ(entry.Text(), "15");
    EXPECT_EQ(ui->beeps, 3);
  }
  dialog->txtBox(5).SetText("");
  EXPECT_TRUE(dialog->txtBox(5).TypeText("Box 3. Shelf-2"));
  EXPECT_EQ(dialog->txtBox(5).Text(), "Box 3. Shelf-2");
  EXPECT_EQ(ui->beeps, 3);
}

// --- Close and unload

using UnAssignFormsCloseTest = DialogFixture;

TEST_F(UnAssignFormsCloseTest, CloseEscapeAndTheWindowDropTheRowsButNotWhatTheCallerTook) {
  OpenAssign();
  Enter("120", "149");
  ASSERT_THAT(Save(), Not(IsEmpty()));
  dialog->Show();
  dialog->cmdCancel.PerformClick();
  EXPECT_EQ(dialog->Recordset(), nullptr);
  EXPECT_FALSE(dialog->Visible());

  OpenAssign();
  EXPECT_TRUE(dialog->PressCancelButton());  // Escape
  EXPECT_FALSE(dialog->Visible());
  EXPECT_EQ(dialog->Recordset(), nullptr);

  OpenAssign();
  Enter("120", "149");
  Save();
  const auto taken = dialog->Recordset();
  ASSERT_NE(taken, nullptr);
  dialog->Show();
  EXPECT_TRUE(dialog->CloseByUser());
  EXPECT_EQ(dialog->Recordset(), nullptr);
  EXPECT_EQ(taken->RecordCount(), 3);
}

}  // namespace
}  // namespace fm::testing
