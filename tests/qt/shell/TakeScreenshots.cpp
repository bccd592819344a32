// Takes the README's screenshots of the three view modes at the smallest window size the
// desktop is made for (1024 x 640) and maximised, and of the Form History and Accountability
// windows, of the windows of the uses of form numbers (Record Use, Import Form Usage, Unaccounted
// Forms, and the Form History with a use), of Stock on Hand, of a Physical Count, of the hand
// receipt an assignment opens, of the override an assignment over an allotment cap offers, and of
// the reports', the receipt's and a clearance statement's first printed pages (rendered from their
// PDFs with pdftoppm of poppler-utils): the shell on the demo data (a fresh local database and
// embedded inventory in a temporary folder), driven with keys and clicks as a clerk would.
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" build/tests/qt/qt_screenshots docs/screenshots
//
// Without a window manager to maximise it, the window is given the screen's free area,
// which is what maximising does.

#include <QAbstractButton>
#include <QApplication>
#include <QDate>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScreen>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>

#include "QtTestSupport.h"
#include "ShellDriver.h"
#include "controls/DataGrid.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/SiteSettings.h"
#include "qt/accountability/AccountabilityWindow.h"
#include "qt/count/PhysicalCountWindow.h"
#include "qt/history/FormHistoryWindow.h"
#include "qt/receipt/HandReceiptWindow.h"
#include "qt/recorduse/RecordUseWindow.h"
#include "qt/render/FormView.h"
#include "qt/render/GridTableModel.h"
#include "qt/render/GridView.h"
#include "qt/render/ModalFormDialog.h"
#include "qt/report/DateEntry.h"
#include "qt/shell/DesktopApp.h"
#include "qt/shell/DesktopSession.h"
#include "qt/shell/OverrideDialog.h"
#include "qt/shell/QtUiServices.h"
#include "qt/shell/ShellWindow.h"
#include "qt/stock/StockOnHandWindow.h"
#include "qt/unaccounted/UnaccountedFormsWindow.h"
#include "qt/usageimport/UsageImportWindow.h"
#include "server/store/Store.h"
#include "transport/EmbeddedTransport.h"
#include "transport/TransportMessageComponent.h"

