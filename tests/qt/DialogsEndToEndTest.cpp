// The desktop's dialogs as a clerk uses them: the shell on the demo data with the embedded
// inventory, the New Forms view, and the Assign, Change Troop/District and Add Troopers
// dialogs opened modally from the document's buttons and driven through their widgets,
// offscreen.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "QtTestSupport.h"
#include "assignment/frmUnAssignForms.h"
#include "controls/CodesCombo.h"
#include "controls/DataGrid.h"
#include "controls/TextBox.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/ErrorReporter.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"
#include "qt/DesktopSession.h"
#include "qt/FormView.h"
#include "qt/GridTableModel.h"
#include "qt/GridView.h"
#include "qt/ModalFormDialog.h"
#include "qt/QtUiServices.h"
#include "qt/ShellWindow.h"

namespace fm::qt {
namespace {

using namespace std::chrono_literals;
using testing::MessageBoxScript;
using testing::ProcessEvents;
using testing::TempFolder;
using testing::WaitUntil;

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// A form range as the grid stores it, compared by value ("0150" is 150).
struct Range {
  std::int64_t from = 0;
  std::int64_t to = 0;
};

class DialogsEndToEndTest : public ::testing::Test {
 protected:
  DialogsEndToEndTest() {
    testing::TestApplication();
    // Every test gets its own inventory: the dialogs' saves change it.
    auto settings = std::make_shared<SiteSettings>();
    settings->SetLocalDatabaseFile(mData.Path() / "local.db");
    settings->SetInventoryFile(mData.Path() / "inventory.db");
    settings->SetLogFile({});
    session = std::make_unique<DesktopSession>(DesktopSession::Options{settings, {}});
    ShellWindow::Options options;
    options.connection = session->ConnectionText();
    window = std::make_unique<ShellWindow>(options);
    session->Ui().SetMainWindow(window.get());
    boxes.Install(session->Ui());
    window->OpenDocument();
    window->show();
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    ProcessEvents();
  }
  ~DialogsEndToEndTest() override {
    for (const auto& report : Services::Errors().Reports()) {
      ADD_FAILURE() << "reported: " << report.source << ": " << report.description;
    }
    window.reset();
    session.reset();
    for (const auto& text : unexpectedMessages) ADD_FAILURE() << "unexpected message: " << text;
  }

  TARVO_FormsMaint& Document() { return *window->Document(); }
  QWidget& W(const char* name) { return WidgetOf(*window->DocumentView(), name); }
  static QWidget& WidgetOf(const FormView& view, const char* name) {
    QWidget* widget = view.WidgetFor(name);
    if (widget == nullptr) throw std::runtime_error(std::string("no widget for ") + name);
    return *widget;
  }
  GridView& Grid(const char* name) { return dynamic_cast<GridView&>(W(name)); }
  QString Status() const { return window->StatusLabel().text(); }

  // Types into an edit box; `replace` first selects what it holds, as a clerk would
  // before typing over it.
  static void TypeInto(QWidget& box, const std::string& keys, bool replace = false) {
    box.setFocus();
    if (replace) QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(&box, QString::fromStdString(keys));
  }
  void Type(const char* box, const std::string& keys, bool replace = false) {
    TypeInto(W(box), keys, replace);
  }
  void Click(const char* name) { QTest::mouseClick(&W(name), Qt::LeftButton); }
  static QString TextOf(QWidget& widget) { return dynamic_cast<QLineEdit&>(widget).text(); }

  void ChooseFormType(const QString& description) {
    auto& combo = dynamic_cast<QComboBox&>(W("qmCboFormTypes"));
    combo.setFocus();
    const int wanted = combo.findText(description);
    ASSERT_GE(wanted, 0) << description.toStdString();
    if (combo.currentIndex() > wanted) QTest::keyClick(&combo, Qt::Key_Home);
    while (combo.currentIndex() < wanted) QTest::keyClick(&combo, Qt::Key_Down);
    EXPECT_EQ(Document().qmCboFormTypes.SelectedDescription(), description.toStdString());
  }

