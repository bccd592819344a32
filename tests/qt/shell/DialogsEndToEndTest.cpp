// The desktop's dialogs as a clerk uses them: the shell on the demo data with the embedded
// inventory, and the Change Troop/District and Add Troopers dialogs opened modally from the
// document's buttons and driven through their widgets, offscreen. (The Assign dialog is
// driven the same way by the accountability windows' test.)

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <set>
#include <string>
#include <vector>

#include "ShellTest.h"
#include "controls/DataGrid.h"
#include "document/TARVO_FormsMaint.h"
#include "qt/render/FormView.h"
#include "qt/render/GridTableModel.h"
#include "qt/render/GridView.h"
#include "qt/render/ModalFormDialog.h"
#include "qt/shell/ShellWindow.h"

namespace fm::qt {
namespace {

using testing::ClickRow;
using testing::Shown;
using testing::Stored;
using testing::TypeInto;
using testing::WidgetOf;

QString TextOf(QWidget& widget) { return dynamic_cast<QLineEdit&>(widget).text(); }
// Whether the grid lists the range `from`-`to` (compared by value: "0150" is 150).
bool Lists(const DataGrid& grid, const std::string& from, const std::string& to) {
  for (int row = 0; row < grid.RowCount(); ++row) {
    if (std::stoll(Stored(grid, row, "FRM_FORM_NBR")) == std::stoll(from) &&
        std::stoll(Stored(grid, row, "TO_FORM_NBR")) == std::stoll(to)) {
      return true;
    }
  }
  return false;
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

TEST_F(DialogsEndToEndTest, ChangeTroopDistrictMovesTheSelectedRangeToTheTypedStation) {
  shell->SearchRanges("a1");
  DataGrid& ranges = Document().grdFormsAssignment;
  ASSERT_GT(ranges.RowCount(), 0);
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
    TypeInto(station, "b2", true);
    EXPECT_EQ(TextOf(station), "B2");
    QTest::mouseClick(&WidgetOf(view, "cmdButton(0)"), Qt::LeftButton);  // Save
  });
  shell->Click("cmdButton(4)");  // Change Troop/District
  EXPECT_EQ(modalsShown, 1);
  EXPECT_EQ(shell->Status(), "Saving Forms");
  shell->WaitForReply("Saving Forms");
  // Where it went is the duty-station tests' business; here, that the save was made.
  EXPECT_FALSE(Lists(ranges, from, to)) << "the range is still listed in A1";
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