namespace {

using fm::testing::ShellDriver;

void Settle() {
  for (int i = 0; i < 10; ++i) {
    QApplication::processEvents();
    QTest::qWait(30);
  }
}

void SizeTheWindow(fm::qt::ShellWindow& window, const char* size) {
  if (std::string(size) == "maximised") {
    window.showMaximized();
    Settle();
    const QRect free = window.screen()->availableGeometry();
    if (!window.isMaximized() || window.frameGeometry().size() != free.size()) {
      window.setGeometry(free);
    }
  } else {
    window.showNormal();
    window.move(0, 0);
    window.resize(1024, 640);
  }
  Settle();
}

void Shoot(QWidget& window, const std::filesystem::path& file) {
  Settle();
  const QPixmap picture = window.grab();
  if (!picture.save(QString::fromStdString(file.string()))) {
    throw std::runtime_error("cannot write " + file.string());
  }
  std::cout << "wrote " << file.string() << " (" << picture.width() << "x" << picture.height()
            << ")\n";
}

void ShootTheModes(const std::filesystem::path& out, const char* size) {
  fm::testing::TempFolder data;
  ShellDriver clerk({data.Path(), {}, {}});
  clerk.Open();
  fm::qt::ShellWindow& window = clerk.Window();
  SizeTheWindow(window, size);
  const std::string suffix = std::string("-") + size + ".png";

  // Forms Assignment: the ranges and troopers of A1, one range selected.
  clerk.SearchRanges("a1");
  fm::testing::ClickRow(clerk.Grid("grdFormsAssignment"), 1);
  Shoot(window, out / ("forms-assignment" + suffix));

  // New Forms: CVSA decals received by B2, the next range being entered.
  clerk.Click("optButton(1)");
  clerk.Type("txtBox(4)", "Received from the warehouse");
  clerk.AddRange("b2", "CVSA Decals", "990001", "990250");
  clerk.Type("txtBox(0)", "b2");
  clerk.ChooseFormType("CVSA Decals");
  clerk.Type("txtBox(2)", "990251");
  clerk.Type("txtBox(3)", "990500");
  QTest::keyClick(&clerk.W("txtBox(3)"), Qt::Key_Tab);  // leaving the box re-checks the entry
  Shoot(window, out / ("new-forms" + suffix));

  // Inactive Forms: the voided, returned and delisted receipts, with their status.
  clerk.Click("optButton(2)");
  clerk.ChooseFormType("Receipts");
  clerk.SearchAndWait();
  Shoot(window, out / ("inactive-forms" + suffix));

  // Leave without saving the example range.
  clerk.Session().Ui().SetMessageBoxObserver([](QMessageBox& box) {
    QTimer::singleShot(0, &box, [&box] { box.button(QMessageBox::No)->click(); });
  });
  window.close();
}

// The first page of a PDF as a PDF reader shows it.
void ShootPdf(const std::function<void()>& exportPdf, const std::filesystem::path& pdf,
              const std::filesystem::path& png) {
  fm::qt::GridView::SetSaveFileChooser(
      [&](QWidget*, const QString&) { return QString::fromStdString(pdf.string()); });
  exportPdf();
  fm::qt::GridView::SetSaveFileChooser({});
  if (QProcess::execute(QStringLiteral("pdftoppm"),
                        {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("110"),
                         QStringLiteral("-singlefile"), QString::fromStdString(pdf.string()),
                         QString::fromStdString(png.string())}) != 0) {
    throw std::runtime_error("pdftoppm (poppler-utils) could not render " + pdf.string());
  }
}

template <typename Window>
void AwaitAnswer(const Window& window, const char* what) {
  if (!fm::testing::WaitUntil([&] { return !window.Waiting(); })) {
    throw std::runtime_error(std::string("no answer came for ") + what);
  }
  Settle();
}

// The uses of an A1 officer's citations: one reported lost long ago at the desk, a file of
// the court's previewed (two to record, one contradicting the lost form), imported, and the
// station's unaccounted forms after it, with the lost form's history.
void ShootTheUsageWindows(const std::filesystem::path& out) {
  fm::testing::TempFolder data;
  ShellDriver clerk({data.Path(), {}, {}});
  clerk.Open();
  fm::qt::ShellWindow& window = clerk.Window();
  clerk.SearchRanges("a1");
  const fm::DataGrid& ranges = clerk.Document().grdFormsAssignment;
  int row = 0;
  while (row < ranges.RowCount() &&
         (fm::testing::Stored(ranges, row, "ASGND_REG_NBR") == "0" ||
          std::stoll(fm::testing::Stored(ranges, row, "TO_FORM_NBR")) -
                  std::stoll(fm::testing::Stored(ranges, row, "FRM_FORM_NBR")) <
              9)) {
    ++row;
  }
  if (row == ranges.RowCount()) throw std::runtime_error("no officer of A1 holds ten citations");
  const std::int64_t from = std::stoll(fm::testing::Stored(ranges, row, "FRM_FORM_NBR"));
  const std::string officer = fm::testing::Stored(ranges, row, "ASGND_REG_NBR");
  const std::string type = fm::testing::Stored(ranges, row, "FORM_TYP_CD");
  fm::testing::ClickRow(clerk.Grid("grdFormsAssignment"), row);
  Settle();

  fm::qt::RecordUseWindow* record = window.RecordUseOfSelectedRange();
  if (record == nullptr) throw std::runtime_error("no range selected to record a use of");
  record->SetNumbers(QString::number(from + 5), {});
  record->SetDisposition(fm::protocol::Disposition::Lost);
  record->Day().SetDate(QDate::currentDate().addDays(-40));
  record->SetNote(QStringLiteral("pad left at the roadside"));
  record->Record();
  AwaitAnswer(*record, "the recorded use");
  record->move(0, 0);
  Shoot(*record, out / "record-use.png");
  record->close();

  const fm::testing::TempFolder files;
  const auto csv = files.Path() / "court-november.csv";
  const std::string today = QDate::currentDate().toString(Qt::ISODate).toStdString();
  std::ofstream(csv, std::ios::binary)
      << "form_type,number,disposition,used_on,officer,reference,note\n"
      << type << ',' << from << ",ISSUED," << today << ',' << officer << ",C-2026-000871,\n"
      << type << ',' << from + 1 << ",SPOILED," << today << ',' << officer
      << ",,\"torn, rewritten on the next\"\n"
      << type << ',' << from + 5 << ",ISSUED," << today << ',' << officer << ",C-2026-000872,\n";
  fm::qt::UsageImportWindow& import = window.OpenUsageImport();
  import.SetFile(QString::fromStdString(csv.string()));
  import.SetSource(QStringLiteral("Court export, November"));
  import.Preview();
  AwaitAnswer(import, "the preview");
  import.resize(1200, 420);
  import.move(0, 0);
  Shoot(import, out / "usage-import-preview.png");
  import.Import();
  AwaitAnswer(import, "the import");
  fm::testing::WaitUntil([&] { return clerk.Status() == "Ready"; });
  import.close();

  fm::qt::UnaccountedFormsWindow& report = window.OpenUnaccounted();
  report.Run();
  AwaitAnswer(report, "the unaccounted forms");
  report.move(0, 0);
  Shoot(report, out / "unaccounted-forms.png");
  const fm::testing::TempFolder pdfFolder;
  ShootPdf([&] { report.ExportToPdf(); }, pdfFolder.Path() / "unaccounted.pdf",
           out / "unaccounted-forms-pdf");
  report.close();

  fm::qt::FormHistoryWindow& history = window.OpenFormHistory();
  history.ShowHistory(type, from + 5);
  AwaitAnswer(history, "the history");
  history.resize(1760, 420);
  history.move(0, 0);
  Shoot(history, out / "form-history-use.png");
  history.close();
  window.close();
}

// Assigns the form `number` of the selected range to the selected trooper through the Assign
// dialog, and waits for the save's answer.
void AssignOneForm(ShellDriver& clerk, const std::string& number) {
  clerk.Session().Ui().SetModalObserver([&](fm::qt::ModalFormDialog& dialog) {
    QTimer::singleShot(0, &dialog, [&dialog, number] {
      fm::testing::WaitUntil([&] { return QApplication::activeModalWidget() == &dialog; });
      for (const char* name : {"txtBox(3)", "txtBox(4)"}) {
        fm::testing::TypeInto(*dialog.View().WidgetFor(name), number, true);
      }
      QTest::mouseClick(dialog.View().WidgetFor("cmdOk"), Qt::LeftButton);
    });
  });
  QTest::mouseClick(&clerk.W("cmdButton(2)"), Qt::LeftButton);  // Assign
  clerk.Session().Ui().SetModalObserver({});
  clerk.WaitForReply("Saving Forms");
}

// The history of an A1 citation the clerk has just assigned (the grid's context action on the
// selected range) and the accountability report of A1 for today, when the demo inventory
// was received.
void ShootTheWindows(const std::filesystem::path& out) {
  fm::testing::TempFolder data;
  ShellDriver clerk({data.Path(), {}, {}});
  clerk.Open();
  fm::qt::ShellWindow& window = clerk.Window();
  clerk.SearchRanges("a1");
  auto& grid = clerk.Grid("grdFormsAssignment");
  const auto click = [](fm::qt::GridView& view, int row) {
    fm::testing::ClickRow(view, row);
    Settle();
  };
  // The clerk assigns the second form of the second range to the first trooper listed, so
  // that the history shows the receipt and the assignment with the clerk's name.
  click(grid, 1);
  click(clerk.Grid("grdOfficerList"), 0);
  const fm::DataGrid& ranges = clerk.Document().grdFormsAssignment;
  const std::int64_t second = std::stoll(fm::testing::Stored(ranges, 1, "FRM_FORM_NBR")) + 1;
  AssignOneForm(clerk, std::to_string(second));
  // The assignment's hand receipt, opened at once, and its printed page.
  fm::qt::HandReceiptWindow* receipt = nullptr;
  fm::testing::WaitUntil([&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* r = dynamic_cast<fm::qt::HandReceiptWindow*>(w); r != nullptr && r->isVisible()) {
        receipt = r;
      }
    }
    return receipt != nullptr && !receipt->Waiting() && receipt->Receipt().number > 0;
  });
  if (receipt == nullptr) throw std::runtime_error("the assignment's hand receipt did not open");
  receipt->move(0, 0);
  Shoot(*receipt, out / "hand-receipt.png");
  const fm::testing::TempFolder receiptFolder;
  ShootPdf(
      [&] {
        receipt->ExportToPdf();  // written once the server has counted the print
        AwaitAnswer(*receipt, "the print of the hand receipt");
      },
      receiptFolder.Path() / "receipt.pdf", out / "hand-receipt-pdf");
  receipt->close();
  // That trooper's clearance statement: what he was just given is open, so he is not clear.
  const auto trooper = clerk.Document().SelectedTrooper();
  if (!trooper) throw std::runtime_error("no trooper is selected for the clearance statement");
  fm::qt::UnaccountedFormsWindow& clearance = window.OpenClearance(trooper->registry);
  AwaitAnswer(clearance, "the clearance statement");
  clearance.move(0, 0);
  Shoot(clearance, out / "clearance.png");
  ShootPdf([&] { clearance.ExportToPdf(); }, receiptFolder.Path() / "clearance.pdf",
           out / "clearance-pdf");
  clearance.close();
  for (int row = 0; row < ranges.RowCount(); ++row) {
    if (std::stoll(fm::testing::Stored(ranges, row, "FRM_FORM_NBR")) == second) click(grid, row);
  }
  Settle();
  if (!grid.RunContextAction(QStringLiteral("Form History..."))) {
    throw std::runtime_error("the Form History action is not available");
  }
  fm::qt::FormHistoryWindow& history = window.OpenFormHistory();
  if (!fm::testing::WaitUntil([&] { return !history.Waiting(); })) {
    throw std::runtime_error("the history did not come");
  }
  history.resize(1760, 360);  // every column in view
  history.move(0, 0);
  Shoot(history, out / "form-history.png");

  fm::qt::AccountabilityWindow& report = window.OpenAccountability();
  report.SetPeriod(QDate::currentDate(), QDate::currentDate());
  report.Run();
  if (!fm::testing::WaitUntil([&] { return !report.Waiting(); })) {
    throw std::runtime_error("the report did not come");
  }
  report.OfficerName().setText(QStringLiteral("Margaret Hartley"));
  if (report.Lines().rowCount() > 0) report.Lines().selectRow(0);
  report.move(0, 0);
  Shoot(report, out / "accountability-report.png");
  // Its first printed page, as the PDF export writes it and a PDF reader shows it.
  const fm::testing::TempFolder pdfFolder;
  ShootPdf([&] { report.ExportToPdf(); }, pdfFolder.Path() / "report.pdf",
           out / "accountability-report-pdf");
  history.close();
  report.close();
  window.close();
}

