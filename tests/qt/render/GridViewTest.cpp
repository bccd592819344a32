#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QFont>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "QtTestSupport.h"
#include "RangeGridFixture.h"
#include "controls/DataGrid.h"
#include "platform/ErrorReporter.h"
#include "platform/Recordset.h"
#include "platform/Services.h"
#include "qt/render/GridTableModel.h"
#include "qt/render/GridView.h"

namespace fm::qt {
namespace {

using testing::MakeRanges;
using testing::ProcessEvents;

class GridTableModelTest : public testing::RangeGridTest {
 protected:
  GridTableModelTest() {
    testing::TestApplication();
    Services::SetErrorReporter(std::make_shared<ErrorReporter>(std::filesystem::path{}, false));
  }
  ~GridTableModelTest() override { Services::Reset(); }

  QString Text(const GridTableModel& model, int row, int column) {
    return model.data(model.index(row, column)).toString();
  }
};

// A broken item-model contract ends the program (the tester's fatal mode).
TEST_F(GridTableModelTest, PassesTheItemModelTesterThroughLoadsResetsAndChanges) {
  ado.SetRecordset(MakeRanges(40));
  GridTableModel model(grid);
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);

  for (int row = 0; row < model.rowCount(); ++row) Text(model, row, 0);
  grid.SetCell(grid.BookmarkAt(3), "TROOPDISTRICT", "ZZ");
  model.Sync();
  grid.ClickRow(5);
  grid.ClickRow(9, DataGrid::ClickModifier::Shift);
  model.Sync();
  ado.SetRecordset(MakeRanges(3));
  model.Sync();
  ado.SetRecordset(nullptr);
  model.Sync();
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(model.flags(model.index(0, 0)), Qt::NoItemFlags);
  ado.SetRecordset(MakeRanges(7));
  model.Sync();

  EXPECT_EQ(model.rowCount(), 7);
}

TEST_F(GridTableModelTest, ShowsEveryColumnWithItsCaptionAndTheBoldOfItsStyleSets) {
  ado.SetRecordset(MakeRanges(2));
  GridTableModel model(grid);
  ASSERT_EQ(model.columnCount(), 5);  // hidden columns too: hiding is the view's business
  EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "Troop/District");
  EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), "TRP_ID");
  EXPECT_EQ(model.headerData(4, Qt::Horizontal).toString(), "Comment");

  // As SetGridBolding does: the grid's font bold, the columns on the regular "UNBOLD".
  QSignalSpy headings(&model, &QAbstractItemModel::headerDataChanged);
  grid.SetFontBold(true);
  grid.StyleSet("UNBOLD").SetBold(false);
  grid.Column(0).SetHeadStyleSet("UNBOLD");
  grid.Column(0).SetStyleSet("UNBOLD");
  model.Sync();

  EXPECT_EQ(headings.count(), 1);
  EXPECT_FALSE(model.headerData(0, Qt::Horizontal, Qt::FontRole).value<QFont>().bold());
  EXPECT_TRUE(model.headerData(1, Qt::Horizontal, Qt::FontRole).value<QFont>().bold());
  EXPECT_FALSE(model.data(model.index(0, 0), Qt::FontRole).value<QFont>().bold());
  EXPECT_TRUE(model.data(model.index(0, 1), Qt::FontRole).value<QFont>().bold());
}

TEST_F(GridTableModelTest, LoadsARowOnlyTheFirstTimeTheViewAsksForOneOfItsCells) {
  ado.SetRecordset(MakeRanges(100));
  GridTableModel model(grid);
  model.Sync();
  EXPECT_EQ(grid.LoadedRowCount(), 0);

  EXPECT_EQ(Text(model, 42, 0), "Q7");  // computed by the row-loaded handler
  EXPECT_EQ(Text(model, 42, 1), "4300");
  EXPECT_EQ(Text(model, 42, 4), "note 42");
  EXPECT_EQ(loads[grid.BookmarkAt(42)], 1);
  EXPECT_EQ(grid.LoadedRowCount(), 1);

  // Roles other than the text load nothing.
  model.data(model.index(7, 0), Qt::FontRole);
  EXPECT_EQ(grid.LoadedRowCount(), 1);

  // Filling the computed cells the view was about to read is no change to announce.
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  EXPECT_EQ(model.Sync(), GridTableModel::Change::None);
  EXPECT_EQ(changed.count(), 0);
}

