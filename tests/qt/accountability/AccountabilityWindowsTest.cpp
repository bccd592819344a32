// The accountability windows of the desktop end to end, offscreen, on the demo data with the
// embedded inventory: a form's history after the clerk assigned part of its range, the Forms
// Assignment grid exported and read back, the accountability report of the demo station, and
// the reassignment of a trooper's ranges (done, and refused whole when one of them changed).
// The models behind the windows have tests of their own in tests/shell.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ShellTest.h"
#include "base/DelimitedText.h"
#include "controls/DataGrid.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/SiteSettings.h"
#include "protocol/Custody.h"
#include "qt/accountability/AccountabilityWindow.h"
#include "qt/history/FormHistoryWindow.h"
#include "qt/receipt/HandReceiptWindow.h"
#include "qt/render/FormView.h"
#include "qt/render/GridTableModel.h"
#include "qt/report/DateEntry.h"
#include "qt/shell/OverrideDialog.h"
#include "qt/shell/ShellWindow.h"
#include "qt/unaccounted/UnaccountedFormsWindow.h"
#include "server/store/Store.h"
#include "shell/SearchSummary.h"
#include "shell/TrooperReassignment.h"

namespace fm::qt {
namespace {

using namespace std::chrono_literals;
using testing::ClickRow;
using testing::Stored;
using testing::TypeInto;
using testing::WaitUntil;
using testing::WidgetOf;

std::string FileText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}
// What an export of `records` holds (the writer's quoting has tests of its own).
std::string Csv(const std::vector<std::vector<std::string>>& records) {
  std::ostringstream out;
  CsvWriter writer(out);
  for (const auto& record : records) writer.WriteRecord(record);
  return out.str();
}

// A window of the shell opens over the middle of the main window, as far as the screen
// lets it: off only by half of what does not fit on the screen, and never above or left of it.
void ExpectCentredOver(const QWidget& window, const QWidget& owner) {
  const QRect frame = window.frameGeometry();
  const QRect free = owner.screen()->availableGeometry();
  const QPoint off = frame.center() - owner.frameGeometry().center();
  EXPECT_LE(std::abs(off.x()), 1 + std::max(0, frame.width() - free.width()) / 2)
      << window.objectName().toStdString() << " is off by " << off.x();
  EXPECT_LE(std::abs(off.y()), 1 + std::max(0, frame.height() - free.height()) / 2)
      << window.objectName().toStdString() << " is off by " << off.y();
  EXPECT_TRUE(free.contains(frame.topLeft())) << window.objectName().toStdString();
}

class AccountabilityWindowsTest : public testing::ShellTest {
 protected:
  AccountabilityWindowsTest() {
    // The clerk's dates in the United States' short format.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    Open({mData.Path(), {}, {}});
    shell->SearchRanges("a1");
  }
  ~AccountabilityWindowsTest() override {
    shell::TrooperReassignment::SetChooser({});
    QLocale::setDefault(QLocale::system());
  }

  TARVO_FormsMaint& Document() { return shell->Document(); }
  GridView& Grid(const char* name) { return shell->Grid(name); }
  std::optional<int> RowFrom(std::int64_t from) {
    const DataGrid& ranges = Document().grdFormsAssignment;
    for (int row = 0; row < ranges.RowCount(); ++row) {
      if (std::stoll(Stored(ranges, row, "FRM_FORM_NBR")) == from) return row;
    }
    return std::nullopt;
  }