// The stock on hand of A1 after an officer handed back a spoiled pad of citations this week,
// with a minimum of citations above what the shelf holds: the line below it, its alert, and
// the report's first printed page.
void ShootTheStockWindow(const std::filesystem::path& out) {
  fm::testing::TempFolder data;
  ShellDriver clerk({data.Path(), {}, {}});
  clerk.Open();
  fm::qt::ShellWindow& window = clerk.Window();
  clerk.SearchRanges("a1");
  const fm::DataGrid& ranges = clerk.Document().grdFormsAssignment;
  int row = 0;
  while (row < ranges.RowCount() && (fm::testing::Stored(ranges, row, "ASGND_REG_NBR") == "0" ||
                                     fm::testing::Stored(ranges, row, "FORM_TYP_CD") != "C")) {
    ++row;
  }
  if (row == ranges.RowCount()) throw std::runtime_error("no officer of A1 holds citations");
  const std::int64_t from = std::stoll(fm::testing::Stored(ranges, row, "FRM_FORM_NBR"));
  fm::testing::ClickRow(clerk.Grid("grdFormsAssignment"), row);
  Settle();
  fm::qt::RecordUseWindow* record = window.RecordUseOfSelectedRange();
  if (record == nullptr) throw std::runtime_error("no range selected to record a use of");
  record->SetNumbers(QString::number(from), QString::number(from + 24));
  record->SetDisposition(fm::protocol::Disposition::Spoiled);
  record->SetNote(QStringLiteral("pad soaked in the patrol car"));
  record->Record();
  AwaitAnswer(*record, "the recorded use");
  record->close();

  fm::qt::StockOnHandWindow& report = window.OpenStockOnHand("A1");
  AwaitAnswer(report, "the stock on hand");
  report.SetMinimum(QStringLiteral("C"), QStringLiteral("150"));
  AwaitAnswer(report, "the minimum set");
  AwaitAnswer(report, "the stock on hand again");
  report.move(0, 0);
  Shoot(report, out / "stock-on-hand.png");
  const fm::testing::TempFolder pdfFolder;
  ShootPdf([&] { report.ExportToPdf(); }, pdfFolder.Path() / "stock.pdf",
           out / "stock-on-hand-pdf");
  report.close();
  window.close();
}

