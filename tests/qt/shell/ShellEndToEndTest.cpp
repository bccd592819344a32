// The desktop as a clerk uses it: the shell window on the demo local database and the
// embedded demo inventory, driven with keys and clicks, offscreen.

#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QMessageBox>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <string>
#include <vector>

#include "ShellTest.h"
#include "controls/DataGrid.h"
#include "controls/TextBox.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/MessageComponent.h"
#include "qt/render/FormView.h"
#include "qt/render/GridTableModel.h"
#include "qt/shell/QtHostFrame.h"
#include "qt/shell/ShellWindow.h"

namespace fm::qt {
namespace {

using Step = ShellWindow::LifecycleStep;

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
  // The rows show what the screen computed for them.
  for (int row = 0; row < std::min(view.Model().rowCount(), 8); ++row) {
    EXPECT_EQ(testing::Shown(view, row, "TroopDistrict"), "A1");
    EXPECT_EQ(testing::Shown(view, row, "Form_Type"), "ENF001 Citation");
    EXPECT_EQ(testing::Shown(view, row, "ASSIGNED_TO"), grid.CellTextAt(row, "ASSIGNED_TO"));
  }

  // The troopers of A1.
  const DataGrid& officers = Document().grdOfficerList;
  ASSERT_GT(officers.RowCount(), 0);
  EXPECT_EQ(VisibleColumns(Grid("grdOfficerList")),
            (std::vector<std::string>{"Registry #", "Name"}));

  // A range selected: Change Troop/District is offered.
  testing::ClickRow(view, 0);
  EXPECT_TRUE(W("cmdButton(4)").isEnabled());
}

// Which control each mode shows is the screen's; here, that the widgets follow it.
TEST_F(ShellEndToEndTest, TheViewModesShowTheirOwnControls) {
  shell->Type("txtBox(0)", "b2");
  shell->Click("optButton(1)");  // New Forms: nothing entered yet
  EXPECT_TRUE(W("fraAddForms").isVisible());
  EXPECT_FALSE(W("fraSearchForms").isVisible());
  EXPECT_EQ(dynamic_cast<QLineEdit&>(W("txtBox(0)")).text(), "");

  shell->Click("optButton(2)");  // Inactive Forms: the Status column
  EXPECT_TRUE(W("fraSearchForms").isVisible());
  EXPECT_FALSE(W("txtBox(0)").isVisible());
  const GridView& ranges = Grid("grdFormsAssignment");
  const int status = Document().grdFormsAssignment.Column("TRP_ACTN_CD").Index();
  EXPECT_FALSE(ranges.Table().isColumnHidden(status));

  shell->Click("optButton(0)");  // back to Forms Assignment: the Troop/District it was left with
  EXPECT_EQ(dynamic_cast<QLineEdit&>(W("txtBox(0)")).text(), "B2");
  EXPECT_TRUE(ranges.Table().isColumnHidden(status));
}

TEST_F(ShellEndToEndTest, AWrongEntryIsVisiblyMarkedWithTheMessageOfItsCheck) {
  auto& box = dynamic_cast<QLineEdit&>(W("txtBox(0)"));
  shell->Type("txtBox(0)", "z");  // no troop Z in the region
  EXPECT_EQ(box.text(), "Z");
  QWidget* mark = shell->Window().DocumentView()->ErrorMarkFor(Document().txtBox(0));
  ASSERT_NE(mark, nullptr);
  EXPECT_TRUE(mark->isVisible());

  // Leaving the box runs the entry check, whose message the mark's tooltip gives.
  QTest::keyClick(&box, Qt::Key_Tab);
  EXPECT_NE(box.toolTip().indexOf("Please Enter a valid Troop/District"), -1)
      << box.toolTip().toStdString();
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
  EXPECT_TRUE(shell->Window().ToolbarItem(7)->isEnabled());
  testing::ClickRow(view, 0);
  shell->Click("cmdButton(6)");  // Remove Forms
  EXPECT_EQ(view.Model().rowCount(), 0);
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
