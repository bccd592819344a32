#include "common/CommentStamp.h"
#include "common/ParameterText.h"
#include "controls/Frame.h"
#include "controls/Label.h"
#include "dutystation/DutyStationFixture.h"
#include "dutystation/frmChangeDutyStation.h"
#include "platform/DataSet.h"
#include "platform/PlatformError.h"

namespace fm::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::vector<std::string> Sources(const ErrorReporter& reporter) {
  std::vector<std::string> sources;
  for (const auto& report : reporter.Reports()) sources.push_back(report.source);
  return sources;
}

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
    return {"1100001",
            "1100100",
            "1002:SMITH, JR,JOHN,Q",
            std::move(troop),
            std::move(district),
            "C",
            std::move(comment),
            "",
            ""};
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

  Recordset& ChangeRow() {
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
  EXPECT_EQ(dialog->lblForm(0).Caption(), "From Range:");
  EXPECT_EQ(dialog->lblForm(1).Caption(), "To Range:");
  EXPECT_EQ(dialog->lblForm(2).Caption(), "Assigned To:");
  EXPECT_EQ(dialog->lblForm(3).Caption(), "Troop/District:");
  EXPECT_EQ(dialog->lblForm(7).Caption(), "Comments:");
  EXPECT_EQ(dialog->lblForm(10).Caption(), "Qtr Year:");
  EXPECT_EQ(dialog->lblForm(11).Caption(), "Year:");
  EXPECT_EQ(dialog->cmdButton(0).Caption(), "Save");
  EXPECT_EQ(dialog->cmdButton(1).Caption(), "Close");
  EXPECT_TRUE(dialog->cmdButton(1).IsCancel());
  EXPECT_EQ(dialog->txtTroopDistrict.MaxLength(), 3);
  EXPECT_EQ(dialog->txtComments.MaxLength(), 254);
  EXPECT_TRUE(dialog->txtComments.MultiLine());
  EXPECT_EQ(dialog->txtTroopDistrict.Parent(), &dialog->fraForm(0));
  EXPECT_EQ(dialog->lblForm(9).Parent(), &dialog->fraForm(0));
  // The entry first, then the comment.
  const auto tabOrder = dialog->TabOrder();
  ASSERT_GE(tabOrder.size(), 2u);
  EXPECT_EQ(tabOrder[0], &dialog->txtTroopDistrict);
  EXPECT_EQ(tabOrder[1], &dialog->txtComments);
  EXPECT_THROW(dialog->fraForm(1), PlatformError);
  EXPECT_EQ(dialog->Recordset(), nullptr);
}

TEST_F(ChangeDutyStationDialogTest, PassParametersFillsTheDialogAndHidesAbsentQuarterAndYear) {
  Pass(Citation("C", "4", "counted twice"));
  EXPECT_EQ(dialog->lblForm(4).Caption(), "1100001");
  EXPECT_EQ(dialog->lblForm(5).Caption(), "1100100");
  EXPECT_EQ(dialog->lblForm(6).Caption(), "1002:SMITH, JR,JOHN,Q");
  EXPECT_EQ(dialog->txtTroopDistrict.Text(), "C4");
  EXPECT_EQ(dialog->OldTroop(), "C");
  EXPECT_EQ(dialog->OldDistrict(), "4");
  EXPECT_EQ(dialog->FormTypeCode(), "C");
  EXPECT_EQ(dialog->txtComments.Text(), "counted twice");
  for (int index : {8, 9, 10, 11}) EXPECT_FALSE(dialog->lblForm(index).Visible()) << index;
}

TEST_F(ChangeDutyStationDialogTest, QuarterAndYearRowsShowEachOnlyWithAValue) {
  Pass({"1", "500", "F10", "F", "10", "Y", "", "3", "2025"});
  EXPECT_TRUE(dialog->lblForm(10).Visible());
  EXPECT_TRUE(dialog->lblForm(9).Visible());
  EXPECT_EQ(dialog->lblForm(9).Caption(), "3");
  EXPECT_TRUE(dialog->lblForm(11).Visible());
  EXPECT_EQ(dialog->lblForm(8).Caption(), "2025");

  Pass({"1", "500", "F10", "F", "10", "Y", "", "", "2025"});
  EXPECT_FALSE(dialog->lblForm(10).Visible());
  EXPECT_FALSE(dialog->lblForm(9).Visible());
  EXPECT_TRUE(dialog->lblForm(11).Visible());
}