// An auditor's physical count of A1's citations: every book counted but one, and a number
// that B2 holds found on A1's shelf; certified.
void ShootTheCountWindow(const std::filesystem::path& out) {
  fm::testing::TempFolder data;
  fm::EmbeddedTransport::Options inventory;
  inventory.inventoryFile = data.Path() / "inventory.db";
  inventory.user = {40, "Avery Auditor", fm::server::Role::Auditor,
                    fm::server::StationScope::Everywhere()};
  auto transport = std::make_shared<fm::EmbeddedTransport>(inventory);
  fm::server::Store& store = transport->Open();
  ShellDriver auditor({data.Path(),
                       [transport] { return fm::TransportMessageComponent::Create(transport, {}); },
                       {}});
  auditor.Open();
  fm::qt::ShellWindow& window = auditor.Window();
  auditor.SearchRanges("a1");
  fm::qt::PhysicalCountWindow& count = window.OpenPhysicalCount();
  AwaitAnswer(count, "the counts of A1");
  count.OpenCount({QStringLiteral("C")});
  AwaitAnswer(count, "the count opened");
  const auto book = count.Model().Sheet().book;
  if (book.size() < 2) throw std::runtime_error("A1 holds fewer than two books of citations");
  for (std::size_t i = 0; i + 1 < book.size(); ++i) {
    count.EnterSpan({}, QString::number(book[i].from), QString::number(book[i].to));
    AwaitAnswer(count, "the span entered");
  }
  fm::server::RangeQuery elsewhere;
  elsewhere.formType.push_back({fm::server::Comparison::Equal, "C"});
  elsewhere.troop.push_back({fm::server::Comparison::Equal, "B"});
  elsewhere.district.push_back({fm::server::Comparison::Equal, "2"});
  const auto b2 = store.FindRanges(elsewhere);
  if (b2.empty()) throw std::runtime_error("B2 holds no citations");
  count.EnterSpan({}, QString::number(b2.front().range.to), {});
  AwaitAnswer(count, "the number of B2");
  count.Certify(QStringLiteral("Counted on the shelf and with the officers, Sgt. Moore present."));
  AwaitAnswer(count, "the certification");
  count.move(0, 0);
  Shoot(count, out / "physical-count.png");
  const fm::testing::TempFolder pdfFolder;
  ShootPdf([&] { count.ExportToPdf(); }, pdfFolder.Path() / "count.pdf",
           out / "physical-count-pdf");
  count.close();
  window.close();
}

