#include "assignment/ChangeRows.h"
#include "common/CommentStamp.h"
#include "common/ParameterText.h"
#include "controls/Frame.h"
#include "controls/Label.h"
#include "dutystation/DutyStationFixture.h"
#include "dutystation/frmChangeDutyStation.h"
#include "platform/DataSet.h"

namespace fm::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// ------------------------------------------------------------------ the dialog alone

class ChangeDutyStationDialogTest : public DocumentFixture {
 protected:
  void SetUp() override {
    DocumentFixture::SetUp();
    SetMessageTitle("Forms Maintenance");
    dialog = std::make_unique<frmChangeDutyStation>();
    dialog->SetNow([] { return StampMoment(); });
    dialog->LoadForm();
  }

  // The nine fields of a citation range of C4 with the given comment.
  static std::vector<std::string> Citation(std::string troop = "C", std::string district = "4",
                                           std::string comment = "") {
    return {"1100001", "1100100", "1002:SMITH, JR,JOHN,Q", troop, district, "C", comment, "", ""};
  }

  void Pass(const std::vector<std::string>& fields) {
    std::string parameters = JoinParameterFields(fields);
    dialog->PassParameters(parameters);
  }

  // The user clears the box and types the new station.
  void Type(const std::string& troopDistrict) {
    dialog->txtTroopDistrict.SetText("");
    dialog->txtTroopDistrict.TypeText(troopDistrict);
  }

  Recordset& Saved() {
    auto change = dialog->Recordset();
    EXPECT_NE(change, nullptr) << "no change row";
    return change->GetRecordset();
  }

  std::unique_ptr<frmChangeDutyStation> dialog;
};

TEST_F(ChangeDutyStationDialogTest, HoldsEveryControlWithItsCaption) {
  EXPECT_EQ(dialog->Caption(), "Change Troop/District");
  EXPECT_EQ(dialog->fraForm(0).Caption(), "Row Selected");
  EXPECT_TRUE(dialog->fraForm(0).FontBold());
  const std::pair<int, const char*> labels[] = {
      {0, "From Range:"}, {1, "To Range:"},  {2, "Assigned To:"}, {3, "Troop/District:"},
      {7, "Comments:"},   {10, "Qtr Year:"}, {11, "Year:"}};
  for (const auto& [index, caption] : labels) {
    EXPECT_EQ(dialog->lblForm(index).Caption(), caption) << index;
  }
  EXPECT_EQ(dialog->cmdButton(0).Caption() + "/" + dialog->cmdButton(1).Caption(), "Save/Close");
  EXPECT_TRUE(dialog->cmdButton(1).IsCancel());
  EXPECT_EQ(dialog->txtTroopDistrict.MaxLength(), 3);
  EXPECT_EQ(dialog->txtComments.MaxLength(), 254);
  EXPECT_TRUE(dialog->txtComments.MultiLine());
  // The entry first, then the comment.
  EXPECT_EQ(dialog->TabOrder().at(0), &dialog->txtTroopDistrict);
  EXPECT_EQ(dialog->TabOrder().at(1), &dialog->txtComments);
}

TEST_F(ChangeDutyStationDialogTest, PassParametersFillsTheDialogAndChecksTheStationAtOnce) {
  // The document's side checks the fields shown.
  Pass(Citation());
  EXPECT_EQ(dialog->OldTroop() + "/" + dialog->OldDistrict() + "/" + dialog->FormTypeCode(),
            "C/4/C");
  // Quarter and year rows show each only with a value.
  for (int index : {8, 9, 10, 11}) EXPECT_FALSE(dialog->lblForm(index).Visible()) << index;
  EXPECT_FALSE(dialog->txtTroopDistrict.ErrorMark());

  Pass({"1", "500", "F10", "F", "10", "Y", "", "3", "2025"});
  for (int index : {8, 9, 10, 11}) EXPECT_TRUE(dialog->lblForm(index).Visible()) << index;
  EXPECT_EQ(dialog->lblForm(9).Caption(), "3");
  EXPECT_EQ(dialog->lblForm(8).Caption(), "2025");
  Pass({"1", "500", "F10", "F", "10", "Y", "", "", "2025"});
  EXPECT_FALSE(dialog->lblForm(10).Visible() || dialog->lblForm(9).Visible());
  EXPECT_TRUE(dialog->lblForm(11).Visible());

  Pass(Citation("Q", "9"));  // no troop Q in the region
  EXPECT_TRUE(dialog->txtTroopDistrict.ErrorMark());
  Pass(Citation("D", "12"));
  EXPECT_FALSE(dialog->txtTroopDistrict.ErrorMark());
}