  // Assigns one form inside the first A1 citation range of three forms or more to a trooper
  // who does not hold it (to `trooper` when one is given), through the Assign dialog: the
  // second form, or with `unused` the last but one, of a range with two unused forms or more
  // (the used ones are counted from the lowest number up). Answers the form's number.
  std::int64_t AssignPartOfARange(std::string& trooper, bool unused = false) {
    DataGrid& ranges = Document().grdFormsAssignment;
    auto fits = [&](int row) {
      const std::int64_t size = std::stoll(Stored(ranges, row, "TO_FORM_NBR")) -
                                std::stoll(Stored(ranges, row, "FRM_FORM_NBR")) + 1;
      return size >= 3 && Stored(ranges, row, "ASGND_REG_NBR") != trooper &&
             (!unused || std::stoll(Stored(ranges, row, "RMNG_FORM_CNT")) >= 2);
    };
    int row = 0;
    while (row < ranges.RowCount() && !fits(row)) ++row;
    EXPECT_LT(row, ranges.RowCount()) << "no range of three forms in A1";
    const std::int64_t form = unused ? std::stoll(Stored(ranges, row, "TO_FORM_NBR")) - 1
                                     : std::stoll(Stored(ranges, row, "FRM_FORM_NBR")) + 1;
    const std::string holder = Stored(ranges, row, "ASGND_REG_NBR");
    ClickRow(Grid("grdFormsAssignment"), row);
    const DataGrid& officers = Document().grdOfficerList;
    int officer = 0;
    while (trooper.empty() ? Stored(officers, officer, "INSP_ID") == holder
                           : Stored(officers, officer, "INSP_ID") != trooper) {
      ++officer;
    }
    ClickRow(Grid("grdOfficerList"), officer);
    trooper = Stored(officers, officer, "INSP_ID");
    OnNextModal([form](ModalFormDialog& dialog) {
      for (const char* box : {"txtBox(3)", "txtBox(4)"}) {
        TypeInto(WidgetOf(dialog.View(), box), std::to_string(form), true);
      }
      QTest::mouseClick(&WidgetOf(dialog.View(), "cmdOk"), Qt::LeftButton);
    });
    shell->Click("cmdButton(2)");  // Assign
    shell->WaitForReply("Saving Forms");
    return form;
  }

  testing::TempFolder out;

