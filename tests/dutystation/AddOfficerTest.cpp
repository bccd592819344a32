#include "controls/DataGridColumn.h"
#include "dutystation/DutyStationFixture.h"
#include "dutystation/frmAddOfficer.h"
#include "platform/DataSet.h"

namespace fm::testing {
namespace {

using ::testing::ElementsAre;

std::shared_ptr<DataSet> OfficerList(const std::vector<OfficerRow>& officers) {
  return DataSet::Wrap(Officers(officers));
}

// ------------------------------------------------------------------ the dialog alone

class AddOfficerDialogTest : public DocumentFixture {
 protected:
  void SetUp() override {
    DocumentFixture::SetUp();
    dialog = std::make_unique<frmAddOfficer>();
    dialog->SendOK.Connect([this](std::shared_ptr<DataSet> added) { sentOk.push_back(added); });
    dialog->SendCancel.Connect([this] { ++cancels; });
  }

  void Open(std::shared_ptr<DataSet> officerList = nullptr) {
    dialog->LoadForm();
    dialog->SetOfficerList(std::move(officerList));
  }

  long AddedCount() { return dialog->AddedOfficers()->RecordCount(); }
  std::string Cell(long row, const char* key) {
    dialog->grdAddOfficers.LoadRows(0, 100);
    return dialog->grdAddOfficers.CellTextAt(row, key);
  }

  std::unique_ptr<frmAddOfficer> dialog;
  std::vector<std::shared_ptr<DataSet>> sentOk;
  int cancels = 0;
};

TEST_F(AddOfficerDialogTest, HoldsEveryControlAndLoadsAnEmptyListAndThePicker) {
  EXPECT_EQ(dialog->Caption(), "Select Troopers to be Added");
  EXPECT_EQ(dialog->grdAddOfficers.Caption(), "Added Troopers");
  EXPECT_EQ(dialog->cmdClear.Caption(), "Clear Added Troopers");
  EXPECT_EQ(dialog->cmdOK.Caption(), "OK");
  EXPECT_EQ(dialog->cmdCancel.Caption(), "Cancel");
  std::vector<std::string> columns;
  for (int i = 0; i < dialog->grdAddOfficers.ColumnCount(); ++i) {
    const auto& column = dialog->grdAddOfficers.Column(i);
    columns.push_back(column.Caption() + "/" + column.Key());
  }
  EXPECT_THAT(
      columns,
      ElementsAre("Registry#/INSP_ID", "INSP_NME_LST/INSP_NME_LST", "INSP_NME_FRST/INSP_NME_FRST",
                  "INSP_NME_MDL_INT/INSP_NME_MDL_INT", "Name/Propername", "ACTION/ACTION"));

  dialog->grdAddOfficers.SetErrorMark(true);
  Open();
  ASSERT_NE(dialog->AddedOfficers(), nullptr);
  EXPECT_EQ(AddedCount(), 0);
  EXPECT_FALSE(dialog->grdAddOfficers.ErrorMark());
  EXPECT_GT(dialog->qmOfficerSelect.TotalOfficerCount(), 100);
}

TEST_F(AddOfficerDialogTest, EachActivationStartsThePickerAgain) {
  Open();
  dialog->Show();
  dialog->qmOfficerSelect.SetFilterText("hartley");
  ASSERT_LT(dialog->qmOfficerSelect.OfficerCount(), 5);
  dialog->DeactivateByUser();
  dialog->ActivateByUser();
  EXPECT_EQ(dialog->qmOfficerSelect.FilterText(), "");
  EXPECT_GT(dialog->qmOfficerSelect.OfficerCount(), 100);
}

TEST_F(AddOfficerDialogTest, PickAddsTheOfficerOnceAndBeepsAtOneAlreadyAddedOrListed) {
  auto officerList =
      OfficerList({{1001, "Hartley", "Margaret", "A"}, {1003, "Brown,SR", "Robert", Value()}});
  officerList->GetRecordset().MoveLast();
  Open(officerList);
  Pick(dialog->qmOfficerSelect, "1002");
  Pick(dialog->qmOfficerSelect, "1005");
  ASSERT_EQ(AddedCount(), 2);
  EXPECT_EQ(Cell(0, "INSP_ID"), "1002");
  EXPECT_EQ(Cell(0, "Propername"), "SMITH, JR, JOHN Q.");
  EXPECT_EQ(Cell(1, "Propername"), "DOE, A.");
  EXPECT_EQ(Cell(1, "ACTION"), "");
  EXPECT_EQ(ui->beeps, 0);

  dialog->grdAddOfficers.SetCurrentRowIndex(1);
  Pick(dialog->qmOfficerSelect, "1002");  // added already
  Pick(dialog->qmOfficerSelect, "1001");  // listed already
  EXPECT_EQ(AddedCount(), 2);
  EXPECT_EQ(ui->beeps, 2);
  // Searching the lists moves neither grid's current row.
  EXPECT_EQ(officerList->GetRecordset().AbsolutePosition(), 2);
  EXPECT_EQ(dialog->grdAddOfficers.CurrentRowIndex(), 1);
  EXPECT_TRUE(errors->Reports().empty());
}

TEST_F(AddOfficerDialogTest, ClearRemovesTheCurrentRowOfASelectionOrElseEveryRow) {
  Open();
  for (const char* registry : {"1002", "1004", "1005"}) Pick(dialog->qmOfficerSelect, registry);
  DataGrid& grid = dialog->grdAddOfficers;
  ASSERT_TRUE(grid.ClickRow(0));
  ASSERT_TRUE(grid.ClickRow(2, DataGrid::ClickModifier::Ctrl));
  ASSERT_EQ(grid.SelectedCount(), 2);
  dialog->cmdClear.PerformClick();
  ASSERT_EQ(AddedCount(), 2);
  EXPECT_EQ(Cell(0, "INSP_ID"), "1002");
  EXPECT_EQ(Cell(1, "INSP_ID"), "1004");
  EXPECT_EQ(grid.SelectedCount(), 0);

  dialog->cmdClear.PerformClick();  // no selection: every row
  EXPECT_EQ(AddedCount(), 0);
  EXPECT_EQ(grid.RowCount(), 0);
  dialog->cmdClear.PerformClick();  // nothing left: nothing happens
  EXPECT_TRUE(errors->Reports().empty());
}

TEST_F(AddOfficerDialogTest, OkSendsTheAddedTroopersCancelUnloadsReleasingTheLists) {
  Open();
  dialog->Show();
  Pick(dialog->qmOfficerSelect, "1004");
  dialog->cmdOK.PerformClick();
  ASSERT_EQ(sentOk.size(), 1u);
  EXPECT_EQ(sentOk[0], dialog->AddedOfficers());
  EXPECT_EQ(sentOk[0]->RecordCount(), 1);
  EXPECT_FALSE(dialog->Visible());
  EXPECT_TRUE(dialog->IsLoaded());

  dialog->Show();
  dialog->cmdCancel.PerformClick();
  EXPECT_EQ(cancels, 1);
  EXPECT_EQ(sentOk.size(), 1u);
  EXPECT_FALSE(dialog->IsLoaded());
  EXPECT_EQ(dialog->AddedOfficers(), nullptr);
  EXPECT_EQ(dialog->grdAddOfficers.RecordsetPtr(), nullptr);
}

// ------------------------------------------------------------------ the document's side

class AddTroopersCommandTest : public DutyStationFixture {
 protected:
  DataGrid& OfficerGrid() { return Doc().grdOfficerList; }