TEST_F(ChangeDutyStationDialogTest, ParameterTextWithoutNineFieldsIsReportedAndFillsNothing) {
  std::string parameters = "1100001~1100100~C4";
  dialog->PassParameters(parameters);
  EXPECT_THAT(ReportSources(), ElementsAre("TARVO_ChangeDutyStation.PassParameters"));
  EXPECT_THAT(errors->Reports().front().description, HasSubstr("has 3 fields"));
  EXPECT_EQ(dialog->lblForm(4).Caption(), "");
  EXPECT_EQ(dialog->txtTroopDistrict.Text(), "");
}

TEST_F(ChangeDutyStationDialogTest, TypedLettersBecomeCapitalsAndRefusedKeysBeep) {
  Pass(Citation());
  Type("b2");
  EXPECT_EQ(dialog->txtTroopDistrict.Text(), "B2");
  EXPECT_EQ(ui->beeps, 0);
  dialog->txtTroopDistrict.TypeKey('-');
  EXPECT_EQ(dialog->txtTroopDistrict.Text(), "B2");
  EXPECT_EQ(ui->beeps, 1);
  dialog->txtTroopDistrict.TypeKey(8);  // backspace is allowed
  EXPECT_EQ(dialog->txtTroopDistrict.Text(), "B");
}

TEST_F(ChangeDutyStationDialogTest, CheckEditGivesOneMessageAndMarksTheEntry) {
  const char* const kValid = "Please enter a valid Troop and District.\r\n";
  const char* const kSame = "Troop/District has not changed.\r\n";
  struct Case {
    const char* oldTroop;
    const char* typed;  // nullptr: the station passed in stays
    const char* message;
  } const cases[] = {
      {"C", "", "Troop and District is required.\r\n"},
      {"C", nullptr, kSame},
      {"C", "c4", kSame},  // typed in any case, the key filter makes it "C4"
      {"c", "C4", ""},     // the comparison with a lower-case station is case-sensitive
      {"C", "C9", kValid},
      {"C", "Q", kValid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.oldTroop) + "4, typed " + (c.typed ? c.typed : "nothing"));
    Pass(Citation(c.oldTroop, "4"));
    if (c.typed) Type(c.typed);
    dialog->CheckEdit();
    EXPECT_EQ(dialog->ErrorText(), c.message);
    const bool marked = *c.message != '\0' && c.message != kSame;
    if (marked) {
      EXPECT_TRUE(dialog->txtTroopDistrict.ErrorMark());
    }
  }
}

TEST_F(ChangeDutyStationDialogTest, RefusedSaveShowsTheMessageAndKeepsTheEntry) {
  Pass(Citation());
  dialog->Show();
  Type("C9");
  dialog->cmdButton(0).PerformClick();
  ExpectOneMessage("Please enter a valid Troop and District.\r\n");
  EXPECT_TRUE(dialog->Visible());
  EXPECT_EQ(dialog->txtTroopDistrict.Text(), "C9");
  EXPECT_EQ(dialog->txtComments.Text(), "");  // not stamped
  EXPECT_EQ(dialog->Recordset(), nullptr);
}