// The override an assignment over A1's allotment cap of citations offers: the refusal with
// its figures, and the reason being typed.
void ShootTheOverride(const std::filesystem::path& out) {
  fm::testing::TempFolder data;
  ShellDriver clerk({data.Path(), {}, {}});
  clerk.Open();
  fm::qt::ShellWindow& window = clerk.Window();
  clerk.SearchRanges("a1");
  const fm::DataGrid& ranges = clerk.Document().grdFormsAssignment;
  const fm::DataGrid& officers = clerk.Document().grdOfficerList;
  int officer = -1;
  std::string trooper;
  for (int r = 0; r < ranges.RowCount() && officer < 0; ++r) {
    trooper = fm::testing::Stored(ranges, r, "ASGND_REG_NBR");
    if (fm::testing::Stored(ranges, r, "RMNG_FORM_CNT") == "0") continue;
    for (int o = 0; o < officers.RowCount(); ++o) {
      if (trooper != "0" && fm::testing::Stored(officers, o, "INSP_ID") == trooper) officer = o;
    }
  }
  // The last form of a range of someone else's with forms unused (the used ones are counted
  // from the lowest number up), so that the form given counts against him.
  int row = 0;
  while (row < ranges.RowCount() && (fm::testing::Stored(ranges, row, "ASGND_REG_NBR") == trooper ||
                                     fm::testing::Stored(ranges, row, "RMNG_FORM_CNT") == "0")) {
    ++row;
  }
  if (officer < 0 || row == ranges.RowCount()) {
    throw std::runtime_error("no trooper of A1 holds unused citations");
  }
  {
    // A round cap at or under what he holds, so that one form more is over it.
    auto store =
        fm::server::OpenStore("sqlite:" + clerk.Session().Settings().InventoryFile().string());
    fm::server::RangeQuery q;
    q.registry.push_back({fm::server::Comparison::Equal, std::stoll(trooper)});
    q.formType.push_back({fm::server::Comparison::Equal, "C"});
    q.status.push_back({fm::server::Comparison::Equal, "A"});
    std::int64_t held = 0;
    for (const auto& stored : store->FindRanges(q)) {
      if (stored.range.troop + stored.range.district == "A1") held += stored.range.remaining;
    }
    store->SetAllotmentCap({"cap-a1-c", "TEST", 1001, "Margaret Hartley"},
                           {"A", "1", "C", held >= 25 ? held - held % 25 : held});
  }
  fm::testing::ClickRow(clerk.Grid("grdFormsAssignment"), row);
  fm::testing::ClickRow(clerk.Grid("grdOfficerList"), officer);
  Settle();
  const std::string from = fm::testing::Stored(ranges, row, "TO_FORM_NBR");
  clerk.boxes.AnswerNext(QMessageBox::Ok);  // the screen's own word of the refusal
  AssignOneForm(clerk, from);
  fm::qt::OverrideDialog* dialog = window.OfferOverride();
  if (dialog == nullptr) throw std::runtime_error("the assignment was not refused over the cap");
  QTest::keyClicks(dialog->findChild<QPlainTextEdit*>(QStringLiteral("overrideReason")),
                   QStringLiteral("Court detail next week: a second book approved by Lt. Ames"));
  dialog->move(0, 0);
  Shoot(*dialog, out / "save-override.png");
  dialog->reject();
  window.close();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: qt_screenshots OUTPUT_FOLDER\n";
    return 2;
  }
  const std::filesystem::path out = argv[1];
  try {
    QApplication app(argc, argv);
    fm::qt::ApplyDesktopLook(app);
    // The agency's own date format, whatever the machine taking the pictures uses.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    std::filesystem::create_directories(out);
    for (const char* size : {"1024x640", "maximised"}) ShootTheModes(out, size);
    ShootTheWindows(out);
    ShootTheUsageWindows(out);
    ShootTheStockWindow(out);
    ShootTheCountWindow(out);
    ShootTheOverride(out);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "qt_screenshots: " << e.what() << '\n';
    return 1;
  }
}
