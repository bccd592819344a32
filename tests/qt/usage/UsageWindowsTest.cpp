// The windows of the uses of form numbers end to end, offscreen, on the demo data with the
// embedded inventory: a file of uses refused for a bad line, previewed, imported and then
// changing nothing; uses recorded on the selected range with the remaining count following;
// the uses in the form's history; the unaccounted forms of the station, to CSV and PDF; the
// stock on hand with a minimum set, and the status bar's alert after a search.
// The models behind the windows have tests of their own in tests/shell.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <fstream>
#include <sstream>
#include <string>

#include "ShellTest.h"
#include "base/DelimitedText.h"
#include "controls/DataGrid.h"
#include "document/TARVO_FormsMaint.h"
#include "qt/history/FormHistoryWindow.h"
#include "qt/recorduse/RecordUseWindow.h"
#include "qt/report/DateEntry.h"
#include "qt/shell/ShellWindow.h"
#include "qt/stock/StockOnHandWindow.h"
#include "qt/unaccounted/UnaccountedFormsWindow.h"
#include "qt/usageimport/UsageImportWindow.h"

namespace fm::qt {
namespace {

using namespace std::chrono_literals;
using testing::ClickRow;
using testing::Stored;
using testing::WaitUntil;

std::string FileText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

class UsageWindowsTest : public testing::ShellTest {
 protected:
  UsageWindowsTest() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    Open({mData.Path(), {}, {}});
    shell->SearchRanges("a1");
    // A range of ten forms or more that an officer holds, none of them used yet.
    const DataGrid& ranges = shell->Document().grdFormsAssignment;
    for (row = 0; row < ranges.RowCount(); ++row) {
      from = std::stoll(Stored(ranges, row, "FRM_FORM_NBR"));
      officer = Stored(ranges, row, "ASGND_REG_NBR");
      size = std::stoll(Stored(ranges, row, "TO_FORM_NBR")) - from + 1;
      if (size >= 10 && officer != "0") break;
    }
    EXPECT_LT(row, ranges.RowCount()) << "no officer of A1 holds ten citations";
    type = Stored(ranges, row, "FORM_TYP_CD");
  }
  ~UsageWindowsTest() override { QLocale::setDefault(QLocale::system()); }

  std::string Remaining() {
    return Stored(shell->Document().grdFormsAssignment, row, "RMNG_FORM_CNT");
  }
  // Once the shell has run its search again, the range's remaining count is its size less
  // its used forms (the count recorded before uses gives way at the first use).
  bool RemainingFollows(std::int64_t used) {
    const std::string count = std::to_string(size - used);
    return WaitUntil([&] { return shell->Status() == "Ready" && Remaining() == count; }, 30s);
  }
  static std::string Day(int daysAgo) {
    return QDate::currentDate().addDays(-daysAgo).toString(Qt::ISODate).toStdString();
  }

  testing::TempFolder out;
  int row = 0;
  std::int64_t from = 0;
  std::int64_t size = 0;
  std::string officer;
  std::string type;

 private:
  testing::TempFolder mData;
};

TEST_F(UsageWindowsTest, AFileIsPreviewedThenImportedOnceAndABadOneOnlyCancelled) {
  const std::string before = Remaining();
  const auto write = [&](const char* name, const std::string& lines) {
    const auto path = out.Path() / name;
    std::ofstream(path, std::ios::binary)
        << "form_type,number,disposition,used_on,officer,reference,note\n"
        << lines;
    return QString::fromStdString(path.string());
  };
  const std::string good =
      fmt::format("{0},{1},ISSUED,{2},{3},C-2026-1,\n{0},{4},spoiled,{2},{3},,torn\n", type, from,
                  Day(0), officer, from + 1);
  shell->Window().ImportUsageAction().trigger();
  UsageImportWindow& window = shell->Window().OpenUsageImport();
  window.SetSource("Court export");
  const auto preview = [&](const QString& file) {
    window.SetFile(file);
    window.Preview();
    EXPECT_TRUE(WaitUntil([&] { return !window.Waiting(); }, 30s));
    return window.Summary().text().toStdString();
  };

  // A bad line: listed with its number, and nothing but Cancel is offered.
  EXPECT_NE(preview(write("bad.csv", good + type + ",12x,LOST," + Day(0) + ",,,\n"))
                .find("1 line of the 3 lines are bad"),
            std::string::npos);
  ASSERT_EQ(window.Table().rowCount(), 1);
  EXPECT_EQ(window.Table().item(0, 0)->text(), "4");
  EXPECT_NE(window.Table().item(0, 2)->text().toStdString().find("12x"), std::string::npos);
  EXPECT_FALSE(window.ImportButton().isEnabled());

  const QString file = write("november.csv", good);
  EXPECT_EQ(preview(file),
            "2 lines: 2 uses to record, 0 already recorded, 0 conflicts kept "
            "apart. Import to record them, or Cancel.");
  EXPECT_EQ(Remaining(), before) << "a preview stores nothing";
  ASSERT_TRUE(window.ImportButton().isEnabled());
  window.ImportButton().click();
  ASSERT_TRUE(WaitUntil([&] { return !window.Waiting(); }, 30s));
  EXPECT_EQ(window.StatusLine().text().toStdString(),
            "Imported 2 lines: 2 uses recorded, 0 already recorded, 0 conflicts kept apart.");
  EXPECT_TRUE(RemainingFollows(2)) << Remaining();

  EXPECT_NE(preview(file).find("importing it again changes nothing"), std::string::npos);
  EXPECT_FALSE(window.ImportButton().isEnabled());
}

TEST_F(UsageWindowsTest, UsesRecordedOnARangeShowInItsHistoryAndTheUnaccountedForms) {
  ClickRow(shell->Grid("grdFormsAssignment"), row);
  ASSERT_TRUE(shell->Grid("grdFormsAssignment").RunContextAction("Record Use..."));
  RecordUseWindow* record = shell->Window().RecordUseOfSelectedRange();
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->Officer().text().toStdString(), officer);
  EXPECT_EQ(record->Day().Date(), QDate::currentDate());
  // The sixth form reported lost long ago: the five below it count as skipped.
  record->SetNumbers(QString::number(from + 5), {});
  record->SetDisposition(protocol::Disposition::Lost);
  record->Day().SetDate(QDate::currentDate().addDays(-40));
  record->Record();
  ASSERT_TRUE(WaitUntil([&] { return !record->Waiting(); }, 30s));
  EXPECT_EQ(record->StatusLine().text().toStdString(),
            fmt::format("Recorded form {}: Lost.", from + 5));
  EXPECT_TRUE(RemainingFollows(1)) << Remaining();

