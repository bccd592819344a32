// The desktop's dialogs as a clerk uses them: the shell on the demo data with the embedded
// inventory, and the Assign, Change Troop/District and Add Troopers
// dialogs opened modally from the document's buttons and driven through their widgets,
// offscreen.

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QTest>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ShellTest.h"
#include "assignment/frmUnAssignForms.h"
#include "controls/DataGrid.h"
#include "controls/TextBox.h"
#include "document/TARVO_FormsMaint.h"
#include "qt/FormView.h"
#include "qt/GridTableModel.h"
#include "qt/GridView.h"
#include "qt/ModalFormDialog.h"
#include "qt/ShellWindow.h"

namespace fm::qt {
namespace {

using testing::ClickRow;
using testing::Shown;
using testing::Stored;
using testing::TypeInto;
using testing::WidgetOf;

// A form range as the grid stores it, compared by value ("0150" is 150).
struct Range {
  std::int64_t from = 0;
  std::int64_t to = 0;
};

QString TextOf(QWidget& widget) { return dynamic_cast<QLineEdit&>(widget).text(); }
Range RangeAt(const DataGrid& grid, int row) {
  return {std::stoll(Stored(grid, row, "FRM_FORM_NBR")),
          std::stoll(Stored(grid, row, "TO_FORM_NBR"))};
}
// The row holding exactly `range`, if the grid has one.
std::optional<int> RowOf(const DataGrid& grid, Range range) {
  for (int row = 0; row < grid.RowCount(); ++row) {
    const Range at = RangeAt(grid, row);
    if (at.from == range.from && at.to == range.to) return row;
  }
  return std::nullopt;
}
bool Unassigned(const DataGrid& grid, int row) {
  const std::string registry = Stored(grid, row, "ASGND_REG_NBR");
  return registry.empty() || registry == "0";
}
// A range of at least three forms (so a sub-range can leave a piece on either side), or -1.
int FirstRangeOfThree(const DataGrid& grid) {
  for (int row = 0; row < grid.RowCount(); ++row) {
    const Range range = RangeAt(grid, row);
    if (range.from >= 1 && range.to - range.from >= 2) return row;
  }
  return -1;
}

// Every test gets its own inventory: the dialogs' saves change it.
class DialogsEndToEndTest : public testing::ShellTest {
 protected:
  DialogsEndToEndTest() { Open({mData.Path(), {}, {}}); }
  TARVO_FormsMaint& Document() { return shell->Document(); }
  QWidget& W(const char* name) { return shell->W(name); }
  GridView& Grid(const char* name) { return shell->Grid(name); }