 private:
  testing::TempFolder mData;
};

TEST_F(AccountabilityWindowsTest, HistoryAndReportShowTheClerksAssignmentAndEverythingExports) {
  std::string trooper;
  const std::int64_t assigned = AssignPartOfARange(trooper);
  const auto row = RowFrom(assigned);
  ASSERT_TRUE(row) << "the assigned piece is not in the grid";
  EXPECT_EQ(Stored(Document().grdFormsAssignment, *row, "ASGND_REG_NBR"), trooper);

  // The context action of the grid, on the piece just assigned.
  ClickRow(Grid("grdFormsAssignment"), *row);
  ASSERT_TRUE(Grid("grdFormsAssignment").RunContextAction("Form History..."));
  FormHistoryWindow& history = shell->Window().OpenFormHistory();
  ASSERT_TRUE(WaitUntil([&] { return !history.Waiting(); }, 30s));
  EXPECT_TRUE(history.isVisible());
  EXPECT_EQ(history.NumberBox().text().toLongLong(), assigned);
  QTableWidget& table = history.Table();
  ASSERT_EQ(table.rowCount(), 2) << history.StatusLine().text().toStdString();
  auto cell = [&](int r, int c) { return table.item(r, c)->text().toStdString(); };
  EXPECT_EQ(cell(0, 2), "received with the initial inventory");
  EXPECT_EQ(cell(1, 1), "Margaret Hartley");  // user 1001, the clerk of the settings
  // "assigned to ..." or, the demo's ranges being held already, "reassigned from ... to ...".
  EXPECT_NE(cell(1, 2).find("assigned"), std::string::npos) << cell(1, 2);
  EXPECT_NE(cell(1, 2).find("(" + trooper + ")"), std::string::npos) << cell(1, 2);
  EXPECT_EQ(cell(1, 3), std::to_string(assigned));
  EXPECT_NE(history.Summary().text().toStdString().find("(" + trooper + ")"), std::string::npos)
      << history.Summary().text().toStdString();
  // The form type and the statuses in words, not codes.
  EXPECT_EQ(cell(1, 5), "Activate");
  EXPECT_EQ(history.StatusLine().text().toStdString(),
            fmt::format("2 changes of form {} of ENF001 Citation.", assigned));
  ExpectCentredOver(history, shell->Window());

  // The grid to CSV, read back: exactly the rows the grid shows, in its order.
  const auto csv = out.Path() / "ranges.csv";
  GridView::SetSaveFileChooser(
      [&](QWidget*, const QString&) { return QString::fromStdString(csv.string()); });
  GridView& ranges = Grid("grdFormsAssignment");
  ranges.ExportToCsv();
  std::vector<int> shown;
  std::vector<std::vector<std::string>> expected(1);
  for (int c = 0; c < ranges.Model().columnCount(); ++c) {
    if (ranges.Table().isColumnHidden(c)) continue;
    shown.push_back(c);
    expected[0].push_back(ranges.Model().headerData(c, Qt::Horizontal).toString().toStdString());
  }
  for (int r = 0; r < ranges.Model().rowCount(); ++r) {
    auto& record = expected.emplace_back();
    for (int c : shown) {
      record.push_back(ranges.Model().data(ranges.Model().index(r, c)).toString().toStdString());
    }
  }
  EXPECT_EQ(FileText(csv), Csv(expected));

  // The history as shown, to CSV.
  const auto historyCsv = out.Path() / "history.csv";
  GridView::SetSaveFileChooser(
      [&](QWidget*, const QString&) { return QString::fromStdString(historyCsv.string()); });
  history.ExportToCsv();
  const std::string whoDidWhat = CsvField("Margaret Hartley") + "," + CsvField(cell(1, 2)) + ",";
  EXPECT_NE(FileText(historyCsv).find(whoDidWhat), std::string::npos) << whoDidWhat;

  // The accountability report of the demo station, assignment included.
  shell->Window().AccountabilityAction().trigger();
  AccountabilityWindow& report = shell->Window().OpenAccountability();
  EXPECT_TRUE(report.isVisible());
  ExpectCentredOver(report, shell->Window());
  // The demo inventory was received today: the period is today, typed as a clerk types it
  // (leading zeros), and Enter in the box runs the report.
  const QDate today = QDate::currentDate();
  const QString typed = today.toString(QStringLiteral("MM/dd/yyyy"));
  for (DateBox* box : {&report.FirstDay(), &report.LastDay()})
    TypeInto(*box, typed.toStdString(), true);
  QTest::keyClick(&report.LastDay(), Qt::Key_Return);
  ASSERT_TRUE(WaitUntil([&] { return !report.Waiting(); }, 30s));
  EXPECT_EQ(report.Report().parameters.fromDate, today.toString(Qt::ISODate).toStdString());
  EXPECT_EQ(report.Report().parameters.toDate, today.toString(Qt::ISODate).toStdString());
  EXPECT_EQ(report.LastDay().text(), today.toString(QStringLiteral("M/d/yyyy")));
  EXPECT_EQ(report.Report().parameters.troop + report.Report().parameters.district, "A1");
  const QTableWidget& reportLines = report.Lines();
  ASSERT_GT(reportLines.rowCount(), 1) << report.StatusLine().text().toStdString();
  const int balanced = reportLines.columnCount() - 1;
  for (int r = 0; r < reportLines.rowCount(); ++r) {
    EXPECT_EQ(reportLines.item(r, balanced)->text(), "yes")
        << reportLines.item(r, 0)->text().toStdString();
    EXPECT_NE(reportLines.item(r, 0)->foreground().color(), QColor(176, 0, 0));
    EXPECT_EQ(report.Report().lines[static_cast<std::size_t>(r)].Imbalance(), 0);
  }
  EXPECT_EQ(report.StatusLine().text(), "Every line balances.");
  // The status bar counts as in stock what the report counts in the ending balance (the
  // search was of the citations).
  std::int64_t ending = -1;
  for (const auto& line : report.Report().lines) {
    if (line.formType == "C") ending = line.Tally(protocol::AccountLine::Ending).count;
  }
  const std::string summary = shell->Window().SummaryLabel().text().toStdString();
  EXPECT_NE(summary.find(" " + shell::GroupedNumber(ending) + " forms in stock; "),
            std::string::npos)
      << summary << " (ending balance " << ending << ")";

  // PDF with the certification line, and the reportLines a spreadsheet opens.
  report.OfficerName().setText("Margaret Hartley");
  const auto pdf = out.Path() / "report.pdf";
  const auto reportCsv = out.Path() / "report.reportCsv";
  GridView::SetSaveFileChooser([&](QWidget*, const QString& suggested) {
    return QString::fromStdString((suggested.endsWith(".pdf") ? pdf : reportCsv).string());
  });
  report.ExportToPdf();
  std::ifstream in(pdf, std::ios::binary);
  std::string head(5, '\0');
  in.read(head.data(), 5);
  EXPECT_EQ(head, "%PDF-");
  EXPECT_GT(std::filesystem::file_size(pdf), 2000u) << "a PDF of a heading only";
  EXPECT_FALSE(std::filesystem::exists(pdf.string() + ".partial"));
  report.ExportToCsv();
  auto records = protocol::AccountabilityCsvRecords(report.Report());
  for (auto& record : shell::CertificationCsvRecords("Margaret Hartley")) records.push_back(record);
  EXPECT_EQ(FileText(reportCsv), Csv(records));

  // A wrong date is said, and nothing is asked for.
  TypeInto(report.FirstDay(), "13/45/2026", true);
  QTest::keyClick(&report.FirstDay(), Qt::Key_Return);
  EXPECT_FALSE(report.Waiting());
  EXPECT_EQ(report.StatusLine().text().toStdString(),
            fmt::format("The From date \"13/45/2026\" is not a date: type it as M/d/yyyy, e.g. {}.",
                        today.toString(QStringLiteral("M/d/yyyy")).toStdString()));
  // Escape closes both windows.
  for (QWidget* window : {static_cast<QWidget*>(&report), static_cast<QWidget*>(&history)}) {
    window->activateWindow();
    QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible()) << window->objectName().toStdString();
  }
}

