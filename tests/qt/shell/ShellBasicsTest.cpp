// The basics a clerk expects of the desktop, end to end on the demo data: the connection
// light, sorting by a column heading, what the status bar says a search found, copying and
// exporting rows, Enter in the criteria, the focus after a search and the tab order.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QTableView>
#include <QTest>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "ShellTest.h"
#include "controls/CodesCombo.h"
#include "controls/DataGrid.h"
#include "controls/Form.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/PlatformError.h"
#include "platform/Recordset.h"
#include "qt/render/GridTableModel.h"
#include "qt/render/GridView.h"
#include "qt/shell/QtHostFrame.h"
#include "qt/shell/ShellWindow.h"
#include "transport/EmbeddedTransport.h"
#include "transport/TransportMessageComponent.h"

namespace fm::qt {
namespace {

using namespace std::chrono_literals;
using testing::ShellDriver;
using testing::TempFolder;
using testing::WaitUntil;
using Light = QtHostFrame::Light;

// The embedded inventory, or a server that is down, or one that does not answer.
class SwitchableTransport final : public MessageTransport {
 public:
  enum class Mode { Answer, Fail, Hang };

  // The inventory is created here rather than in the first exchange, which the short
  // time-out of the light's test would cut off on a loaded machine.
  explicit SwitchableTransport(EmbeddedTransport::Options options)
      : mInventory(std::move(options)) {
    mInventory.Open();
  }

  protocol::Reply Exchange(const protocol::Request& request) override {
    Mode mode;
    {
      std::unique_lock lock(mMutex);
      mode = mMode;
      if (mode == Mode::Hang) {
        mChanged.wait(lock, [&] { return mReleased || mCancelled; });
        throw PlatformError(PlatformError::kGeneric, "The exchange was given up.");
      }
    }
    if (mode == Mode::Fail) {
      throw PlatformError(PlatformError::kGeneric,
                          "The forms server at http://forms:8750 could not be reached "
                          "(Connection refused).");
    }
    return mInventory.Exchange(request);
  }
  void Cancel() override {
    std::lock_guard lock(mMutex);
    mCancelled = true;
    mChanged.notify_all();
  }
  void SetMode(Mode mode) {
    std::lock_guard lock(mMutex);
    mMode = mode;
    mReleased = mode != Mode::Hang;
    mChanged.notify_all();
  }