 private:
  testing::TempFolder mData;
};

TEST_F(DialogsEndToEndTest, AssignRefusesAFromBelowTheSelectionThenSplitsTheRangeForTheTrooper) {
  shell->SearchRanges("a1");
  DataGrid& ranges = Document().grdFormsAssignment;
  GridView& rangesView = Grid("grdFormsAssignment");
  const int row = FirstRangeOfThree(ranges);
  ASSERT_GE(row, 0) << "the demo data has no ENF001 range of three forms in A1";
  const Range selected = RangeAt(ranges, row);
  const std::string selectedFrom = Stored(ranges, row, "FRM_FORM_NBR");
  const std::string selectedTo = Stored(ranges, row, "TO_FORM_NBR");
  const std::string previousRegistry = Stored(ranges, row, "ASGND_REG_NBR");
  const std::string previousHolder = Shown(rangesView, row, "ASSIGNED_TO");
  ClickRow(rangesView, row);
  ASSERT_EQ(ranges.SelectedCount(), 1);
  ASSERT_TRUE(W("cmdButton(2)").isEnabled());

  // A trooper other than the one who holds the range now.
  const DataGrid& officers = Document().grdOfficerList;
  int officer = 0;
  while (officer < officers.RowCount() && Stored(officers, officer, "INSP_ID") == previousRegistry)
    ++officer;
  ASSERT_LT(officer, officers.RowCount()) << "no other trooper in A1";
  ClickRow(Grid("grdOfficerList"), officer);
  const std::string registry = Stored(officers, officer, "INSP_ID");
  ASSERT_FALSE(registry.empty());

  const Range assigned{selected.from + 1, selected.to - 1};
  OnNextModal([&](ModalFormDialog& dialog) {
    EXPECT_TRUE(dialog.isModal());
    EXPECT_EQ(dialog.windowTitle(), "Assign Forms");
    const FormView& view = dialog.View();
    EXPECT_EQ(dynamic_cast<QGroupBox&>(WidgetOf(view, "fraForm(0)")).title(), "Row Selected");
    EXPECT_EQ(TextOf(WidgetOf(view, "txtBox(0)")).toStdString(), selectedFrom);
    EXPECT_EQ(TextOf(WidgetOf(view, "txtBox(1)")).toStdString(), selectedTo);
    EXPECT_TRUE(dynamic_cast<QLineEdit&>(WidgetOf(view, "txtBox(0)")).isReadOnly());
    EXPECT_EQ(dynamic_cast<QLabel&>(WidgetOf(view, "lblForm(10)")).text().toStdString(), registry);

    QWidget& from = WidgetOf(view, "txtBox(3)");
    QWidget& to = WidgetOf(view, "txtBox(4)");
    TypeInto(from, std::to_string(selected.from - 1), true);
    shell->boxes.AnswerNext(QMessageBox::Ok);
    QTest::mouseClick(&WidgetOf(view, "cmdOk"), Qt::LeftButton);
    EXPECT_EQ(shell->boxes.answered,
              (std::vector<std::string>{"Assign 'From Range' must be equal to or greater than the "
                                        "selected 'From Range'."}));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(TextOf(from).toStdString(), std::to_string(selected.from - 1));
    const auto& form = dynamic_cast<const frmUnAssignForms&>(view.GetForm());
    const QWidget* mark = view.ErrorMarkFor(form.txtBox(3));
    EXPECT_TRUE(mark != nullptr && mark->isVisible()) << "the wrong From is not marked";

    TypeInto(from, std::to_string(assigned.from), true);
    TypeInto(to, std::to_string(assigned.to), true);
    QTest::mouseClick(&WidgetOf(view, "cmdOk"), Qt::LeftButton);
  });
  shell->Click("cmdButton(2)");  // Assign: returns once the dialog has closed
  EXPECT_EQ(modalsShown, 1);
  EXPECT_EQ(shell->boxes.answered.size(), 1U);
  EXPECT_EQ(shell->Status(), "Saving Forms");
  shell->WaitForReply("Saving Forms");

  // The selected range is now three: the trooper's piece between two left as they were.
  EXPECT_FALSE(RowOf(ranges, selected).has_value());
  const auto before = RowOf(ranges, {selected.from, selected.from});
  const auto middle = RowOf(ranges, assigned);
  const auto after = RowOf(ranges, {selected.to, selected.to});
  ASSERT_TRUE(before && middle && after);
  EXPECT_EQ(Stored(ranges, *middle, "ASGND_REG_NBR"), registry);
  EXPECT_EQ(Shown(rangesView, *middle, "ASSIGNED_TO").rfind(registry + ":", 0), 0U)
      << Shown(rangesView, *middle, "ASSIGNED_TO");
  for (int piece : {*before, *after}) {
    if (Unassigned(ranges, piece)) {
      EXPECT_TRUE(previousRegistry.empty() || previousRegistry == "0") << piece;
    } else {
      EXPECT_EQ(Stored(ranges, piece, "ASGND_REG_NBR"), previousRegistry) << piece;
    }
    EXPECT_EQ(Shown(rangesView, piece, "ASSIGNED_TO"), previousHolder) << piece;
  }
}

TEST_F(DialogsEndToEndTest, ChangeTroopDistrictMovesTheSelectedRangeToTheTypedStation) {
  shell->SearchRanges("a1");
  DataGrid& ranges = Document().grdFormsAssignment;
  ASSERT_GT(ranges.RowCount(), 0);
  const Range moved = RangeAt(ranges, 0);
  const std::string from = Stored(ranges, 0, "FRM_FORM_NBR");
  const std::string to = Stored(ranges, 0, "TO_FORM_NBR");
  ClickRow(Grid("grdFormsAssignment"), 0);
  ASSERT_TRUE(W("cmdButton(4)").isEnabled());

  OnNextModal([&](ModalFormDialog& dialog) {
    EXPECT_TRUE(dialog.isModal());
    const FormView& view = dialog.View();
    EXPECT_EQ(dynamic_cast<QLabel&>(WidgetOf(view, "lblForm(4)")).text().toStdString(), from);
    EXPECT_EQ(dynamic_cast<QLabel&>(WidgetOf(view, "lblForm(5)")).text().toStdString(), to);
    QWidget& station = WidgetOf(view, "txtTroopDistrict");
    EXPECT_EQ(TextOf(station), "A1");

    // The station it already has is refused.
    shell->boxes.AnswerNext(QMessageBox::Ok);
    QTest::mouseClick(&WidgetOf(view, "cmdButton(0)"), Qt::LeftButton);
    EXPECT_EQ(shell->boxes.answered, (std::vector<std::string>{"Troop/District has not changed."}));
    EXPECT_TRUE(dialog.isVisible());

    TypeInto(station, "b2", true);
    EXPECT_EQ(TextOf(station), "B2");
    QTest::mouseClick(&WidgetOf(view, "cmdButton(0)"), Qt::LeftButton);  // Save
  });
  shell->Click("cmdButton(4)");  // Change Troop/District
  EXPECT_EQ(modalsShown, 1);
  EXPECT_EQ(shell->Status(), "Saving Forms");
  shell->WaitForReply("Saving Forms");
  EXPECT_FALSE(RowOf(ranges, moved).has_value()) << "the range is still listed in A1";

  shell->SearchRanges("b2");
  const auto row = RowOf(ranges, moved);
  ASSERT_TRUE(row.has_value()) << "the moved range is not listed in B2";
  EXPECT_EQ(Shown(Grid("grdFormsAssignment"), *row, "TROOPDISTRICT"), "B2");
  EXPECT_TRUE(Unassigned(ranges, *row));
}

TEST_F(DialogsEndToEndTest, AddTroopersAddsTheOfficerPickedInThePickerToTheOfficerList) {
  shell->SearchRanges("a1");
  DataGrid& officers = Document().grdOfficerList;
  GridView& officersView = Grid("grdOfficerList");
  const int listedBefore = officersView.Model().rowCount();
  std::set<std::string> listed;
  for (int row = 0; row < officers.RowCount(); ++row) {
    listed.insert(Stored(officers, row, "INSP_ID"));
  }
  ASSERT_TRUE(W("cmdButton(5)").isEnabled());

  std::string picked;
  OnNextModal([&](ModalFormDialog& dialog) {
    EXPECT_TRUE(dialog.isModal());
    const FormView& view = dialog.View();
    QWidget& picker = WidgetOf(view, "qmOfficerSelect");
    auto* list = picker.findChild<QListWidget*>();
    auto* filter = picker.findChild<QLineEdit*>();
    ASSERT_NE(list, nullptr);
    ASSERT_NE(filter, nullptr);
    // The first officer the station does not list yet.
    for (int i = 0; i < list->count() && picked.empty(); ++i) {
      const std::string registry = list->item(i)->text().section(' ', 0, 0).toStdString();
      if (listed.count(registry) == 0) picked = registry;
    }
    ASSERT_FALSE(picked.empty()) << "every officer of the region is listed already";

    // Narrowed to the officer by the registry number, then clicked.
    TypeInto(*filter, picked);
    QListWidgetItem* item = nullptr;
    for (int i = 0; i < list->count() && item == nullptr; ++i) {
      if (list->item(i)->text().section(' ', 0, 0).toStdString() == picked) item = list->item(i);
    }
    ASSERT_NE(item, nullptr);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualItemRect(item).center());
    auto& added = dynamic_cast<GridView&>(WidgetOf(view, "grdAddOfficers"));
    ASSERT_EQ(added.Model().rowCount(), 1);
    EXPECT_EQ(Stored(added.Grid(), 0, "INSP_ID"), picked);

    QTest::mouseClick(&WidgetOf(view, "cmdOK"), Qt::LeftButton);
  });
  shell->Click("cmdButton(5)");  // Add Troopers
  EXPECT_EQ(modalsShown, 1);
  ASSERT_FALSE(picked.empty());

  EXPECT_EQ(officersView.Model().rowCount(), listedBefore + 1);
  int found = 0;
  for (int row = 0; row < officers.RowCount(); ++row) {
    if (Stored(officers, row, "INSP_ID") != picked) continue;
    ++found;
    EXPECT_FALSE(Shown(officersView, row, "NAME").empty());
  }
  EXPECT_EQ(found, 1);
}

}  // namespace
}  // namespace fm::qt