TEST_F(ChangeDutyStationDialogTest, PassedTroopDistrictIsCheckedAtOnce) {
  Pass(Citation("Q", "9"));  // no troop Q in the region
  EXPECT_TRUE(dialog->txtTroopDistrict.ErrorMark());
  Pass(Citation("D", "12"));
  EXPECT_FALSE(dialog->txtTroopDistrict.ErrorMark());
}

TEST_F(ChangeDutyStationDialogTest, ParameterTextWithoutNineFieldsIsReportedAndFillsNothing) {
  std::string parameters = "1100001~1100100~C4";
  dialog->PassParameters(parameters);
  EXPECT_THAT(Sources(*errors), ElementsAre("TARVO_ChangeDutyStation.PassParameters"));
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

TEST_F(ChangeDutyStationDialogTest, EmptyEntryGivesOnlyTheRequiredMessage) {
  Pass(Citation());
  Type("");
  dialog->CheckEdit();
  EXPECT_EQ(dialog->ErrorText(), "Troop and District is required.\r\n");
  EXPECT_TRUE(dialog->txtTroopDistrict.ErrorMark());
}

TEST_F(ChangeDutyStationDialogTest, SameTroopDistrictHasNotChanged) {
  Pass(Citation("C", "4"));
  dialog->CheckEdit();
  EXPECT_EQ(dialog->ErrorText(), "Troop/District has not changed.\r\n");
  Type("c4");  // typed in any case, the key filter makes it "C4"
  dialog->CheckEdit();
  EXPECT_EQ(dialog->ErrorText(), "Troop/District has not changed.\r\n");
}

TEST_F(ChangeDutyStationDialogTest, ComparisonWithTheOldStationIsCaseSensitive) {
  // A range stored with a lower-case station is a change when the capitals are entered.
  Pass(Citation("c", "4"));
  Type("C4");
  dialog->CheckEdit();
  EXPECT_EQ(dialog->ErrorText(), "");
}

TEST_F(ChangeDutyStationDialogTest, UnknownStationAsksForAValidOne) {
  Pass(Citation());
  Type("C9");
  dialog->CheckEdit();
  EXPECT_EQ(dialog->ErrorText(), "Please enter a valid Troop and District.\r\n");
  EXPECT_TRUE(dialog->txtTroopDistrict.ErrorMark());
  Type("Q");
  dialog->CheckEdit();
  EXPECT_EQ(dialog->ErrorText(), "Please enter a valid Troop and District.\r\n");
}

TEST_F(ChangeDutyStationDialogTest, RefusedSaveShowsTheMessageAndKeepsTheEntry) {
  Pass(Citation());
  dialog->Show();
  Type("C9");
  dialog->cmdButton(0).PerformClick();
  ASSERT_EQ(ui->messages.size(), 1u);
  EXPECT_EQ(ui->messages[0].text, "Please enter a valid Troop and District.\r\n");
  EXPECT_EQ(ui->messages[0].icon, MsgBoxIcon::Exclamation);
  EXPECT_EQ(ui->messages[0].buttons, MsgBoxButtons::Ok);
  EXPECT_EQ(ui->messages[0].title, "Forms Maintenance");
  EXPECT_TRUE(dialog->Visible());
  EXPECT_EQ(dialog->txtTroopDistrict.Text(), "C9");
  EXPECT_EQ(dialog->txtComments.Text(), "");  // not stamped
  EXPECT_EQ(dialog->Recordset(), nullptr);
}

TEST_F(ChangeDutyStationDialogTest, SaveBuildsTheChangeRowAndHides) {
  Pass(Citation("C", "4", "moved with the car"));
  dialog->Show();
  Type("b2");
  dialog->cmdButton(0).PerformClick();

  EXPECT_FALSE(dialog->Visible());
  EXPECT_TRUE(ui->messages.empty());
  Recordset& row = ChangeRow();
  ASSERT_EQ(row.RecordCount(), 1);
  row.MoveFirst();
  EXPECT_EQ(row.GetValue("ACTION"), Value("UPD"));
  EXPECT_EQ(row.GetValue("FRM_FORM_NBR"), Value(1100001));
  EXPECT_EQ(row.GetValue("TO_FORM_NBR"), Value(1100100));
  EXPECT_EQ(row.GetValue("FORM_TYP_CD"), Value("C"));
  EXPECT_EQ(row.GetValue("TRP_ID"), Value("B"));
  EXPECT_EQ(row.GetValue("TRP_DIST_ID"), Value("2"));
  EXPECT_EQ(row.GetValue("ASGND_REG_NBR"), Value(0));
  EXPECT_EQ(row.GetText("TRP_FORM_CMMT_TXT"), "moved with the car" + CommentStamp(StampMoment()));
  // Not a quarterly range, and the fields the change row does not name stay unset.
  for (const char* field :
       {"FORM_QTR_DT", "FORM_YR_DT", "TRP_ACTN_CD", "RMNG_FORM_CNT", "FORM_TYP_DESC"}) {
    EXPECT_TRUE(row.GetValue(field).IsNull()) << field;
  }
  // The box shows what was saved.
  EXPECT_EQ(dialog->txtComments.Text(), row.GetText("TRP_FORM_CMMT_TXT"));
}

TEST_F(ChangeDutyStationDialogTest, QuarterlyRangeKeepsItsQuarterAndYear) {
  Pass({"1", "500", "F10", "F", "10", "Y", "", "3", "2025"});
  Type("F11");
  dialog->cmdButton(0).PerformClick();
  Recordset& row = ChangeRow();
  row.MoveFirst();
  EXPECT_EQ(row.GetValue("FORM_QTR_DT"), Value(3));
  EXPECT_EQ(row.GetValue("FORM_YR_DT"), Value(2025));
  EXPECT_EQ(row.GetValue("TRP_DIST_ID"), Value("11"));
}

TEST_F(ChangeDutyStationDialogTest, OneCharacterTroopIsSavedWithAnEmptyDistrict) {
  Pass(Citation());
  Type("d");
  dialog->cmdButton(0).PerformClick();
  Recordset& row = ChangeRow();
  row.MoveFirst();
  EXPECT_EQ(row.GetValue("TRP_ID"), Value("D"));
  EXPECT_EQ(row.GetValue("TRP_DIST_ID"), Value(""));
}

TEST_F(ChangeDutyStationDialogTest, EmptyCommentIsSavedAsTwoBlanksAndTheStamp) {
  Pass(Citation());
  Type("B2");
  dialog->cmdButton(0).PerformClick();
  Recordset& row = ChangeRow();
  row.MoveFirst();
  const std::string comment = row.GetText("TRP_FORM_CMMT_TXT");
  EXPECT_EQ(comment, CommentStamp(StampMoment()));
  // The clerk's name and the moment of the save, in brackets after two blanks.
  EXPECT_THAT(comment, StartsWith("  (Margaret Hartley 05/12/2026 "));
  EXPECT_EQ(comment.back(), ')');
}

TEST_F(ChangeDutyStationDialogTest, FullLengthCommentIsStillStamped) {
  Pass(Citation());
  Type("B2");
  const std::string typed(254, 'x');
  dialog->txtComments.TypeText(typed + "y");  // the 255th character is refused
  ASSERT_EQ(dialog->txtComments.Text(), typed);
  dialog->cmdButton(0).PerformClick();
  Recordset& row = ChangeRow();
  row.MoveFirst();
  const std::string comment = row.GetText("TRP_FORM_CMMT_TXT");
  EXPECT_GT(comment.size(), 254u);
  EXPECT_EQ(comment, typed + CommentStamp(StampMoment()));
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
    ui->QueueModal([script = std::move(script)](UiElement& form) {
      auto* dialog = dynamic_cast<frmChangeDutyStation*>(&form);
      ASSERT_NE(dialog, nullptr) << "another form was shown: " << form.Name();
      ASSERT_TRUE(dialog->Visible());
      script(*dialog);
    });
  }

  static void MoveTo(frmChangeDutyStation& dialog, const std::string& troopDistrict) {
    dialog.txtTroopDistrict.SetText("");
    dialog.txtTroopDistrict.TypeText(troopDistrict);
    dialog.cmdButton(0).PerformClick();
  }
};