// Dates typed in the locale's short format read back as the date shown; the year is always
// written in four digits.
TEST(DateEntryTest, TypedDatesReadBackExactlyInEveryLocale) {
  const struct {
    const char* locale;
    const char* format;
    const char* typed;
    QDate read;
  } cases[] = {
      {"en_US", "M/d/yyyy", "12/07/2026", {2026, 12, 7}},
      {"en_US", "M/d/yyyy", " 12/7/26 ", {2026, 12, 7}},
      {"en_US", "M/d/yyyy", "2026-12-07", {2026, 12, 7}},
      {"en_US", "M/d/yyyy", "13/07/2026", {}},
      {"en_GB", "dd/MM/yyyy", "7/12/2026", {2026, 12, 7}},
      {"de_DE", "dd.MM.yyyy", "07.12.26", {2026, 12, 7}},
      {"de_DE", "dd.MM.yyyy", "12/07/2026", {}},
      {"C", "d MMM yyyy", "7 Dec 2026", {2026, 12, 7}},
      {"en_US", "M/d/yyyy", "", {}},
  };
  for (const auto& c : cases) {
    const QLocale locale(QString::fromLatin1(c.locale));
    EXPECT_EQ(DateEntryFormat(locale), QString::fromLatin1(c.format)) << c.locale;
    EXPECT_EQ(ReadDateEntry(QString::fromLatin1(c.typed), locale), c.read)
        << c.locale << " \"" << c.typed << "\"";
  }
  const char* asked = std::getenv("FM_SEED");
  const unsigned seed =
      asked ? static_cast<unsigned>(std::strtoul(asked, nullptr, 10)) : std::random_device()();
  SCOPED_TRACE("FM_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  for (int i = 0; i < 2000; ++i) {
    const QDate date = QDate(1950, 1, 1).addDays(random() % 60000);
    for (const char* name : {"en_US", "en_GB", "de_DE", "fr_CA", "ja_JP", "C"}) {
      const QLocale locale(QString::fromLatin1(name));
      EXPECT_EQ(ReadDateEntry(DateEntryText(date, locale), locale), date)
          << name << " " << DateEntryText(date, locale).toStdString();
    }
  }
}