 private:
  EmbeddedTransport mInventory;
  std::mutex mMutex;
  std::condition_variable mChanged;
  Mode mMode = Mode::Answer;
  bool mReleased = true;
  bool mCancelled = false;
};

class ShellBasicsTest : public testing::ShellTest {
 protected:
  QTableView& Table() { return shell->Grid("grdFormsAssignment").Table(); }
  GridTableModel& Model() { return shell->Grid("grdFormsAssignment").Model(); }
  DataGrid& Ranges() { return shell->Document().grdFormsAssignment; }
  int ColumnOf(const char* key) { return Ranges().Column(key).Index(); }
  void ClickRow(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    testing::ClickRow(shell->Grid("grdFormsAssignment"), row, modifiers);
  }
  void ClickHeading(const char* key) {
    QHeaderView& header = *Table().horizontalHeader();
    const int column = ColumnOf(key);
    const QPoint at(header.sectionViewportPosition(column) + header.sectionSize(column) / 2,
                    header.height() / 2);
    QTest::mouseClick(header.viewport(), Qt::LeftButton, Qt::NoModifier, at);
  }
  // The column as the view shows it, top to bottom.
  std::vector<long long> Numbers(const char* key) {
    std::vector<long long> numbers;
    for (int row = 0; row < Model().rowCount(); ++row) {
      numbers.push_back(Model().data(Model().index(row, ColumnOf(key))).toString().toLongLong());
    }
    return numbers;
  }
  std::vector<int> SelectedRowsShown() {
    std::vector<int> rows;
    for (const QModelIndex& index : Table().selectionModel()->selectedRows()) {
      rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }
};

TEST_F(ShellBasicsTest, TheLightIsGreyUntilTheFirstExchangeGreenWhenAnsweredRedWhenNot) {
  EmbeddedTransport::Options inventory;
  inventory.inventoryFile = testing::SharedDataFolder().Path() / "inventory.db";
  auto transport = std::make_shared<SwitchableTransport>(inventory);
  Open({{},
        [transport] {
          TransportMessageComponent::Options options;
          options.timeout = 700ms;
          return TransportMessageComponent::Create(transport, options);
        },
        {}});
  QtHostFrame& frame = shell->Window().HostFrame();
  QLabel& light = shell->Window().ConnectionLabel();
  EXPECT_EQ(frame.ConnectionLight(), Light::Unknown);
  EXPECT_NE(light.styleSheet().indexOf("#777777"), -1);
  EXPECT_EQ(light.toolTip(), "No exchange with the forms server yet");

  shell->SearchRanges("a1");
  EXPECT_EQ(frame.ConnectionLight(), Light::Good);
  EXPECT_NE(light.styleSheet().indexOf("#1d7a1d"), -1);
  EXPECT_TRUE(light.toolTip().startsWith("The forms server answered at 20"))
      << light.toolTip().toStdString();

  // The server is down: the reply the document is told of has failed, and so has the light,
  // although the document still calls its second status as for any reply.
  transport->SetMode(SwitchableTransport::Mode::Fail);
  shell->boxes.AnswerNext(QMessageBox::Ok);
  shell->Click("cmdButton(0)");
  ASSERT_TRUE(WaitUntil([&] { return frame.ConnectionLight() == Light::Bad; }));
  ASSERT_TRUE(WaitUntil([&] { return shell->Status() == "Search was not successful"; }));
  EXPECT_TRUE(frame.SecondStatus());
  EXPECT_NE(light.styleSheet().indexOf("#b3261e"), -1);
  EXPECT_NE(light.toolTip().indexOf("failed at 20"), -1) << light.toolTip().toStdString();
  EXPECT_NE(light.toolTip().indexOf("could not be reached"), -1);

  // Back to green, then no answer in time: red again, with the time-out's reason.
  transport->SetMode(SwitchableTransport::Mode::Answer);
  shell->SearchAndWait();
  EXPECT_EQ(frame.ConnectionLight(), Light::Good);
  transport->SetMode(SwitchableTransport::Mode::Hang);
  shell->boxes.AnswerNext(QMessageBox::Ok);
  shell->Click("cmdButton(0)");
  ASSERT_TRUE(WaitUntil([&] { return shell->Status() == "Search timed out"; }));
  EXPECT_EQ(frame.ConnectionLight(), Light::Bad);
  EXPECT_TRUE(light.toolTip().startsWith("No answer at 20")) << light.toolTip().toStdString();
  EXPECT_NE(light.toolTip().indexOf("did not answer within"), -1);
  transport->SetMode(SwitchableTransport::Mode::Answer);
}

TEST_F(ShellBasicsTest, TheStatusBarSaysWhatWasFoundAndAHeadingClickSortsKeepingTheSelection) {
  Open();
  EXPECT_EQ(shell->Window().SummaryLabel().text(), "");
  shell->SearchRanges("a1");
  // In stock: in use ("A") and taken back from an officer ("U", described "Unassign").
  long stock = 0;
  long long forms[2] = {0, 0};  // in stock, delisted
  for (long row = 0; row < Ranges().RowCount(); ++row) {
    const std::string status = testing::Stored(Ranges(), static_cast<int>(row), "TRP_ACTN_CD");
    const bool inStock = status == "A" || status == "U";
    stock += inStock ? 1 : 0;
    forms[inStock ? 0 : 1] += std::stoll(Ranges().CellTextAt(row, "TO_FORM_NBR")) -
                              std::stoll(Ranges().CellTextAt(row, "FRM_FORM_NBR")) + 1;
  }
  const long delisted = Ranges().RowCount() - stock;
  ASSERT_GT(delisted, 0) << "the demo's A1 holds delisted ranges";
  EXPECT_EQ(
      shell->Window().SummaryLabel().text().toStdString(),
      fmt::format("{} ranges, {} forms in stock; {} delisted ({} forms) \u00B7 {} troopers", stock,
                  forms[0], delisted, forms[1], shell->Document().grdOfficerList.RowCount()));

  ASSERT_GT(Model().rowCount(), 3);
  ClickRow(1);
  ASSERT_TRUE(shell->W("cmdButton(4)").isEnabled());
  const DataGrid::Bookmark picked = Ranges().SelectedBookmarks().at(0);
  // Remaining forms run from one digit to two: as texts "9" would follow "58".
  ClickHeading("RMNG_FORM_CNT");
  const std::vector<long long> ascending = Numbers("RMNG_FORM_CNT");
  EXPECT_TRUE(std::is_sorted(ascending.begin(), ascending.end()));
  EXPECT_LT(ascending.front(), 10);
  EXPECT_GE(ascending.back(), 10);
  ClickHeading("RMNG_FORM_CNT");
  const std::vector<long long> descending = Numbers("RMNG_FORM_CNT");
  EXPECT_TRUE(std::is_sorted(descending.rbegin(), descending.rend()));
  EXPECT_EQ(Table().horizontalHeader()->sortIndicatorSection(), ColumnOf("RMNG_FORM_CNT"));
  EXPECT_EQ(Table().horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);

  // The range picked is still the only one selected, shown where it now stands, and what
  // one selected range allows stays allowed.
  ASSERT_EQ(Ranges().SelectedBookmarks(), std::vector<DataGrid::Bookmark>{picked});
  EXPECT_EQ(SelectedRowsShown(), std::vector<int>{static_cast<int>(Ranges().IndexOf(picked))});
  EXPECT_TRUE(shell->W("cmdButton(4)").isEnabled());
  EXPECT_TRUE(shell->W("cmdButton(2)").isEnabled());
}

// What an export writes is read back in the accountability windows' test.
TEST_F(ShellBasicsTest, CtrlCCopiesTheSelectedRowsAndAnExportThatCannotBeWrittenIsSaidSo) {
  Open();
  shell->SearchRanges("a1");
  ClickRow(2);
  ClickRow(0, Qt::ControlModifier);
  Table().setFocus();
  QApplication::clipboard()->clear();
  QTest::keyClick(&Table(), Qt::Key_C, Qt::ControlModifier);
  // The rows picked, in the grid's order, their visible columns as shown.
  const auto row = [&](int index) {
    return "A1\tENF001 Citation\t" + Ranges().CellTextAt(index, "FRM_FORM_NBR") + "\t" +
           Ranges().CellTextAt(index, "TO_FORM_NBR") + "\t" +
           Ranges().CellTextAt(index, "ASSIGNED_TO") + "\t";
  };
  const QStringList lines = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[0].startsWith(QString::fromStdString(row(0)))) << lines[0].toStdString();
  EXPECT_TRUE(lines[1].startsWith(QString::fromStdString(row(2)))) << lines[1].toStdString();