TEST_F(ChangeTroopDistrictCommandTest, WithoutRowsStopsSilently) {
  ShowRanges({});
  Doc().cmdButton(4).Click.Emit();
  EXPECT_TRUE(ui->messages.empty());
  EXPECT_EQ(ui->modalShows, 0);
  EXPECT_TRUE(errors->Reports().empty());
  EXPECT_EQ(messages->Sent().size(), 1u);
}

TEST_F(ChangeTroopDistrictCommandTest, WithoutSelectionAsksForARange) {
  ShowRanges({{"C", "4", "C", 1100001, 1100100}});
  Doc().cmdButton(4).Click.Emit();
  ASSERT_EQ(ui->messages.size(), 1u);
  EXPECT_EQ(ui->messages[0].text, "Select a range of forms before changing the Troop/District.");
  EXPECT_EQ(ui->messages[0].icon, MsgBoxIcon::Exclamation);
  EXPECT_EQ(ui->messages[0].buttons, MsgBoxButtons::Ok);
  EXPECT_EQ(ui->messages[0].title, "Forms Maintenance");
  EXPECT_EQ(ui->modalShows, 0);
  EXPECT_TRUE(errors->Reports().empty());
  EXPECT_EQ(messages->Sent().size(), 1u);
}

TEST_F(ChangeTroopDistrictCommandTest, SaveSendsTheChangeRowWithItsOrigin) {
  ShowRanges({{"C", "4", "C", 1100001, 1100100, Value(0)},
              {"C", "4", "C", 1100101, 1100200, Value(1002), Value("second box")}});
  ASSERT_TRUE(Forms().ClickRow(1));
  std::vector<std::string> shown;
  WhenDialogOpens([&](frmChangeDutyStation& dialog) {
    shown = {dialog.lblForm(4).Caption(), dialog.lblForm(5).Caption(), dialog.lblForm(6).Caption(),
             dialog.txtTroopDistrict.Text(), dialog.txtComments.Text()};
    MoveTo(dialog, "e3");
  });
  Doc().cmdButton(4).PerformClick();

  EXPECT_THAT(shown,
              ElementsAre("1100101", "1100200", "1002:SMITH, JR,JOHN,Q", "C4", "second box"));
  ASSERT_EQ(messages->Sent().size(), 2u);
  const auto& sent = messages->LastSent();
  EXPECT_EQ(sent.messageType, 34);
  EXPECT_EQ(Doc().Origin(), "ProcessCmdButtonChangeTroopDistrictClick");
  EXPECT_EQ(frame->LastStatus(), "Saving Forms");
  // The reply refreshes the station searched before.
  EXPECT_THAT(sent.criteria, ::testing::Contains(Criterion("key:TRP_ID", "C")));
  EXPECT_THAT(sent.criteria, ::testing::Contains(Criterion("key:TRP_DIST_ID", "4")));
  ASSERT_EQ(sent.dataSets.count("TROOPFORM"), 1u);
  Recordset& rows = *sent.dataSets.at("TROOPFORM");
  ASSERT_EQ(rows.RecordCount(), 1);
  rows.MoveFirst();
  EXPECT_EQ(rows.GetText("ACTION"), "UPD");
  EXPECT_EQ(rows.GetText("FRM_FORM_NBR"), "1100101");
  EXPECT_EQ(rows.GetText("TO_FORM_NBR"), "1100200");
  EXPECT_EQ(rows.GetText("TRP_ID"), "E");
  EXPECT_EQ(rows.GetText("TRP_DIST_ID"), "3");
  EXPECT_EQ(rows.GetText("ASGND_REG_NBR"), "0");
  EXPECT_EQ(rows.GetText("TRP_FORM_CMMT_TXT"), "second box" + CommentStamp(StampMoment()));
  EXPECT_TRUE(errors->Reports().empty());
  EXPECT_EQ(Services::Ui().GetMousePointer(), MousePointer::Default);
}