TEST_F(GridTableModelTest, ResetsWhenTheRowsAreFetchedAnewOrChangedWithoutNotice) {
  auto ranges = MakeRanges(10);
  ado.SetRecordset(ranges);
  GridTableModel model(grid);
  QSignalSpy resets(&model, &QAbstractItemModel::modelReset);

  Text(model, 0, 0);
  grid.Refresh();
  EXPECT_EQ(model.Sync(), GridTableModel::Change::Reset);
  EXPECT_EQ(resets.count(), 1);

  ado.SetRecordset(MakeRanges(4));
  EXPECT_EQ(model.Sync(), GridTableModel::Change::Reset);
  EXPECT_EQ(model.rowCount(), 4);

  // A row added to the bound record set behind the grid's back.
  Recordset& shown = *grid.RecordsetPtr();
  shown.AddNew();
  shown.SetValue("FRM_FORM_NBR", Value(999));
  shown.Update();
  EXPECT_EQ(model.rowCount(), 4);  // as announced, until the next Sync
  EXPECT_EQ(model.Sync(), GridTableModel::Change::Reset);
  EXPECT_EQ(model.rowCount(), 5);
  EXPECT_EQ(resets.count(), 3);
}

TEST_F(GridTableModelTest, AnnouncesCellsAndSelectionsChangedAfterLoading) {
  ado.SetRecordset(MakeRanges(5));
  GridTableModel model(grid);
  Text(model, 1, 0);
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

  grid.SetCell(grid.BookmarkAt(1), "TROOPDISTRICT", "X9");
  EXPECT_EQ(model.Sync(), GridTableModel::Change::Updated);
  EXPECT_EQ(changed.count(), 1);
  EXPECT_EQ(Text(model, 1, 0), "X9");

  grid.ClickRow(2);
  EXPECT_EQ(model.Sync(), GridTableModel::Change::Updated);
  EXPECT_EQ(changed.count(), 2);
  EXPECT_EQ(model.Sync(), GridTableModel::Change::None);
}

TEST_F(GridTableModelTest, RowsThatVanishedBeforeTheNextSyncReadEmpty) {
  auto ranges = MakeRanges(6);
  ado.SetRecordset(ranges);
  GridTableModel model(grid);
  Recordset& shown = *grid.RecordsetPtr();
  shown.MoveLast();
  shown.Delete();
  shown.MoveLast();
  shown.Delete();

  EXPECT_EQ(model.rowCount(), 6);
  EXPECT_FALSE(model.data(model.index(5, 1)).isValid());
  EXPECT_EQ(Text(model, 3, 1), "400");
  model.Sync();
  EXPECT_EQ(model.rowCount(), 4);
}

// The view on the grid, at 600 x 400 pixels, on 30 ranges.
class GridViewTest : public GridTableModelTest {
 protected:
  GridViewTest() {
    grid.SetCaption("Forms Assigned");
    grid.Click.Connect([this] { ++clicks; });
    ado.SetRecordset(MakeRanges(30));
    view = std::make_unique<GridView>(grid);
    view->resize(600, 400);
    view->show();
    ProcessEvents();
  }
  ~GridViewTest() override { view.reset(); }