  const TempFolder out;
  const QString path = QString::fromStdString((out.Path() / "no" / "x.csv").string());
  GridView::SetSaveFileChooser([&](QWidget*, const QString&) { return path; });
  // A file that cannot be written is said so, and nothing is left half written.
  shell->boxes.AnswerNext(QMessageBox::Ok);
  shell->Grid("grdFormsAssignment").ExportToCsv();
  ASSERT_EQ(shell->boxes.answered.size(), 1u);
  EXPECT_NE(shell->boxes.answered[0].find("could not be written"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(out.Path() / "no"));
}

TEST_F(ShellBasicsTest, EnterInTheFormTypeComboSearchesAndTheFocusGoesToTheGrid) {
  Open();
  shell->Click("optButton(2)");  // Inactive Forms: the combo is the only criterion
  shell->ChooseFormType("Receipts");
  auto& combo = dynamic_cast<QComboBox&>(shell->W("qmCboFormTypes"));
  ASSERT_TRUE(combo.hasFocus());
  QTest::keyClick(&combo, Qt::Key_Return);
  EXPECT_EQ(shell->Status(), "Requesting Assigned Forms and Officers");
  ASSERT_TRUE(WaitUntil([&] { return Ranges().RowCount() > 0 && Table().hasFocus(); }))
      << "focus on "
      << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString()
                                      : "nothing");
  EXPECT_EQ(shell->Document().ActiveControl(), &Ranges());
}

struct TabCase {
  int mode;
  std::vector<const char*> order;
};

TEST_F(ShellBasicsTest, TabFollowsTheReadingOrderOfEachViewMode) {
  Open();
  shell->SearchRanges("a1");  // the grids and their buttons take part once there are results
  ClickRow(0);
  // Each mode's controls in reading order; Tab passes over those disabled at the moment.
  const TabCase cases[] = {
      {0,
       {"optButton(0)", "optButton(1)", "optButton(2)", "txtBox(0)", "qmCboFormTypes", "txtBox(1)",
        "cmdButton(0)", "cmdButton(1)", "txtBox(7)", "grdFormsAssignment", "grdOfficerList",
        "cmdButton(2)", "cmdButton(3)", "cmdButton(4)", "cmdButton(5)"}},
      {1,
       {"optButton(0)", "optButton(1)", "optButton(2)", "txtBox(0)", "qmCboFormTypes", "txtBox(2)",
        "txtBox(3)", "txtBox(4)", "cmdButton(7)", "cmdButton(6)", "grdNewForms"}},
      {2,
       {"optButton(0)", "optButton(1)", "optButton(2)", "qmCboFormTypes", "cmdButton(0)",
        "cmdButton(1)", "grdFormsAssignment", "cmdButton(2)", "cmdButton(3)", "cmdButton(4)"}},
  };
  for (const TabCase& c : cases) {
    const std::string option = "optButton(" + std::to_string(c.mode) + ")";
    shell->Click(option.c_str());
    std::vector<std::string> expected;
    for (const char* name : c.order) {
      if (shell->W(name).isEnabled()) expected.emplace_back(name);
    }
    shell->W("optButton(0)").setFocus();
    std::vector<std::string> visited;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      QWidget* focus = QApplication::focusWidget();
      ASSERT_NE(focus, nullptr);
      // A grid takes the focus in its table.
      auto* grid = dynamic_cast<GridView*>(focus->parentWidget());
      visited.push_back((grid ? grid : focus)->objectName().toStdString());
      QTest::keyClick(focus, Qt::Key_Tab);
    }
    EXPECT_EQ(visited, expected) << "mode " << c.mode;
  }
}

}  // namespace
}  // namespace fm::qt