TEST_F(ChangeTroopDistrictCommandTest, CommentHoldingTildesReachesTheDialogWhole) {
  const std::string comment = "boxes 3~5 damaged ~ see memo %7E 12";
  ShowRanges({{"C", "4", "C", 1100001, 1100100, Value(0), Value(comment)}});
  ASSERT_TRUE(Forms().ClickRow(0));
  std::string shownComment;
  std::string shownTo;
  std::string shownStation;
  WhenDialogOpens([&](frmChangeDutyStation& dialog) {
    shownComment = dialog.txtComments.Text();
    shownTo = dialog.lblForm(5).Caption();
    shownStation = dialog.txtTroopDistrict.Text();
    MoveTo(dialog, "B1");
  });
  Doc().cmdButton(4).PerformClick();

  EXPECT_EQ(shownComment, comment);
  EXPECT_EQ(shownTo, "1100100");
  EXPECT_EQ(shownStation, "C4");
  EXPECT_TRUE(errors->Reports().empty());
  Recordset& rows = *messages->LastSent().dataSets.at("TROOPFORM");
  rows.MoveFirst();
  EXPECT_EQ(rows.GetText("TRP_FORM_CMMT_TXT"), comment + CommentStamp(StampMoment()));
}

TEST_F(ChangeTroopDistrictCommandTest, QuarterAndYearTravelOnlyWithAQuarterlyRange) {
  ShowRanges({{"C", "4", "Y", 1, 500, Value(0), Value(), Value(3), Value(2025)},
              {"C", "4", "B", 501, 900, Value(0), Value(), Value(3), Value(2025)}});
  std::vector<bool> quarterShown;
  const auto openAndClose = [&](frmChangeDutyStation& dialog) {
    quarterShown.push_back(dialog.lblForm(9).Visible() && dialog.lblForm(9).Caption() == "3" &&
                           dialog.lblForm(8).Visible() && dialog.lblForm(8).Caption() == "2025");
    MoveTo(dialog, "A1");
  };
  ASSERT_TRUE(Forms().ClickRow(0));
  WhenDialogOpens(openAndClose);
  Doc().cmdButton(4).PerformClick();
  Recordset& quarterly = *messages->LastSent().dataSets.at("TROOPFORM");
  quarterly.MoveFirst();
  EXPECT_EQ(quarterly.GetText("FORM_QTR_DT"), "3");
  EXPECT_EQ(quarterly.GetText("FORM_YR_DT"), "2025");
  // The grid comes back with the server's answer.
  ReplyWith({{"TROOPFORM",
              RangeLines({{"C", "4", "B", 501, 900, Value(0), Value(), Value(3), Value(2025)}})}});

  ASSERT_TRUE(Forms().ClickRow(0));
  WhenDialogOpens(openAndClose);
  Doc().cmdButton(4).PerformClick();
  Recordset& other = *messages->LastSent().dataSets.at("TROOPFORM");
  other.MoveFirst();
  EXPECT_TRUE(other.GetValue("FORM_QTR_DT").IsNull());
  EXPECT_TRUE(other.GetValue("FORM_YR_DT").IsNull());

  EXPECT_THAT(quarterShown, ElementsAre(true, false));
}

TEST_F(ChangeTroopDistrictCommandTest, CloseSendsNothing) {
  ShowRanges({{"C", "4", "C", 1100001, 1100100}});
  ASSERT_TRUE(Forms().ClickRow(0));
  WhenDialogOpens([](frmChangeDutyStation& dialog) {
    // A refused entry first, then the clerk gives up.
    dialog.txtTroopDistrict.SetText("C4");
    dialog.cmdButton(0).PerformClick();
    dialog.cmdButton(1).PerformClick();
  });
  Doc().cmdButton(4).PerformClick();

  EXPECT_EQ(ui->modalShows, 1);
  ASSERT_EQ(ui->messages.size(), 1u);
  EXPECT_EQ(ui->messages[0].text, "Troop/District has not changed.\r\n");
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
