// The desktop as a clerk uses it: the shell window on the demo local database and the
// embedded demo inventory, driven with keys and clicks, offscreen.

#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QMessageBox>
#include <QTableView>
#include <QTest>
#include <string>
#include <vector>

#include "ShellTest.h"
#include "base/Text.h"
#include "controls/DataGrid.h"
#include "controls/Label.h"
#include "controls/TextBox.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/LocalDatabase.h"
#include "platform/MessageComponent.h"
#include "platform/Recordset.h"
#include "platform/Services.h"
#include "qt/FormView.h"
#include "qt/GridTableModel.h"
#include "qt/QtHostFrame.h"
#include "qt/ShellWindow.h"

namespace fm::qt {
namespace {

using namespace std::chrono_literals;
using Step = ShellWindow::LifecycleStep;
using testing::RedPixels;
using testing::Stored;

class ShellEndToEndTest : public testing::ShellTest {
 protected:
  ShellEndToEndTest() {
    Start().Window().SetLifecycleObserver([this](Step step) { steps.push_back(step); });
    shell->Open();
  }

  TARVO_FormsMaint& Document() { return shell->Document(); }
  QWidget& W(const char* name) { return shell->W(name); }
  GridView& Grid(const char* name) { return shell->Grid(name); }
  std::vector<std::string> VisibleColumns(const GridView& grid) {
    std::vector<std::string> captions;
    for (int i = 0; i < grid.Model().columnCount(); ++i) {
      if (!grid.Table().isColumnHidden(i)) {
        captions.push_back(grid.Model().headerData(i, Qt::Horizontal).toString().toStdString());
      }
    }
    return captions;
  }
  // The rows of a grid that are in sight.
  std::vector<int> RowsInSight(const GridView& grid) {
    const QTableView& table = grid.Table();
    const int first = table.rowAt(0);
    int last = table.rowAt(table.viewport()->height() - 1);
    if (last < 0) last = grid.Model().rowCount() - 1;
    std::vector<int> rows;
    for (int row = first; row >= 0 && row <= last; ++row) rows.push_back(row);
    return rows;
  }
  // What a registry number's "Assigned To" cell shows: the number, ":" and the officer's
  // name parts joined by commas, in capitals, with a ",JR" (else ",SR") suffix spaced.
  std::string ExpectedAssignee(const std::string& registry) {
    auto officer = Services::Database()->Query(
        "SELECT INSP_NME_LST, INSP_NME_FRST, INSP_NME_MDL_INT FROM MVE061TB WHERE INSP_ID = ?",
        {Value(registry)});
    if (officer->RecordCount() == 0) return registry + ":" + ",,";
    officer->MoveFirst();
    std::string name =
        text::ToUpper(text::Trim(text::Trim(officer->GetText("INSP_NME_LST")) + "," +
                                 text::Trim(officer->GetText("INSP_NME_FRST")) + "," +
                                 text::Trim(officer->GetText("INSP_NME_MDL_INT"))));
    const std::string suffix = name.find(",JR") != std::string::npos ? ",JR" : ",SR";
    for (auto at = name.find(suffix); at != std::string::npos; at = name.find(suffix, at + 2)) {
      name.replace(at, suffix.size(), ", " + suffix.substr(1));
    }
    return registry + ":" + name;
  }