  // Waits until the status leaves `busy` and the ranges grid's view shows the reply.
  void WaitForReply(const QString& busy) {
    ASSERT_TRUE(WaitUntil(
        [&] {
          return Status() != busy && Grid("grdFormsAssignment").Model().rowCount() ==
                                         Document().grdFormsAssignment.RowCount();
        },
        60s))
        << "no reply while the status says " << busy.toStdString();
    EXPECT_EQ(Status(), "Ready");
  }
  void SearchAndWait() {
    Click("cmdButton(0)");
    EXPECT_EQ(Status(), "Requesting Assigned Forms and Officers");
    WaitForReply("Requesting Assigned Forms and Officers");
  }
  void SearchRanges(const std::string& troopDistrict) {
    Type("txtBox(0)", troopDistrict, true);
    ChooseFormType("ENF001 Citation");
    SearchAndWait();
  }

  // Clicks a row of a grid view as a clerk does, scrolling it into sight first.
  static void ClickRow(GridView& view, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTableView& table = view.Table();
    int column = 0;
    while (column < view.Model().columnCount() && table.isColumnHidden(column)) ++column;
    const QModelIndex index = view.Model().index(row, column);
    table.scrollTo(index);
    ProcessEvents();
    QTest::mouseClick(table.viewport(), Qt::LeftButton, modifiers,
                      table.visualRect(index).center());
  }
  // What a grid view shows in a row's cell, by the column's key.
  static std::string Shown(const GridView& view, int row, const char* key) {
    const int column = view.Grid().Column(key).Index();
    return view.Model().data(view.Model().index(row, column)).toString().toStdString();
  }
  // The stored value of a row's field.
  static std::string Stored(const DataGrid& grid, int row, const char* key) {
    return Trim(grid.BoundText(grid.BookmarkAt(row), key));
  }
  static Range RangeAt(const DataGrid& grid, int row) {
    return {std::stoll(Stored(grid, row, "FRM_FORM_NBR")),
            std::stoll(Stored(grid, row, "TO_FORM_NBR"))};
  }
  // The row holding exactly `range`, if the grid has one.
  static std::optional<int> RowOf(const DataGrid& grid, Range range) {
    for (int row = 0; row < grid.RowCount(); ++row) {
      const Range at = RangeAt(grid, row);
      if (at.from == range.from && at.to == range.to) return row;
    }
    return std::nullopt;
  }
  static bool Unassigned(const DataGrid& grid, int row) {
    const std::string registry = Stored(grid, row, "ASGND_REG_NBR");
    return registry.empty() || registry == "0";
  }
  // A range of at least three forms (so a sub-range can leave a piece on either side),
  // or -1.
  static int FirstRangeOfThree(const DataGrid& grid) {
    for (int row = 0; row < grid.RowCount(); ++row) {
      const Range range = RangeAt(grid, row);
      if (range.from >= 1 && range.to - range.from >= 2) return row;
    }
    return -1;
  }

  void AnswerNextMessage(QMessageBox::StandardButton button) { boxes.AnswerNext(button); }

  // Runs `script` inside the next modal dialog, from its own event loop, once it is the
  // active modal widget. A dialog the script leaves open (a step that failed) is closed
  // with Escape and the test fails, so a broken step never leaves the test waiting.
  void OnNextModal(std::function<void(ModalFormDialog&)> script) {
    session->Ui().SetModalObserver([this, script](ModalFormDialog& dialog) {
      ++modalsShown;
      session->Ui().SetModalObserver([](ModalFormDialog& unexpected) {
        ADD_FAILURE() << "unexpected dialog " << unexpected.objectName().toStdString();
        QTimer::singleShot(0, &unexpected,
                           [&unexpected] { QTest::keyClick(&unexpected, Qt::Key_Escape); });
      });
      QTimer::singleShot(0, &dialog, [&dialog, script] {
        EXPECT_TRUE(WaitUntil([&] { return QApplication::activeModalWidget() == &dialog; }, 10s))
            << "the dialog never became the active modal window";
        script(dialog);
        if (dialog.isVisible()) {
          ADD_FAILURE() << dialog.objectName().toStdString() << " was left open";
          QTest::keyClick(&dialog, Qt::Key_Escape);
        }
      });
    });
  }