  // Picks these officers in the dialog the next modal show opens, then presses `button`.
  void WhenDialogOpens(std::vector<std::string> registries, bool ok = true) {
    WhenModal<frmAddOfficer>([this, registries = std::move(registries), ok](frmAddOfficer& dialog) {
      EXPECT_TRUE(dialog.Visible());
      addedAtOpen.push_back(dialog.AddedOfficers()->RecordCount());
      for (const auto& registry : registries) Pick(dialog.qmOfficerSelect, registry);
      (ok ? dialog.cmdOK : dialog.cmdCancel).PerformClick();
    });
  }

  std::vector<long> addedAtOpen;
};

TEST_F(AddTroopersCommandTest, PickedTroopersJoinTheListMarkedTempAndSortedByLastName) {
  ShowRanges({{"C", "4", "C", 1100001, 1100100}},
             {{1006, "Smith", "J", "Marie"}, {1004, "Lee", "J", Value()}});
  OfficerGrid().SetCurrentRowIndex(1);
  WhenDialogOpens({"1003", "1004", "1001", "1003"});  // 1004 is listed, 1003 picked twice
  Doc().cmdButton(5).PerformClick();

  EXPECT_EQ(ui->modalShows, 1);
  EXPECT_EQ(ui->beeps, 2);
  Recordset& officers = Doc().OfficerListDataSet()->GetRecordset();
  EXPECT_THAT(LastNames(officers), ElementsAre("Brown,SR", "Hartley", "Lee", "Smith"));
  EXPECT_EQ(OfficerGrid().RowCount(), 4);
  EXPECT_EQ(OfficerGrid().CurrentRowIndex(), 0);
  OfficerGrid().LoadRows(0, 10);
  EXPECT_EQ(OfficerGrid().CellTextAt(0, "NAME"), "BROWN, SR, ROBERT");
  EXPECT_EQ(OfficerGrid().CellTextAt(0, "ACTION"), "TEMP");
  EXPECT_EQ(OfficerGrid().CellTextAt(1, "INSP_ID"), "1001");
  EXPECT_EQ(OfficerGrid().CellTextAt(1, "ACTION"), "TEMP");
  EXPECT_EQ(OfficerGrid().CellTextAt(1, "INSP_NME_MDL_INT"), "A");
  EXPECT_EQ(OfficerGrid().CellTextAt(2, "ACTION"), "");  // from the reply
  // Nothing goes to the server.
  EXPECT_EQ(messages->Sent().size(), 1u);
  EXPECT_TRUE(errors->Reports().empty());

  // Every click opens a new dialog, and a trooper added before is now listed.
  WhenDialogOpens({"1001"});
  Doc().cmdButton(5).PerformClick();
  EXPECT_THAT(addedAtOpen, ElementsAre(0, 0));
  EXPECT_EQ(ui->beeps, 3);
}

TEST_F(AddTroopersCommandTest, OkWithoutPicksOrCancelLeavesTheListAsItWas) {
  ShowRanges({}, {{1006, "Smith", "J", "Marie"}, {1004, "Lee", "J", Value()}});
  auto before = Doc().OfficerListDataSet();
  OfficerGrid().SetCurrentRowIndex(1);
  WhenDialogOpens({});
  Doc().cmdButton(5).PerformClick();
  WhenDialogOpens({"1001", "1002"}, false);
  Doc().cmdButton(5).PerformClick();

  EXPECT_EQ(ui->modalShows, 2);
  EXPECT_EQ(Doc().OfficerListDataSet(), before);
  EXPECT_THAT(LastNames(before->GetRecordset()), ElementsAre("Smith", "Lee"));  // not even sorted
  EXPECT_EQ(OfficerGrid().CurrentRowIndex(), 1);
}

TEST_F(AddTroopersCommandTest, TakeOverSkipsTroopersAlreadyListedAndReportsAFailure) {
  ShowRanges({}, {{1004, "Lee", "J", Value()}});
  auto received =
      DataSet::Wrap(Officers({{1004, "Lee", "J", Value()}, {1005, "Doe", Value(), "A"}}));
  Doc().mEventAddOfficer_SendOK(received);
  Recordset& officers = Doc().OfficerListDataSet()->GetRecordset();
  EXPECT_THAT(LastNames(officers), ElementsAre("Doe", "Lee"));
  ASSERT_TRUE(officers.Find("INSP_ID = 1005", 0, SearchDirection::Forward, officers.BookmarkAt(0)));
  EXPECT_EQ(officers.GetText("INSP_NME_FRST"), "");  // absent: the empty text
  EXPECT_FALSE(officers.GetValue("INSP_NME_FRST").IsNull());
  EXPECT_EQ(officers.GetText("ACTION"), "TEMP");
  EXPECT_TRUE(errors->Reports().empty());

  // A row without a registry number cannot be looked up: reported, the rows before it stay.
  auto failing = Officers({{1006, "Roe", Value(), "B"}});
  failing->AddNew();
  failing->SetValue("INSP_NME_LST", "Nobody");
  failing->Update();
  Doc().mEventAddOfficer_SendOK(DataSet::Wrap(failing));
  EXPECT_THAT(ReportSources(), ElementsAre("TARVO_FormsMaint.mEventAddOfficer_SendOK"));
  EXPECT_EQ(Doc().OfficerListDataSet()->RecordCount(), 3);
}

TEST_F(AddTroopersCommandTest, TakeOverWithoutAnOfficerListMakesOne) {
  // A document not shown yet has no officer list.
  TARVO_FormsMaint fresh;
  ASSERT_EQ(fresh.OfficerListDataSet(), nullptr);
  fresh.mEventAddOfficer_SendOK(DataSet::Wrap(Officers({{1002, "Smith,jr", "John", "Q"}})));
  ASSERT_NE(fresh.OfficerListDataSet(), nullptr);
  EXPECT_EQ(fresh.OfficerListDataSet()->RecordCount(), 1);
  EXPECT_EQ(fresh.grdOfficerList.RowCount(), 1);
  fresh.mEventAddOfficer_SendOK(nullptr);  // nothing received: nothing happens
  fresh.mEventAddOfficer_SendOK(DataSet::Wrap(Officers({})));
  EXPECT_EQ(fresh.OfficerListDataSet()->RecordCount(), 1);
  EXPECT_TRUE(errors->Reports().empty());
}

}  // namespace
}  // namespace fm::testing