  QPoint CellCenter(int row, int column = 1) const {
    return view->Table().visualRect(view->Model().index(row, column)).center();
  }
  void Click(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::mouseClick(view->Table().viewport(), Qt::LeftButton, modifiers, CellCenter(row));
  }
  std::vector<long> SelectedRows() const {
    std::vector<long> rows;
    for (auto bookmark : grid.SelectedBookmarks()) rows.push_back(grid.IndexOf(bookmark));
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  std::vector<int> ViewSelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : view->Table().selectionModel()->selectedRows()) {
      rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  std::unique_ptr<GridView> view;
  int clicks = 0;
};

TEST_F(GridViewTest, ShowsCaptionHiddenColumnsWidthsInPixelsAndFixedRowHeightsBothWays) {
  QTableView& table = view->Table();
  EXPECT_EQ(view->CaptionBar().text(), "Forms Assigned");
  EXPECT_TRUE(table.isColumnHidden(2));
  EXPECT_FALSE(table.isColumnHidden(1));
  EXPECT_EQ(table.horizontalHeader()->sectionSize(0), 139);  // 2090 twips
  EXPECT_EQ(table.horizontalHeader()->sectionSize(4), 349);  // 5239 twips
  EXPECT_EQ(table.verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
  EXPECT_EQ(table.rowHeight(0), table.rowHeight(29));

  grid.Column(2).SetVisible(true);
  grid.Column(4).SetWidth(1500);
  grid.SetCaption("");
  view->Sync();
  EXPECT_FALSE(table.isColumnHidden(2));
  EXPECT_EQ(table.horizontalHeader()->sectionSize(2), 213);  // 3200 twips
  EXPECT_EQ(table.horizontalHeader()->sectionSize(4), 100);
  EXPECT_TRUE(view->CaptionBar().isHidden());
  // A column the user widens is widened in the grid.
  table.horizontalHeader()->resizeSection(4, 200);
  EXPECT_EQ(grid.Column(4).Width(), 3000);
}

TEST_F(GridViewTest, ClicksWithCtrlAndShiftAndArrowKeysSelectInTheGridAndTheViewShowsIt) {
  Click(2);
  EXPECT_EQ(SelectedRows(), (std::vector<long>{2}));
  EXPECT_EQ(grid.CurrentRowIndex(), 2);
  EXPECT_EQ(clicks, 1);

  Click(4, Qt::ControlModifier);
  EXPECT_EQ(SelectedRows(), (std::vector<long>{2, 4}));

  Click(7, Qt::ShiftModifier);  // from the last click, row 4
  EXPECT_EQ(SelectedRows(), (std::vector<long>{4, 5, 6, 7}));
  EXPECT_EQ(ViewSelectedRows(), (std::vector<int>{4, 5, 6, 7}));
  EXPECT_EQ(view->Table().selectionModel()->currentIndex().row(), 7);
  EXPECT_EQ(clicks, 3);

  // Arrow keys move the selection as clicks do.
  Click(5);
  QTest::keyClick(&view->Table(), Qt::Key_Down);
  EXPECT_EQ(SelectedRows(), (std::vector<long>{6}));
  QTest::keyClick(&view->Table(), Qt::Key_Up, Qt::ShiftModifier);
  QTest::keyClick(&view->Table(), Qt::Key_Up, Qt::ShiftModifier);
  EXPECT_EQ(SelectedRows(), (std::vector<long>{4, 5, 6}));
  QTest::keyClick(&view->Table(), Qt::Key_End);
  EXPECT_EQ(SelectedRows(), (std::vector<long>{29}));
  EXPECT_EQ(ViewSelectedRows(), (std::vector<int>{29}));
}

TEST_F(GridViewTest, NothingChangesWhileTheGridsRedrawIsOff) {
  grid.SetRedraw(false);
  ado.SetRecordset(MakeRanges(3));
  view->Sync();
  EXPECT_EQ(view->Model().rowCount(), 30);
  EXPECT_FALSE(view->Table().updatesEnabled());

  grid.SetRedraw(true);
  view->Sync();
  EXPECT_EQ(view->Model().rowCount(), 3);
  EXPECT_TRUE(view->Table().updatesEnabled());
}

TEST_F(GridViewTest, PaintingLoadsOnlyTheRowsInSight) {
  ado.SetRecordset(MakeRanges(5000));
  view->Sync();
  view->Table().viewport()->repaint();
  EXPECT_GT(grid.LoadedRowCount(), 0);
  EXPECT_LT(grid.LoadedRowCount(), 100);
  view->Table().scrollToBottom();
  view->Table().viewport()->repaint();
  EXPECT_TRUE(grid.IsRowLoaded(grid.BookmarkAt(4999)));
  EXPECT_FALSE(grid.IsRowLoaded(grid.BookmarkAt(2500)));
}

}  // namespace
}  // namespace fm::qt
