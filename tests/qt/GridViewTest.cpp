#include <gtest/gtest.h>

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTableView>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "QtTestSupport.h"
#include "controls/DataControl.h"
#include "controls/DataGrid.h"
#include "controls/Form.h"
#include "platform/ErrorReporter.h"
#include "platform/Recordset.h"
#include "platform/Services.h"
#include "qt/GridTableModel.h"
#include "qt/GridView.h"

namespace fm::qt {
namespace {

using testing::ProcessEvents;
using testing::TestApplication;

std::shared_ptr<Recordset> MakeOfficers(int rows) {
  auto rs = std::make_shared<Recordset>(std::vector<FieldDef>{
      {"INSP_ID", FieldType::Integer, 0}, {"INSP_NME_LST", FieldType::Text, 30}});
  for (int i = 0; i < rows; ++i) {
    rs->AddNew();
    rs->SetValue("INSP_ID", Value(1000 + i));
    rs->SetValue("INSP_NME_LST", Value("OFFICER " + std::to_string(i)));
    rs->Update();
  }
  if (rows > 0) rs->MoveFirst();
  return rs;
}

class GridViewTest : public ::testing::Test {
 protected:
  GridViewTest()
      : ado(form.Add<DataControl>("adoOfficerList")), grid(form.Add<DataGrid>("grdOfficerList")) {
    TestApplication();
    Services::SetErrorReporter(std::make_shared<ErrorReporter>(std::filesystem::path{}, false));
    grid.SetCaption("Troop/District Assigned Troopers");
    grid.AddColumn("DIST_ID", "DIST_ID", "DIST_ID", false, 3200);
    grid.AddColumn("Registry #", "INSP_ID", "INSP_ID", true, 3228);
    grid.AddColumn("Name", "INSP_NME_LST", "INSP_NME_LST", true, 4657);
    grid.SetDataSource(&ado);
    grid.Click.Connect([this] { ++clicks; });
    ado.SetRecordset(MakeOfficers(30));
    view = std::make_unique<GridView>(grid);
    view->resize(600, 400);
    view->show();
    ProcessEvents();
  }
  ~GridViewTest() override {
    view.reset();
    Services::Reset();
  }

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

  Form form{"frmGridViewTest"};
  DataControl& ado;
  DataGrid& grid;
  std::unique_ptr<GridView> view;
  int clicks = 0;
};

TEST_F(GridViewTest, ShowsCaptionHiddenColumnsWidthsInPixelsAndFixedRowHeights) {
  QTableView& table = view->Table();
  EXPECT_EQ(view->CaptionBar().text(), "Troop/District Assigned Troopers");
  EXPECT_TRUE(table.isColumnHidden(0));
  EXPECT_FALSE(table.isColumnHidden(1));
  EXPECT_EQ(table.horizontalHeader()->sectionSize(1), 215);  // 3228 twips
  EXPECT_EQ(table.horizontalHeader()->sectionSize(2), 310);  // 4657 twips
  EXPECT_EQ(table.verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
  EXPECT_EQ(table.rowHeight(0), table.rowHeight(29));

  grid.Column(0).SetVisible(true);
  grid.Column(2).SetWidth(1500);
  grid.SetCaption("");
  view->Sync();
  EXPECT_FALSE(table.isColumnHidden(0));
  EXPECT_EQ(table.horizontalHeader()->sectionSize(0), 213);
  EXPECT_EQ(table.horizontalHeader()->sectionSize(2), 100);
  EXPECT_TRUE(view->CaptionBar().isHidden());
}

TEST_F(GridViewTest, ClicksWithCtrlAndShiftSelectInTheGridAndTheViewShowsIt) {
  Click(2);
  EXPECT_EQ(SelectedRows(), (std::vector<long>{2}));
  EXPECT_EQ(grid.CurrentRowIndex(), 2);
  EXPECT_EQ(clicks, 1);

  Click(4, Qt::ControlModifier);
  EXPECT_EQ(SelectedRows(), (std::vector<long>{2, 4}));
  Click(2, Qt::ControlModifier);
  EXPECT_EQ(SelectedRows(), (std::vector<long>{4}));

  Click(7, Qt::ShiftModifier);  // from the last plain click, row 2
  EXPECT_EQ(SelectedRows(), (std::vector<long>{2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(ViewSelectedRows(), (std::vector<int>{2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(view->Table().selectionModel()->currentIndex().row(), 7);
  EXPECT_EQ(clicks, 4);
}

TEST_F(GridViewTest, ArrowKeysMoveTheSelectionAsClicksDo) {
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

TEST_F(GridViewTest, AColumnTheUserWidensIsWidenedInTheGrid) {
  view->Table().horizontalHeader()->resizeSection(2, 200);
  EXPECT_EQ(grid.Column(2).Width(), 3000);
}

TEST_F(GridViewTest, NothingChangesWhileTheGridsRedrawIsOff) {
  grid.SetRedraw(false);
  ado.SetRecordset(MakeOfficers(3));
  view->Sync();
  EXPECT_EQ(view->Model().rowCount(), 30);
  EXPECT_FALSE(view->Table().updatesEnabled());

  grid.SetRedraw(true);
  view->Sync();
  EXPECT_EQ(view->Model().rowCount(), 3);
  EXPECT_TRUE(view->Table().updatesEnabled());
}

TEST_F(GridViewTest, PaintingLoadsOnlyTheRowsInSight) {
  ado.SetRecordset(MakeOfficers(5000));
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