// The station caps the citations one officer holds; one who holds some already is given one
// more: the save is refused with the figures, the shell offers the override, and the same
// assignment passes with the reason, which the form's history shows.
TEST_F(AccountabilityWindowsTest, AnAssignmentOverACapPassesWithAnOverrideTheHistoryShows) {
  const DataGrid& ranges = Document().grdFormsAssignment;
  const DataGrid& officers = Document().grdOfficerList;
  std::string trooper;
  for (int r = 0; r < ranges.RowCount() && trooper.empty(); ++r) {
    const std::string registry = Stored(ranges, r, "ASGND_REG_NBR");
    if (registry == "0" || Stored(ranges, r, "TRP_ACTN_CD") != "A" ||
        Stored(ranges, r, "RMNG_FORM_CNT") == "0") {
      continue;
    }
    for (int o = 0; o < officers.RowCount(); ++o) {
      if (Stored(officers, o, "INSP_ID") == registry) trooper = registry;
    }
  }
  ASSERT_FALSE(trooper.empty()) << "no trooper of A1 holds unused citations";
  {
    auto store = server::OpenStore("sqlite:" + Services::Settings().InventoryFile().string());
    store->SetAllotmentCap({"cap-a1-c", "TEST", 1001, "Margaret Hartley"}, {"A", "1", "C", 1});
  }
  shell->boxes.AnswerNext(QMessageBox::Ok);  // the refusal
  const std::int64_t assigned = AssignPartOfARange(trooper, true);
  ASSERT_EQ(shell->boxes.answered.size(), 1u);
  EXPECT_NE(shell->boxes.answered[0].find("over its allotment cap of 1"), std::string::npos)
      << shell->boxes.answered[0];
  EXPECT_FALSE(RowFrom(assigned)) << "the grid shows the piece the refused save would split off";
  ASSERT_TRUE(shell->Window().OverrideButton().isVisible());

  OverrideDialog* dialog = shell->Window().OfferOverride();
  ASSERT_NE(dialog, nullptr);
  auto* save = dialog->findChild<QAbstractButton*>(QStringLiteral("saveWithOverride"));
  auto* problem = dialog->findChild<QLabel*>(QStringLiteral("overrideProblem"));
  QTest::mouseClick(save, Qt::LeftButton);  // no reason yet
  EXPECT_FALSE(problem->text().isEmpty());
  EXPECT_TRUE(dialog->isVisible());
  QTest::keyClicks(dialog->findChild<QPlainTextEdit*>(QStringLiteral("overrideReason")),
                   QStringLiteral("Court detail: two books for the week"));
  QTest::mouseClick(save, Qt::LeftButton);
  ASSERT_TRUE(WaitUntil(
      [&] {
        const auto row = RowFrom(assigned);
        return row && Stored(ranges, *row, "ASGND_REG_NBR") == trooper &&
               shell->Status() == "Ready";
      },
      30s));
  EXPECT_FALSE(shell->Window().OverrideButton().isVisible());
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (dynamic_cast<HandReceiptWindow*>(w) != nullptr) w->close();
  }

  ClickRow(Grid("grdFormsAssignment"), *RowFrom(assigned));
  ASSERT_TRUE(Grid("grdFormsAssignment").RunContextAction("Form History..."));
  FormHistoryWindow& history = shell->Window().OpenFormHistory();
  ASSERT_TRUE(WaitUntil([&] { return !history.Waiting(); }, 30s));
  QTableWidget& table = history.Table();
  ASSERT_EQ(table.rowCount(), 2) << history.StatusLine().text().toStdString();
  EXPECT_EQ(table.item(1, 9)->text(), QStringLiteral("Court detail: two books for the week"));
  EXPECT_EQ(table.item(0, 9)->text(), QString());
}