  ClickRow(shell->Grid("grdFormsAssignment"), row);
  record = shell->Window().RecordUseOfSelectedRange();
  ASSERT_NE(record, nullptr);
  record->SetNumbers(QString::number(from + 1), QString::number(from + 2));
  record->SetReference("C-2026-7");
  record->Record();
  ASSERT_TRUE(WaitUntil([&] { return !record->Waiting(); }, 30s));
  EXPECT_EQ(record->StatusLine().text().toStdString(),
            fmt::format("Recorded 2 forms ({}-{}): Issued.", from + 1, from + 2));
  EXPECT_TRUE(RemainingFollows(3)) << Remaining();

  FormHistoryWindow& history = shell->Window().OpenFormHistory();
  history.ShowHistory(type, from + 5);
  ASSERT_TRUE(WaitUntil([&] { return !history.Waiting(); }, 30s));
  ASSERT_EQ(history.UsesTable().rowCount(), 1) << history.StatusLine().text().toStdString();
  EXPECT_TRUE(history.UsesTable().isVisible());
  EXPECT_EQ(history.UsesTable().item(0, 1)->text(), "Lost");
  EXPECT_EQ(history.UsesTable().item(0, 5)->text(), "Handed back at the desk");

  shell->Window().UnaccountedAction().trigger();
  UnaccountedFormsWindow& report = shell->Window().OpenUnaccounted();
  report.Run();  // the station of the last search, as of today, 30 days
  ASSERT_TRUE(WaitUntil([&] { return !report.Waiting(); }, 30s));
  ASSERT_EQ(report.Report().troop + report.Report().district, "A1")
      << report.StatusLine().text().toStdString();
  std::int64_t unaccounted = -1;
  for (const auto& line : report.Report().lines) {
    if (line.formType == type && std::to_string(line.registry) == officer) {
      unaccounted = line.unaccounted.count;
    }
  }
  EXPECT_EQ(unaccounted, 3) << "the first, fourth and fifth forms";
  EXPECT_TRUE(report.StatusLine().styleSheet().contains("#b00000"));
  EXPECT_GT(report.Lines().rowCount(), 0);
  EXPECT_EQ(report.Exceptions().rowCount(), static_cast<int>(report.Report().exceptions.size()));

  const auto csv = out.Path() / "unaccounted.csv";
  const auto pdf = out.Path() / "unaccounted.pdf";
  GridView::SetSaveFileChooser([&](QWidget*, const QString& suggested) {
    return QString::fromStdString((suggested.endsWith(".pdf") ? pdf : csv).string());
  });
  report.ExportToCsv();
  std::ostringstream expected;
  CsvWriter writer(expected);
  for (const auto& line : protocol::ReconciliationCsvRecords(report.Report()))
    writer.WriteRecord(line);
  EXPECT_EQ(FileText(csv), expected.str());
  report.ExportToPdf();
  EXPECT_EQ(FileText(pdf).substr(0, 5), "%PDF-");
  EXPECT_EQ(report.StatusLine().text().toStdString(), "Exported to " + pdf.string() + ".");
}

TEST_F(UsageWindowsTest, AMinimumAboveTheShelfShowsInTheReportAndAfterASearchOfTheStation) {
  QPushButton& alert = shell->Window().StockAlertButton();
  EXPECT_TRUE(alert.isHidden());
  shell->Window().StockAction().trigger();
  StockOnHandWindow& report = shell->Window().OpenStockOnHand();
  ASSERT_TRUE(WaitUntil([&] { return !report.Waiting(); }, 30s));
  report.SetMinimum(QString::fromStdString(type), QStringLiteral("999999"));
  ASSERT_TRUE(WaitUntil([&] { return !report.Waiting() && !report.Report().alerts.empty(); }, 30s))
      << report.StatusLine().text().toStdString();
  bool below = false;
  for (const auto& line : report.Report().lines) {
    below = below || (line.formType == type && protocol::BelowMinimum(line));
  }
  EXPECT_TRUE(below);
  EXPECT_EQ(report.Alerts().rowCount(), 1);
  report.close();

  shell->SearchRanges("a1");
  ASSERT_TRUE(WaitUntil([&] { return !alert.isHidden(); }, 30s));
  EXPECT_TRUE(alert.text().startsWith("Stock below minimum: A1 ")) << alert.text().toStdString();
  alert.click();
  EXPECT_TRUE(report.isVisible());
  ASSERT_TRUE(WaitUntil([&] { return !report.Waiting(); }, 30s));
  report.SetMinimum(QString::fromStdString(type), QStringLiteral("0"));
  ASSERT_TRUE(WaitUntil([&] { return !report.Waiting() && report.Report().alerts.empty(); }, 30s));
  shell->SearchRanges("a1");
  EXPECT_TRUE(WaitUntil([&] { return alert.isHidden(); }, 30s));
}

}  // namespace
}  // namespace fm::qt