  std::vector<Step> steps;
};

TEST_F(ShellEndToEndTest, SearchesATroopDistrictAndShowsTheRangesWithTheirComputedCells) {
  EXPECT_EQ(shell->Window().windowTitle(), "Forms Maintenance");
  EXPECT_EQ(shell->Status(), "Ready");
  EXPECT_TRUE(shell->Window().HostFrame().SecondStatus());
  for (int item : {7, 8, 9, 12, 14})
    EXPECT_FALSE(shell->Window().ToolbarItem(item)->isEnabled()) << item;

  shell->Type("txtBox(0)", "a");
  EXPECT_EQ(dynamic_cast<QLineEdit&>(W("txtBox(0)")).text(), "A");
  shell->Type("txtBox(0)", "1");
  EXPECT_EQ(Document().txtBox(0).Text(), "A1");
  shell->ChooseFormType("ENF001 Citation");
  shell->SearchAndWait();

  const DataGrid& grid = Document().grdFormsAssignment;
  GridView& view = Grid("grdFormsAssignment");
  ASSERT_GT(grid.RowCount(), 0);
  EXPECT_EQ(VisibleColumns(view),
            (std::vector<std::string>{"Troop/District", "Account Type", "From Range", "To Range",
                                      "Assigned To", "Remaining Forms", "Quarter Year", "Year",
                                      "Comment"}));
  const std::vector<int> inSight = RowsInSight(view);
  ASSERT_FALSE(inSight.empty());
  int assigned = 0;
  for (int row : inSight) {
    ASSERT_TRUE(grid.IsRowLoaded(grid.BookmarkAt(row))) << row;
    const auto shown = [&](const char* key) {
      const int column = grid.Column(key).Index();
      return view.Model().data(view.Model().index(row, column)).toString().toStdString();
    };
    EXPECT_EQ(shown("TroopDistrict"), "A1");
    EXPECT_EQ(shown("Form_Type"), "ENF001 Citation");
    const std::string registry = text::Trim(grid.CellTextAt(row, "ASGND_REG_NBR"));
    if (registry.empty() || registry == "0") {
      EXPECT_EQ(shown("ASSIGNED_TO"), "A1");
    } else {
      ++assigned;
      EXPECT_EQ(shown("ASSIGNED_TO"), ExpectedAssignee(registry));
    }
    EXPECT_LE(std::stoll(shown("FRM_FORM_NBR")), std::stoll(shown("TO_FORM_NBR")));
  }
  EXPECT_GT(assigned, 0);
  const long lastInSight = inSight.back();
  if (grid.RowCount() > lastInSight + 1) {
    EXPECT_FALSE(grid.IsRowLoaded(grid.BookmarkAt(grid.RowCount() - 1)));
  }

  // The troopers of A1, with their display names.
  const DataGrid& officers = Document().grdOfficerList;
  ASSERT_GT(officers.RowCount(), 0);
  EXPECT_EQ(VisibleColumns(Grid("grdOfficerList")),
            (std::vector<std::string>{"Registry #", "Name"}));
  Grid("grdOfficerList").Table().viewport()->repaint();
  const std::string name = officers.CellTextAt(0, "NAME");
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(name, text::ToUpper(name));

  // One range selected: Change Troop/District is offered; two: nothing is.
  QTableView& table = view.Table();
  const auto cell = [&](int row) { return table.visualRect(view.Model().index(row, 0)).center(); };
  QTest::mouseClick(table.viewport(), Qt::LeftButton, Qt::NoModifier, cell(0));
  EXPECT_TRUE(W("cmdButton(4)").isEnabled());
  EXPECT_TRUE(W("cmdButton(2)").isEnabled());
  if (grid.RowCount() > 1) {
    QTest::mouseClick(table.viewport(), Qt::LeftButton, Qt::ControlModifier, cell(1));
    EXPECT_EQ(grid.SelectedCount(), 2);
    EXPECT_FALSE(W("cmdButton(2)").isEnabled());
    EXPECT_FALSE(W("cmdButton(3)").isEnabled());
    EXPECT_FALSE(W("cmdButton(4)").isEnabled());
  }
}

TEST_F(ShellEndToEndTest, TheViewModesShowTheirOwnControls) {
  shell->Type("txtBox(0)", "b2");
  shell->Click("optButton(1)");  // New Forms
  EXPECT_TRUE(W("fraAddForms").isVisible());
  EXPECT_FALSE(W("fraSearchForms").isVisible());
  for (const char* shown : {"txtBox(0)", "txtBox(2)", "txtBox(3)", "txtBox(4)", "cmdButton(6)",
                            "cmdButton(7)", "grdNewForms"}) {
    EXPECT_TRUE(W(shown).isVisible()) << shown;
  }
  for (const char* hidden : {"txtBox(1)", "txtBox(7)", "cmdButton(0)", "cmdButton(1)"}) {
    EXPECT_FALSE(W(hidden).isVisible()) << hidden;
  }
  // New Forms gets back what it showed when last left: nothing, the first time.
  EXPECT_EQ(dynamic_cast<QLineEdit&>(W("txtBox(0)")).text(), "");
  // The range entries stand where Registry # stands in Forms Assignment, each box just
  // after its caption.
  EXPECT_EQ(Document().lblLabel(3).Left(), Document().lblLabel(2).Left());
  EXPECT_EQ(W("txtBox(2)").x(), W("lblLabel(3)").x() + W("lblLabel(3)").width());

  shell->Click("optButton(2)");  // Inactive Forms
  EXPECT_TRUE(W("fraSearchForms").isVisible());
  EXPECT_FALSE(W("fraAddForms").isVisible());
  EXPECT_FALSE(W("txtBox(0)").isVisible());
  EXPECT_FALSE(W("grdOfficerList").isVisible());
  EXPECT_TRUE(W("cmdButton(0)").isVisible());
  EXPECT_FALSE(W("cmdButton(2)").isEnabled());
  const GridView& ranges = Grid("grdFormsAssignment");
  EXPECT_FALSE(
      ranges.Table().isColumnHidden(Document().grdFormsAssignment.Column("TRP_ACTN_CD").Index()));

  shell->ChooseFormType("Receipts");
  shell->SearchAndWait();
  ASSERT_GT(Document().grdFormsAssignment.RowCount(), 0);
  // The Status column shows the delisting reason's description, not its code (a code
  // without a current entry shows nothing).
  const DataGrid& grid = Document().grdFormsAssignment;
  const int status = grid.Column("TRP_ACTN_CD").Index();
  int described = 0;
  for (int row : RowsInSight(ranges)) {
    const QString shown = ranges.Model().data(ranges.Model().index(row, status)).toString();
    const std::string code = grid.BoundText(grid.BookmarkAt(row), "TRP_ACTN_CD");
    EXPECT_NE(code, "A") << row;
    if (shown.isEmpty()) continue;
    ++described;
    EXPECT_NE(shown.toStdString(), code) << row;
  }
  EXPECT_GT(described, 0);

  shell->Click("optButton(0)");  // back to Forms Assignment: the Troop/District it was left with
  EXPECT_EQ(dynamic_cast<QLineEdit&>(W("txtBox(0)")).text(), "B2");
  EXPECT_TRUE(ranges.Table().isColumnHidden(status));
}

TEST_F(ShellEndToEndTest, ARefusedKeyBeepsAndAWrongEntryIsVisiblyMarked) {
  auto& box = dynamic_cast<QLineEdit&>(W("txtBox(0)"));
  const int beeps = shell->Session().Ui().BeepCount();
  shell->Type("txtBox(0)", "-");
  EXPECT_EQ(box.text(), "");
  EXPECT_EQ(shell->Session().Ui().BeepCount(), beeps + 1);

  shell->Type("txtBox(0)", "z");  // no troop Z in the region
  EXPECT_EQ(box.text(), "Z");
  EXPECT_TRUE(Document().txtBox(0).ErrorMark());
  QWidget* mark = shell->Window().DocumentView()->ErrorMarkFor(Document().txtBox(0));
  ASSERT_NE(mark, nullptr);
  EXPECT_TRUE(mark->isVisible());
  const QImage image = shell->Window().DocumentView()->grab().toImage();
  const QRect around(box.mapTo(shell->Window().DocumentView(), QPoint(-2, -2)),
                     box.size() + QSize(4, 4));
  EXPECT_GT(RedPixels(image, around), around.width());

  // Leaving the box runs the entry check, whose message the mark's tooltip gives.
  QTest::keyClick(&box, Qt::Key_Tab);
  EXPECT_NE(box.toolTip().indexOf("Please Enter a valid Troop/District"), -1)
      << box.toolTip().toStdString();

  shell->boxes.AnswerNext(QMessageBox::Ok);
  shell->Click("cmdButton(0)");
  ASSERT_EQ(shell->boxes.answered.size(), 1U);
  EXPECT_NE(shell->boxes.answered.front().find("Please Enter a valid Troop/District"),
            std::string::npos);

  box.setFocus();
  QTest::keyClick(&box, Qt::Key_Backspace);
  shell->Type("txtBox(0)", "a1");
  EXPECT_FALSE(Document().txtBox(0).ErrorMark());
  EXPECT_FALSE(mark->isVisible());
}

TEST_F(ShellEndToEndTest, ClosingAsksTheDocumentThenUnloadsAndDestroysIt) {
  auto component = MessageComponent::Obtain();
  EXPECT_EQ(component->ListenerCount(), 2U);  // the document, and the shell's light
  shell->Window().close();
  EXPECT_EQ(steps,
            (std::vector<Step>{Step::CloseAsked, Step::BeforeUnload, Step::DocumentDestroyed}));
  EXPECT_EQ(shell->Window().Document(), nullptr);
  EXPECT_FALSE(shell->Window().isVisible());
  EXPECT_EQ(component->ListenerCount(), 0U);
  // BeforeUnload gives the host its items back.
  for (int item : {7, 8, 9, 12, 14})
    EXPECT_TRUE(shell->Window().ToolbarItem(item)->isEnabled()) << item;
}

TEST_F(ShellEndToEndTest, NewRangesAreAddedAndRemovedAndKeepTheWindowOpenUntilSaved) {
  shell->Click("optButton(1)");  // New Forms
  ASSERT_TRUE(W("fraAddForms").isVisible());
  shell->Type("txtBox(0)", "a1");
  shell->ChooseFormType("Wrecker Decals");
  shell->Type("txtBox(2)", "9990001");
  shell->Type("txtBox(3)", "9990010");
  shell->Click("cmdButton(7)");  // Add Forms
  GridView& view = Grid("grdNewForms");
  ASSERT_EQ(view.Model().rowCount(), 1)
      << (shell->boxes.answered.empty() ? "" : shell->boxes.answered.front());
  EXPECT_EQ(testing::Shown(view, 0, "FRM_FORM_NBR"), "9990001");
  EXPECT_EQ(testing::Shown(view, 0, "TO_FORM_NBR"), "9990010");
  EXPECT_EQ(Stored(Document().grdNewForms, 0, "TRP_ID") +
                Stored(Document().grdNewForms, 0, "TRP_DIST_ID"),
            "A1");
  EXPECT_TRUE(shell->Window().ToolbarItem(7)->isEnabled());
  testing::ClickRow(view, 0);
  EXPECT_EQ(Document().grdNewForms.SelectedCount(), 1);
  shell->Click("cmdButton(6)");  // Remove Forms
  EXPECT_EQ(view.Model().rowCount(), 0);
  EXPECT_EQ(Document().grdNewForms.RowCount(), 0);
  shell->AddRange("a1", "Wrecker Decals", "9990001", "9990010");

  shell->boxes.AnswerNext(QMessageBox::Cancel);
  shell->Window().close();
  EXPECT_EQ(shell->boxes.answered.back(), "New Forms have been added. Do you wish to save them ?");
  EXPECT_EQ(steps, (std::vector<Step>{Step::CloseAsked, Step::CloseRefused}));
  EXPECT_TRUE(shell->Window().isVisible());
  ASSERT_NE(shell->Window().Document(), nullptr);

  // Yes: the ranges are saved, the close waits for the reply, then the window goes.
  steps.clear();
  shell->boxes.AnswerNext(QMessageBox::Yes);
  shell->Window().close();
  EXPECT_EQ(steps,
            (std::vector<Step>{Step::CloseAsked, Step::BeforeUnload, Step::DocumentDestroyed}));
  EXPECT_FALSE(shell->Window().isVisible());
}

}  // namespace
}  // namespace fm::qt