TEST_F(AccountabilityWindowsTest, ReassigningATroopersRangesMovesAllOrNone) {
  const DataGrid& ranges = Document().grdFormsAssignment;
  const DataGrid& officers = Document().grdOfficerList;
  // A trooper of A1 who holds ranges in use, and a colleague of the same station.
  std::string from;
  for (int r = 0; r < ranges.RowCount() && from.empty(); ++r) {
    const std::string registry = Stored(ranges, r, "ASGND_REG_NBR");
    if (registry == "0" || Stored(ranges, r, "TRP_ACTN_CD") != "A") continue;
    for (int o = 0; o < officers.RowCount(); ++o) {
      if (Stored(officers, o, "INSP_ID") == registry) {
        from = registry;
        ClickRow(Grid("grdOfficerList"), o);
      }
    }
  }
  ASSERT_FALSE(from.empty()) << "no trooper of A1 holds a citation range in use";
  std::int64_t to = 0;
  using Trooper = shell::TrooperReassignment::Trooper;
  shell::TrooperReassignment::SetChooser(
      [&](const Trooper& trooper, const std::vector<Trooper>& others) {
        EXPECT_EQ(std::to_string(trooper.registry), from);
        EXPECT_FALSE(others.empty());
        for (const auto& o : others) EXPECT_EQ(o.troop + o.district, "A1");
        to = others.front().registry;
        return std::optional<std::int64_t>(to);
      });
  auto store = server::OpenStore("sqlite:" + Services::Settings().InventoryFile().string());
  auto held = [&](std::int64_t registry) {
    server::RangeQuery q;
    q.registry.push_back({server::Comparison::Equal, registry});
    q.troop.push_back({server::Comparison::Equal, "A"});
    q.district.push_back({server::Comparison::Equal, "1"});
    q.status.push_back({server::Comparison::Equal, "A"});
    return store->FindRanges(q);
  };
  const auto before = held(std::stoll(from));
  ASSERT_FALSE(before.empty());

  std::vector<std::string>& said = shell->boxes.answered;
  // One of the ranges changes while the clerk reads the question: the save is refused whole.
  shell->Session().Ui().SetMessageBoxObserver([&](QMessageBox& box) {
    said.push_back(box.text().toStdString());
    server::RangeChange comment;
    comment.action = server::RangeChange::Action::Update;
    const server::FormRange& r = before.front().range;
    comment.formType = r.formType;
    comment.from = r.from;
    comment.to = r.to;
    comment.troop = r.troop;
    comment.district = r.district;
    comment.comment = "counted again";
    comment.rowVersion = before.front().version;
    store->ApplyChanges({"other-clerk", "TEST", 1002, "John Smith"}, {comment});
    shell->boxes.AnswerNext(QMessageBox::Ok);  // the refusal
    QTimer::singleShot(0, &box, [&box] { box.button(QMessageBox::Yes)->click(); });
  });
  ASSERT_TRUE(Grid("grdOfficerList").RunContextAction("Reassign all ranges of this trooper..."));
  ASSERT_TRUE(WaitUntil([&] { return said.size() == 2; }, 30s));
  EXPECT_NE(said[1].find("were not reassigned; nothing was changed"), std::string::npos) << said[1];
  EXPECT_NE(said[1].find("was changed by John Smith"), std::string::npos) << said[1];
  EXPECT_EQ(held(std::stoll(from)).size(), before.size());

  // Again, with nothing in between: every range goes, and the grid shows it.
  said.clear();
  shell->boxes.AnswerNext(QMessageBox::Yes);
  ASSERT_TRUE(Grid("grdOfficerList").RunContextAction("Reassign all ranges of this trooper..."));
  ASSERT_TRUE(WaitUntil([&] { return said.size() == 1; }, 30s));
  shell->boxes.AnswerNext(QMessageBox::Ok);
  ASSERT_TRUE(WaitUntil([&] { return said.size() == 2; }, 30s));
  EXPECT_EQ(said[1].rfind(fmt::format("Reassigned {} range", before.size()), 0), 0u) << said[1];
  EXPECT_TRUE(held(std::stoll(from)).empty());
  EXPECT_EQ(held(to).size() >= before.size(), true);
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (int r = 0; r < ranges.RowCount(); ++r) {
          if (Stored(ranges, r, "ASGND_REG_NBR") == from) return false;
        }
        return shell->Status() == "Ready";
      },
      30s));

  // The colleague signs for what he now holds: one hand receipt, a line per range, opened at
  // once; a PDF counts as a print, so the second one says COPY.
  HandReceiptWindow* receipt = nullptr;
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
          auto* r = dynamic_cast<HandReceiptWindow*>(w);
          if (r != nullptr && r->isVisible() && !r->Waiting() && r->Receipt().number > 0) {
            receipt = r;
          }
        }
        return receipt != nullptr;
      },
      30s));
  EXPECT_EQ(receipt->Receipt().registry, to);
  EXPECT_EQ(receipt->Receipt().lines.size(), before.size());
  EXPECT_EQ(receipt->Lines().rowCount(), static_cast<int>(before.size()));
  const auto pdf = std::filesystem::temp_directory_path() /
                   fmt::format("receipt-{}.pdf", receipt->Receipt().number);
  for (int print = 0; print < 2; ++print) {
    receipt->ExportToPdf(QString::fromStdString(pdf.string()));
    ASSERT_TRUE(WaitUntil([&] { return !receipt->Waiting(); }, 30s));
    EXPECT_EQ(receipt->Receipt().IsCopy(), print == 1);
  }
  EXPECT_GT(std::filesystem::file_size(pdf), 0u);
  std::filesystem::remove(pdf);
  receipt->close();

  // The trooper's clearance statement, from the troopers grid: his forms wherever held, and
  // its verdict in the status line.
  ASSERT_TRUE(Grid("grdOfficerList").RunContextAction("Clearance Statement..."));
  UnaccountedFormsWindow* clearance = nullptr;
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
          auto* c = dynamic_cast<UnaccountedFormsWindow*>(w);
          if (c != nullptr && c->objectName() == "clearanceWindow" && !c->Waiting() &&
              c->Report().registry) {
            clearance = c;
          }
        }
        return clearance != nullptr;
      },
      30s));
  EXPECT_EQ(std::to_string(*clearance->Report().registry), from);
  const std::string verdict = clearance->StatusLine().text().toStdString();
  EXPECT_TRUE(verdict.rfind("CLEAR: ", 0) == 0 || verdict.rfind("NOT CLEAR: ", 0) == 0) << verdict;
  clearance->close();
}

}  // namespace
}  // namespace fm::qt
