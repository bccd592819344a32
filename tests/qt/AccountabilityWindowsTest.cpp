// The accountability windows of the desktop end to end, offscreen, on the demo data with the
// embedded inventory: a form's history after the clerk assigned part of its range, the Forms
// Assignment grid exported and read back, the accountability report of the demo station, and
// the reassignment of a trooper's ranges (done, and refused whole when one of them changed).

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ShellTest.h"
#include "base/DelimitedText.h"
#include "controls/DataGrid.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/SiteSettings.h"
#include "protocol/Custody.h"
#include "qt/AccountabilityWindow.h"
#include "qt/FormHistoryWindow.h"
#include "qt/FormView.h"
#include "qt/GridTableModel.h"
#include "qt/ShellWindow.h"
#include "qt/TrooperReassignment.h"
#include "server/Store.h"

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

class AccountabilityWindowsTest : public testing::ShellTest {
 protected:
  AccountabilityWindowsTest() {
    Open({mData.Path(), {}, {}});
    shell->SearchRanges("a1");
  }
  ~AccountabilityWindowsTest() override { TrooperReassignment::SetChooser({}); }

  TARVO_FormsMaint& Document() { return shell->Document(); }
  GridView& Grid(const char* name) { return shell->Grid(name); }
  std::optional<int> RowFrom(std::int64_t from) {
    const DataGrid& ranges = Document().grdFormsAssignment;
    for (int row = 0; row < ranges.RowCount(); ++row) {
      if (std::stoll(Stored(ranges, row, "FRM_FORM_NBR")) == from) return row;
    }
    return std::nullopt;
  }

  // Assigns the middle of the first A1 citation range of three forms or more to a trooper
  // who does not hold it, through the Assign dialog. Answers that middle's From.
  std::int64_t AssignPartOfARange(std::string& trooper) {
    DataGrid& ranges = Document().grdFormsAssignment;
    int row = 0;
    while (row < ranges.RowCount() && std::stoll(Stored(ranges, row, "TO_FORM_NBR")) -
                                              std::stoll(Stored(ranges, row, "FRM_FORM_NBR")) <
                                          2) {
      ++row;
    }
    EXPECT_LT(row, ranges.RowCount()) << "no range of three forms in A1";
    const std::int64_t from = std::stoll(Stored(ranges, row, "FRM_FORM_NBR"));
    const std::string holder = Stored(ranges, row, "ASGND_REG_NBR");
    ClickRow(Grid("grdFormsAssignment"), row);
    const DataGrid& officers = Document().grdOfficerList;
    int officer = 0;
    while (Stored(officers, officer, "INSP_ID") == holder) ++officer;
    ClickRow(Grid("grdOfficerList"), officer);
    trooper = Stored(officers, officer, "INSP_ID");
    OnNextModal([from](ModalFormDialog& dialog) {
      for (const char* box : {"txtBox(3)", "txtBox(4)"}) {
        TypeInto(WidgetOf(dialog.View(), box), std::to_string(from + 1), true);
      }
      QTest::mouseClick(&WidgetOf(dialog.View(), "cmdOk"), Qt::LeftButton);
    });
    shell->Click("cmdButton(2)");  // Assign
    shell->WaitForReply("Saving Forms");
    return from + 1;
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
  // The demo inventory was received today: the period is today.
  report.SetPeriod(QDate::currentDate(), QDate::currentDate());
  report.Run();
  ASSERT_TRUE(WaitUntil([&] { return !report.Waiting(); }, 30s));
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
  EXPECT_EQ(FileText(reportCsv), Csv(protocol::AccountabilityCsvRecords(report.Report())));
}

TEST(AccountabilityHtmlTest, PrintedReportShowsADefectInRedAndTheCertificationLine) {
  protocol::AccountabilityReport report;
  report.parameters.holder = "A1 Capital City";
  report.parameters.fromDate = "2026-11-01";
  report.parameters.toDate = "2026-11-30";
  for (const char* type : {"C", "M"}) {
    protocol::AccountabilityLine line;
    line.formType = type;
    line.Tally(protocol::AccountLine::Received).Add({1, 10});
    line.Tally(protocol::AccountLine::Ending).Add({1, type[0] == 'C' ? 10 : 9});
    report.lines.push_back(line);
  }
  const std::string html = AccountabilityHtml(report, "Margaret <Hartley>");
  const auto defect = html.find("<tr class=\"defect\">");
  ASSERT_NE(defect, std::string::npos);
  EXPECT_EQ(html.find("<tr class=\"defect\">", defect + 1), std::string::npos);
  EXPECT_LT(html.find("<td>C "), defect);  // C balances, M does not
  EXPECT_NE(html.find("NO: off by 1"), std::string::npos);
  EXPECT_NE(html.find("Margaret &lt;Hartley&gt;"), std::string::npos);
  EXPECT_NE(html.find("Signature:"), std::string::npos);
  const auto month = LastCalendarMonth(QDate(2026, 3, 15));
  EXPECT_EQ(month.first, QDate(2026, 2, 1));
  EXPECT_EQ(month.second, QDate(2026, 2, 28));
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
  TrooperReassignment::SetChooser([&](QWidget*, const TrooperReassignment::Trooper& trooper,
                                      const std::vector<TrooperReassignment::Trooper>& others) {
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
}

}  // namespace
}  // namespace fm::qt