// The saved row carries the station as typed (one character: an empty district), the
// quarter and year of a quarterly range, and the comment stamped, empty or full.
TEST_F(ChangeDutyStationDialogTest, SaveBuildsTheChangeRowAndHides) {
  const std::string stamp = CommentStamp(StampMoment());
  const std::string full(254, 'x');
  struct Case {
    std::vector<std::string> fields;
    const char* typed;
    ChangeRow row;
  } const cases[] = {
      {Citation("C", "4", "moved with the car"),
       "b2",
       {"UPD", "1100001", "1100100", "B", "2", "C", "0", "", "moved with the car" + stamp}},
      {{"1", "500", "F10", "F", "10", "Y", "", "3", "2025"},
       "F11",
       {"UPD", "1", "500", "F", "11", "Y", "0", "", stamp, "3", "2025"}},
      {Citation("C", "4", full),
       "d",
       {"UPD", "1100001", "1100100", "D", "", "C", "0", "", full + stamp}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    Pass(c.fields);
    dialog->Show();
    Type(c.typed);
    dialog->cmdButton(0).PerformClick();
    EXPECT_FALSE(dialog->Visible());
    EXPECT_THAT(ReadChangeRows(Saved()), ElementsAre(c.row));
    // The box shows what was saved.
    EXPECT_EQ(dialog->txtComments.Text(), c.row.comment.value_or(""));
  }
  EXPECT_TRUE(ui->messages.empty());
}

TEST_F(ChangeDutyStationDialogTest, CloseLeavesNoChangeRowEvenAfterASave) {
  Pass(Citation());
  Type("B2");
  dialog->cmdButton(0).PerformClick();
  ASSERT_NE(dialog->Recordset(), nullptr);
  dialog->Show();
  EXPECT_TRUE(dialog->PressCancelButton());  // Escape presses Close
  EXPECT_EQ(dialog->Recordset(), nullptr);
  EXPECT_FALSE(dialog->Visible());
}

// ------------------------------------------------------------------ the document's command

class ChangeTroopDistrictCommandTest : public DutyStationFixture {
 protected:
  DataGrid& Forms() { return Doc().grdFormsAssignment; }

  // Drives the dialog the next modal show opens.
  void WhenDialogOpens(std::function<void(frmChangeDutyStation&)> script) {
    WhenModal<frmChangeDutyStation>([script = std::move(script)](frmChangeDutyStation& dialog) {
      ASSERT_TRUE(dialog.Visible());
      script(dialog);
    });
  }

  // The change rows of the last request.
  std::vector<ChangeRow> Sent() {
    return ReadChangeRows(*messages->LastSent().dataSets.at("TROOPFORM"));
  }

  static void MoveTo(frmChangeDutyStation& dialog, const std::string& troopDistrict) {
    dialog.txtTroopDistrict.SetText("");
    dialog.txtTroopDistrict.TypeText(troopDistrict);
    dialog.cmdButton(0).PerformClick();
  }
};

TEST_F(ChangeTroopDistrictCommandTest, WithoutRowsStopsSilentlyWithoutSelectionAsksForARange) {
  ShowRanges({});
  Doc().cmdButton(4).Click.Emit();
  EXPECT_TRUE(ui->messages.empty());

  Doc().ProcessCmdButtonSearchClick();
  ReplyWith({{"TROOPFORM", TroopForms({{"C", "4", "C", 1100001, 1100100}})}});
  Doc().cmdButton(4).Click.Emit();
  ExpectOneMessage("Select a range of forms before changing the Troop/District.");
  EXPECT_EQ(ui->modalShows, 0);
  EXPECT_TRUE(errors->Reports().empty());
  EXPECT_EQ(messages->Sent().size(), 2u) << "the searches only";
}

TEST_F(ChangeTroopDistrictCommandTest, SaveSendsTheChangeRowWithItsOrigin) {
  // A comment holding tildes reaches the dialog whole.
  const std::string comment = "boxes 3~5 damaged ~ see memo %7E 12";
  ShowRanges({{"C", "4", "C", 1100001, 1100100, Value(0)},
              {"C", "4", "C", 1100101, 1100200, Value(1002), "A", 0, Value(comment)}});
  ASSERT_TRUE(Forms().ClickRow(1));
  std::vector<std::string> shown;
  WhenDialogOpens([&](frmChangeDutyStation& dialog) {
    shown = {dialog.lblForm(4).Caption(), dialog.lblForm(5).Caption(), dialog.lblForm(6).Caption(),
             dialog.txtTroopDistrict.Text(), dialog.txtComments.Text()};
    MoveTo(dialog, "e3");
  });
  Doc().cmdButton(4).PerformClick();

  EXPECT_THAT(shown, ElementsAre("1100101", "1100200", "1002:SMITH, JR,JOHN,Q", "C4", comment));
  ASSERT_EQ(messages->Sent().size(), 2u);
  const auto& sent = messages->LastSent();
  EXPECT_EQ(Doc().Origin(), "ProcessCmdButtonChangeTroopDistrictClick");
  // The reply refreshes the station searched before.
  EXPECT_THAT(sent.criteria, ::testing::Contains(Criterion("key:TRP_ID", "C")));
  EXPECT_THAT(sent.criteria, ::testing::Contains(Criterion("key:TRP_DIST_ID", "4")));
  EXPECT_THAT(Sent(), ElementsAre(ChangeRow{"UPD", "1100101", "1100200", "E", "3", "C", "0", "",
                                            comment + CommentStamp(StampMoment())}));
  EXPECT_TRUE(errors->Reports().empty());
}

TEST_F(ChangeTroopDistrictCommandTest, QuarterAndYearTravelOnlyWithAQuarterlyRange) {
  const RangeRow other{"C", "4", "B", 501, 900, Value(0), "A", 0, Value(), Value(3), Value(2025)};
  ShowRanges({{"C", "4", "Y", 1, 500, Value(0), "A", 0, Value(), Value(3), Value(2025)}, other});
  for (const char* sent : {"3/2025", "/"}) {
    ASSERT_TRUE(Forms().ClickRow(0));
    WhenDialogOpens([](frmChangeDutyStation& dialog) { MoveTo(dialog, "A1"); });
    Doc().cmdButton(4).PerformClick();
    EXPECT_EQ(Sent().at(0).quarter + "/" + Sent().at(0).year, sent);
    // The grid comes back with the server's answer: the other range.
    ReplyWith({{"TROOPFORM", TroopForms({other})}});
  }
}

TEST_F(ChangeTroopDistrictCommandTest, CloseSendsNothing) {
  ShowRanges({{"C", "4", "C", 1100001, 1100100}});
  ASSERT_TRUE(Forms().ClickRow(0));
  WhenDialogOpens([](frmChangeDutyStation& dialog) { dialog.cmdButton(1).PerformClick(); });
  Doc().cmdButton(4).PerformClick();

  EXPECT_EQ(ui->modalShows, 1);
  EXPECT_EQ(messages->Sent().size(), 1u);  // only the search
  EXPECT_TRUE(frame->statusTexts.empty());
  EXPECT_TRUE(errors->Reports().empty());
}

TEST_F(ChangeTroopDistrictCommandTest, SelectedRowNeverShownNorCurrentIsStillTheOneMoved) {
  // The grid computes "Assigned To" when it loads a row for display: the command loads the
  // row if no view has asked for it yet. A cursor moved off every row leaves the selection
  // to say which range is meant.
  ShowRanges({{"C", "4", "C", 1100001, 1100100, Value(0)},
              {"C", "4", "C", 1100101, 1100200, Value(1001)}});
  Forms().SelectRow(Forms().BookmarkAt(1));
  Forms().Click.Emit();  // the selection enables the button
  ASSERT_FALSE(Forms().IsRowLoaded(Forms().BookmarkAt(1)));
  Recordset& rows = Doc().FormsAssignmentDataSet()->GetRecordset();
  rows.MoveLast();
  rows.MoveNext();
  ASSERT_FALSE(Forms().HasCurrentRow());
  std::vector<std::string> shown;
  WhenDialogOpens([&](frmChangeDutyStation& dialog) {
    shown = {dialog.lblForm(4).Caption(), dialog.lblForm(6).Caption()};
    dialog.cmdButton(1).PerformClick();
  });
  Doc().cmdButton(4).PerformClick();
  ASSERT_EQ(ui->modalShows, 1);
  EXPECT_THAT(shown, ElementsAre("1100101", "1001:HARTLEY,MARGARET,A"));
  EXPECT_TRUE(errors->Reports().empty());
}

}  // namespace
}  // namespace fm::testing
