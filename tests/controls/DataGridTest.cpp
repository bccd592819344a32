#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "RangeGridFixture.h"
#include "controls/DataControl.h"
#include "controls/DataGrid.h"
#include "controls/Form.h"
#include "platform/PlatformError.h"
#include "platform/Recordset.h"

namespace fm {
namespace {

using Bookmark = DataGrid::Bookmark;
using Modifier = DataGrid::ClickModifier;
using testing::MakeRanges;
using DataGridTest = testing::RangeGridTest;

// ---------------------------------------------------------------- row loading

TEST_F(DataGridTest, RowLoadedOncePerLoadedRowNotPerCellReadNorForRowsNeverLoaded) {
  ado.SetRecordset(MakeRanges(100));
  grid.LoadRows(0, 40);
  for (int pass = 0; pass < 3; ++pass) {
    for (long row = 0; row < 40; ++row) {
      for (int column = 0; column < grid.ColumnCount(); ++column) grid.CellTextAt(row, column);
    }
  }
  grid.LoadRows(10, 20);  // already loaded
  EXPECT_EQ(loads.size(), 40U);
  EXPECT_EQ(TotalLoads(), 40);
  EXPECT_FALSE(grid.IsRowLoaded(grid.BookmarkAt(40)));
  EXPECT_EQ(grid.LoadedRowCount(), 40);
  // A row never loaded reads its bound cells, and its computed ones empty; reading it
  // does not load it.
  EXPECT_EQ(grid.CellTextAt(99, "FRM_FORM_NBR"), "10000");
  EXPECT_EQ(grid.CellTextAt(99, "TroopDistrict"), "");
  EXPECT_EQ(TotalLoads(), 40);
}

TEST_F(DataGridTest, RowsAreLoadedInOrderOnceEvenWhenAHandlerLoadsRowsItself) {
  ado.SetRecordset(MakeRanges(5));
  std::vector<long> order;
  grid.RowLoaded.Connect([&](Bookmark row) { order.push_back(grid.IndexOf(row)); });
  grid.LoadRows(3, 40);  // past the end: ignored
  grid.RowLoaded.Connect([this](Bookmark) { grid.LoadRows(0, 3); });
  grid.LoadRows(0, 1);
  EXPECT_EQ(order, (std::vector<long>{3, 4, 0, 1, 2}));
  EXPECT_EQ(TotalLoads(), 5);
  for (const auto& [row, count] : loads) EXPECT_EQ(count, 1);
  EXPECT_THROW(grid.LoadRows(-1, 3), PlatformError);
}

TEST_F(DataGridTest, RefreshForgetsLoadedRowsAndComputedCellsButWaitsForRedraw) {
  ado.SetRecordset(MakeRanges(4));
  grid.LoadRows(0, 4);
  const Bookmark first = grid.BookmarkAt(0);
  grid.SetCell(first, "TRP_FORM_CMMT_TXT", "shown instead");
  EXPECT_EQ(grid.CellText(first, "TRP_FORM_CMMT_TXT"), "shown instead");
  const auto version = grid.DataVersion();
  grid.Refresh();
  EXPECT_GT(grid.DataVersion(), version);
  EXPECT_EQ(grid.LoadedRowCount(), 0);
  EXPECT_EQ(grid.CellText(first, "TRP_FORM_CMMT_TXT"), "note 0");
  EXPECT_EQ(grid.CellText(first, "TroopDistrict"), "");
  grid.LoadRows(0, 4);
  grid.LoadRows(0, 4);
  EXPECT_EQ(TotalLoads(), 8);
  for (const auto& [row, count] : loads) EXPECT_EQ(count, 2) << "row " << row;

  grid.SetRedraw(false);
  grid.Refresh();
  EXPECT_EQ(grid.LoadedRowCount(), 4);  // deferred
  EXPECT_EQ(grid.CellTextAt(0, "TroopDistrict"), "A1");
  grid.SetRedraw(true);
  EXPECT_EQ(grid.LoadedRowCount(), 0);
  grid.LoadRows(0, 4);
  EXPECT_EQ(TotalLoads(), 12);
  // Redraw on without a refresh waiting does not forget anything.
  grid.SetRedraw(false);
  grid.SetRedraw(true);
  EXPECT_EQ(grid.LoadedRowCount(), 4);
}

// ---------------------------------------------------------------- cells

TEST_F(DataGridTest, CellsReadTheBoundFieldOrTheComputedValue) {
  grid.AddColumn("Remaining Forms", "RMNG_FORM_CNT", "RMNG_FORM_CNT");
  ado.SetRecordset(MakeRanges(2));
  grid.LoadRows(0, 2);
  EXPECT_EQ(grid.CellTextAt(0, "TroopDistrict"), "A1");
  EXPECT_EQ(grid.CellTextAt(1, "troopdistrict"), "B2");
  EXPECT_EQ(grid.CellTextAt(0, "FRM_FORM_NBR"), "100");
  EXPECT_EQ(grid.CellTextAt(1, "TRP_FORM_CMMT_TXT"), "");  // null reads empty
  // A column of a field the record set lacks reads empty.
  EXPECT_EQ(grid.CellTextAt(0, "RMNG_FORM_CNT"), "");
  EXPECT_EQ(grid.Column("RMNG_FORM_CNT").FieldIndex(), -1);
  // A value set for a bound column shows instead of the field, which keeps its value.
  const Bookmark row = grid.BookmarkAt(0);
  grid.SetCell(row, "TRP_ID", "Troop A");
  EXPECT_EQ(grid.CellText(row, "TRP_ID"), "Troop A");
  EXPECT_EQ(grid.BoundText(row, "TRP_ID"), "A");
  EXPECT_EQ(grid.RecordsetPtr()->GetText("TRP_ID"), "A");
  // Another data field is read at once; none reads empty.
  auto& column = grid.Column("TRP_DIST_ID");
  column.SetDataField("FRM_FORM_NBR");
  EXPECT_EQ(grid.CellTextAt(1, "TRP_DIST_ID"), "200");
  column.SetDataField("");
  EXPECT_EQ(grid.CellTextAt(1, "TRP_DIST_ID"), "");
  // Unknown columns and rows are clear errors.
  EXPECT_THROW(grid.SetCell(grid.BookmarkAt(0), "NoSuchKey", "x"), PlatformError);
  EXPECT_THROW(grid.SetCell(987654, "TroopDistrict", "x"), PlatformError);
  EXPECT_THROW(grid.CellTextAt(2, "TroopDistrict"), PlatformError);
}

TEST_F(DataGridTest, ColumnKeysIgnoreCaseAndTheFirstOfTwoEqualKeysWins) {
  auto& first = grid.Column("trp_form_cmmt_txt");
  auto& twin = grid.AddColumn("Comment again", "TRP_FORM_CMMT_TXT", "TRP_ID");
  EXPECT_EQ(&grid.Column("TRP_FORM_CMMT_TXT"), &first);
  EXPECT_NE(&twin, &first);
  EXPECT_EQ(grid.FindColumnByCaption("Comment"), &first);
  EXPECT_EQ(grid.FindColumn("nope"), nullptr);
  try {
    grid.Column("NOPE");
    FAIL() << "no error";
  } catch (const PlatformError& e) {
    EXPECT_NE(e.Description().find("grdFormsAssignment"), std::string::npos);
    EXPECT_NE(e.Description().find("NOPE"), std::string::npos);
  }
}

TEST_F(DataGridTest, ColumnTextAddressesTheLoadingRowInsideRowLoadedElseTheCurrentRow) {
  std::vector<std::string> seen;
  grid.RowLoaded.Connect([&](Bookmark) {
    seen.push_back(grid.Column("FRM_FORM_NBR").Text());
    grid.Column("TRP_FORM_CMMT_TXT").SetText("loaded");
  });
  ado.SetRecordset(MakeRanges(3));
  grid.LoadRows(1, 2);
  EXPECT_EQ(seen, (std::vector<std::string>{"200", "300"}));
  EXPECT_EQ(grid.CellTextAt(0, "TRP_FORM_CMMT_TXT"), "note 0");
  EXPECT_EQ(grid.CellTextAt(1, "TRP_FORM_CMMT_TXT"), "loaded");
  grid.SetCurrentRowIndex(2);
  EXPECT_EQ(grid.Column("FRM_FORM_NBR").Text(), "300");
}

// ---------------------------------------------------------------- binding

TEST_F(DataGridTest, RebindForgetsComputedCellsSelectionAndLoadsTheNewRowsRedrawOrNot) {
  ado.SetRecordset(MakeRanges(3));
  grid.LoadRows(0, 3);
  grid.ClickRow(1);
  const auto version = grid.DataVersion();

  auto other = MakeRanges(5);
  ado.SetRecordset(other);
  EXPECT_EQ(grid.RecordsetPtr(), other);
  EXPECT_GT(grid.DataVersion(), version);
  EXPECT_EQ(grid.RowCount(), 5);
  EXPECT_EQ(grid.SelectedCount(), 0);
  EXPECT_EQ(grid.LoadedRowCount(), 0);
  // Bookmarks of two record sets may coincide; nothing computed for the old rows shows.
  for (long i = 0; i < 5; ++i) EXPECT_EQ(grid.CellTextAt(i, "TroopDistrict"), "");
  grid.LoadRows(0, 5);
  EXPECT_EQ(grid.LoadedRowCount(), 5);

  grid.SetRedraw(false);
  ado.SetRecordset(MakeRanges(3));
  EXPECT_EQ(grid.LoadedRowCount(), 0);
  EXPECT_EQ(grid.CellTextAt(0, "TroopDistrict"), "");
}

TEST_F(DataGridTest, TwoGridsOnOneDataControlBothRebind) {
  auto& second = form.Add<DataGrid>("grdSecond");
  second.AddColumn("From", "FRM_FORM_NBR", "FRM_FORM_NBR");
  second.SetDataSource(&ado);
  ado.SetRecordset(MakeRanges(2));
  EXPECT_EQ(second.RowCount(), 2);
  EXPECT_EQ(second.CellTextAt(1, "FRM_FORM_NBR"), "200");
  second.SetDataSource(nullptr);
  ado.SetRecordset(MakeRanges(7));
  EXPECT_EQ(second.RowCount(), 0);
  EXPECT_EQ(grid.RowCount(), 7);
}

TEST_F(DataGridTest, AnUnboundGridHasNoRowsAndNoCurrentRow) {
  EXPECT_EQ(grid.RowCount(), 0);
  EXPECT_FALSE(grid.HasCurrentRow());
  EXPECT_EQ(grid.CurrentRowIndex(), -1);
  grid.MoveFirst();  // nothing to move to, and no error
  grid.LoadRows(0, 40);
  EXPECT_EQ(TotalLoads(), 0);
  EXPECT_THROW(grid.CurrentBookmark(), PlatformError);
}

TEST_F(DataGridTest, RowsAddedOrDeletedInTheRecordSetShowAfterRefresh) {
  auto rs = MakeRanges(4);
  ado.SetRecordset(rs);
  grid.LoadRows(0, 4);
  grid.ClickRow(1);
  grid.ClickRow(2, Modifier::Ctrl);
  rs->SetBookmark(grid.BookmarkAt(1));
  rs->Delete();
  rs->AddNew();
  rs->SetValue("TRP_ID", Value("Z"));
  rs->SetValue("TRP_DIST_ID", Value("9"));
  rs->Update();
  grid.Refresh();
  EXPECT_EQ(grid.RowCount(), 4);
  grid.LoadRows(0, 4);
  EXPECT_EQ(grid.CellTextAt(3, "TroopDistrict"), "Z9");
  // The selected row that is gone is no longer selected.
  EXPECT_EQ(grid.SelectedCount(), 1);
  EXPECT_EQ(grid.CellText(grid.SelectedBookmarks()[0], "FRM_FORM_NBR"), "300");
}

// ---------------------------------------------------------------- current row and selection

TEST_F(DataGridTest, PlainClickSelectsOneRowCtrlClickTogglesAndDisabledIgnoresClicks) {
  ado.SetRecordset(MakeRanges(5));
  std::vector<long> currentSeen;  // by each Click handler: the clicked row is already current
  grid.Click.Connect([&] { currentSeen.push_back(grid.CurrentRowIndex()); });
  grid.ClickRow(1);
  grid.ClickRow(3);
  EXPECT_EQ(grid.SelectedBookmarks(), (std::vector<Bookmark>{grid.BookmarkAt(3)}));
  EXPECT_EQ(currentSeen, (std::vector<long>{1, 3}));

  grid.ClickRow(0);
  grid.ClickRow(2, Modifier::Ctrl);
  grid.ClickRow(4, Modifier::Ctrl);
  EXPECT_EQ(grid.SelectedCount(), 3);
  grid.ClickRow(0, Modifier::Ctrl);
  EXPECT_EQ(grid.SelectedBookmarks(),
            (std::vector<Bookmark>{grid.BookmarkAt(2), grid.BookmarkAt(4)}));
  EXPECT_FALSE(grid.IsSelected(grid.BookmarkAt(0)));

  grid.SetEnabled(false);
  EXPECT_FALSE(grid.ClickRow(1));
  EXPECT_EQ(grid.SelectedCount(), 2);
  EXPECT_EQ(currentSeen.size(), 6U);
}

TEST_F(DataGridTest, ShiftClickSelectsTheRangeFromTheLastPlainOrCtrlClick) {
  ado.SetRecordset(MakeRanges(8));
  // Without an anchor, the clicked row alone.
  grid.ClickRow(2, Modifier::Shift);
  EXPECT_EQ(grid.SelectedBookmarks(), (std::vector<Bookmark>{grid.BookmarkAt(2)}));
  grid.ClickRow(5);
  grid.ClickRow(2, Modifier::Shift);
  EXPECT_EQ(grid.SelectedCount(), 4);
  for (long i = 2; i <= 5; ++i) EXPECT_TRUE(grid.IsSelected(grid.BookmarkAt(i))) << i;
  // The anchor stays at row 5: a second Shift-click replaces the range.
  grid.ClickRow(7, Modifier::Shift);
  EXPECT_EQ(grid.SelectedCount(), 3);
  EXPECT_FALSE(grid.IsSelected(grid.BookmarkAt(2)));
  EXPECT_EQ(grid.CurrentRowIndex(), 7);
  // A Ctrl-click moves the anchor.
  grid.ClickRow(0, Modifier::Ctrl);
  grid.ClickRow(1, Modifier::Shift);
  EXPECT_EQ(grid.SelectedBookmarks(),
            (std::vector<Bookmark>{grid.BookmarkAt(0), grid.BookmarkAt(1)}));
}

TEST_F(DataGridTest, CodeSelectionAndClear) {
  ado.SetRecordset(MakeRanges(3));
  grid.SelectRow(grid.BookmarkAt(2));
  grid.SelectRow(grid.BookmarkAt(0));
  grid.SelectRow(grid.BookmarkAt(2));
  EXPECT_EQ(grid.SelectedBookmarks(),
            (std::vector<Bookmark>{grid.BookmarkAt(2), grid.BookmarkAt(0)}));
  grid.DeselectRow(grid.BookmarkAt(2));
  EXPECT_EQ(grid.SelectedCount(), 1);
  grid.ClearSelection();
  EXPECT_EQ(grid.SelectedCount(), 0);
  EXPECT_THROW(grid.SelectRow(424242), PlatformError);
}

// ---------------------------------------------------------------- styles and columns

TEST_F(DataGridTest, ColumnsDrawWithTheirStyleSetsAndTheirPropertiesAreCheckedAndReported) {
  // What the screen's SetGridBolding does.
  grid.StyleSet("UNBOLD").SetBold(false);
  grid.SetFontBold(true);
  EXPECT_TRUE(grid.CellBold(1));  // no style set yet: the grid's font
  grid.Column(0).SetStyleSet("UNBOLD");
  grid.Column(0).SetHeadStyleSet("unbold");
  EXPECT_FALSE(grid.CellBold(0));
  EXPECT_FALSE(grid.HeadingBold(0));
  grid.StyleSet("Unbold").SetBold(true);
  EXPECT_TRUE(grid.CellBold(0));
  EXPECT_THROW(grid.Column(0).SetStyleSet("NOSUCH"), PlatformError);
  EXPECT_THROW(grid.AddStyleSet("UNBOLD"), PlatformError);
  EXPECT_EQ(grid.Column(0).StyleSet(), "UNBOLD");
  // Column properties are checked and reported.
  auto& column = grid.Column("TRP_ID");
  int reports = 0;
  form.Changed.Connect([&](UiElement&) { ++reports; });
  column.SetVisible(true);
  column.SetWidth(1000);
  EXPECT_EQ(reports, 2);
  EXPECT_THROW(column.SetWidth(-5), PlatformError);
  EXPECT_EQ(column.Width(), 1000);
}

TEST(DataGridLifetimeTest, GridAndDataControlMayBeDestroyedInEitherOrder) {
  // The form destroys its controls last-created first; the grid is created first here, so
  // it outlives its data control while the form goes.
  for (bool gridFirst : {true, false}) {
    auto owner = std::make_unique<Form>("frmTemp");
    DataGrid* temp = nullptr;
    DataControl* source = nullptr;
    if (gridFirst) {
      temp = &owner->Add<DataGrid>("grdTemp");
      source = &owner->Add<DataControl>("adoTemp");
    } else {
      source = &owner->Add<DataControl>("adoTemp");
      temp = &owner->Add<DataGrid>("grdTemp");
    }
    temp->SetDataSource(source);
    source->SetRecordset(MakeRanges(2));
    EXPECT_EQ(temp->RowCount(), 2);
    owner.reset();
  }
}

// ---------------------------------------------------------------- sorting

TEST_F(DataGridTest, SortingOrdersNumbersAsNumbersAndKeepsSelectionAndComputedCells) {
  ado.SetRecordset(MakeRanges(12));  // 100 ... 1200: as texts, "1000" would come before "200"
  grid.LoadRows(0, 12);
  ASSERT_TRUE(grid.ClickRow(1));
  ASSERT_TRUE(grid.ClickRow(4, Modifier::Ctrl));
  const std::vector<Bookmark> selected = grid.SelectedBookmarks();
  const int loadsBefore = TotalLoads();
  const int from = grid.Column("FRM_FORM_NBR").Index();
  const auto column = [&] {
    std::vector<long long> numbers;
    for (long i = 0; i < grid.RowCount(); ++i)
      numbers.push_back(std::stoll(grid.CellTextAt(i, from)));
    return numbers;
  };
  ASSERT_TRUE(grid.SortByColumn(from));
  const std::vector<long long> ascending = column();
  EXPECT_TRUE(std::is_sorted(ascending.begin(), ascending.end()));
  ASSERT_TRUE(grid.SortByColumn(from));  // again: reversed, every row moved
  const std::vector<long long> descending = column();
  EXPECT_TRUE(std::is_sorted(descending.rbegin(), descending.rend()));
  EXPECT_TRUE(grid.SortDescending());
  EXPECT_EQ(grid.SelectedBookmarks(), selected);
  EXPECT_EQ(grid.CurrentBookmark(), selected.back());
  EXPECT_EQ(grid.IndexOf(selected[0]), 10);
  EXPECT_EQ(grid.CellText(selected[0], "TroopDistrict"), "B2");
  EXPECT_EQ(TotalLoads(), loadsBefore);  // nothing computed again

  // A computed column sorts by the fields it names, and the sort holds for the next rows.
  const int troop = grid.Column("TroopDistrict").Index();
  EXPECT_FALSE(grid.SortByColumn(troop));
  grid.Column("TroopDistrict").SetSortFields("TRP_ID, TRP_DIST_ID");
  ASSERT_TRUE(grid.SortByColumn(troop));
  ado.SetRecordset(MakeRanges(3));
  EXPECT_EQ(grid.SortColumn(), troop);
  EXPECT_EQ(grid.RecordsetPtr()->Sort(), "TRP_ID ASC, TRP_DIST_ID ASC");
}

}  // namespace
}  // namespace fm