  std::unique_ptr<DesktopSession> session;
  std::unique_ptr<ShellWindow> window;
  MessageBoxScript boxes;
  std::vector<std::string>& messages = boxes.answered;
  std::vector<std::string>& unexpectedMessages = boxes.unexpected;
  int modalsShown = 0;

 private:
  TempFolder mData;
};

TEST_F(DialogsEndToEndTest, NewFormsAddsTheTypedRangeToItsGridAndRemovesTheSelectedOne) {
  Click("optButton(1)");  // New Forms
  ASSERT_TRUE(W("fraAddForms").isVisible());
  Type("txtBox(0)", "a1");
  ChooseFormType("Wrecker Decals");
  Type("txtBox(2)", "9990001");
  Type("txtBox(3)", "9990010");
  Click("cmdButton(7)");  // Add Forms

  GridView& view = Grid("grdNewForms");
  ASSERT_EQ(view.Model().rowCount(), 1);
  EXPECT_EQ(Shown(view, 0, "FRM_FORM_NBR"), "9990001");
  EXPECT_EQ(Shown(view, 0, "TO_FORM_NBR"), "9990010");
  EXPECT_EQ(Trim(Stored(Document().grdNewForms, 0, "TRP_ID")) +
                Trim(Stored(Document().grdNewForms, 0, "TRP_DIST_ID")),
            "A1");

  ClickRow(view, 0);
  EXPECT_EQ(Document().grdNewForms.SelectedCount(), 1);
  Click("cmdButton(6)");  // Remove Forms
  EXPECT_EQ(view.Model().rowCount(), 0);
  EXPECT_EQ(Document().grdNewForms.RowCount(), 0);
}

TEST_F(DialogsEndToEndTest, AssignRefusesAFromBelowTheSelectionThenSplitsTheRangeForTheTrooper) {
  SearchRanges("a1");
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
    AnswerNextMessage(QMessageBox::Ok);
    QTest::mouseClick(&WidgetOf(view, "cmdOk"), Qt::LeftButton);
    EXPECT_EQ(messages,
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
  Click("cmdButton(2)");  // Assign: returns once the dialog has closed
  EXPECT_EQ(modalsShown, 1);
  EXPECT_EQ(messages.size(), 1U);
  EXPECT_EQ(Status(), "Saving Forms");
  WaitForReply("Saving Forms");

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
  SearchRanges("a1");
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
    AnswerNextMessage(QMessageBox::Ok);
    QTest::mouseClick(&WidgetOf(view, "cmdButton(0)"), Qt::LeftButton);
    EXPECT_EQ(messages, (std::vector<std::string>{"Troop/District has not changed."}));
    EXPECT_TRUE(dialog.isVisible());

    TypeInto(station, "b2", true);
    EXPECT_EQ(TextOf(station), "B2");
    QTest::mouseClick(&WidgetOf(view, "cmdButton(0)"), Qt::LeftButton);  // Save
  });
  Click("cmdButton(4)");  // Change Troop/District
  EXPECT_EQ(modalsShown, 1);
  EXPECT_EQ(Status(), "Saving Forms");
  WaitForReply("Saving Forms");
  EXPECT_FALSE(RowOf(ranges, moved).has_value()) << "the range is still listed in A1";

  SearchRanges("b2");
  const auto row = RowOf(ranges, moved);
  ASSERT_TRUE(row.has_value()) << "the moved range is not listed in B2";
  EXPECT_EQ(Shown(Grid("grdFormsAssignment"), *row, "TROOPDISTRICT"), "B2");
  EXPECT_TRUE(Unassigned(ranges, *row));
}

TEST_F(DialogsEndToEndTest, AddTroopersAddsTheOfficerPickedInThePickerToTheOfficerList) {
  SearchRanges("a1");
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
  Click("cmdButton(5)");  // Add Troopers
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
