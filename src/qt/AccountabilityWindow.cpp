#include "qt/AccountabilityWindow.h"

#include <fmt/format.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTableWidget>
#include <QTextDocument>
#include <QVBoxLayout>
#include <filesystem>
#include <sstream>

#include "base/DelimitedText.h"
#include "base/Text.h"
#include "platform/AtomicFile.h"
#include "platform/PlatformError.h"
#include "platform/Services.h"
#include "platform/UiServices.h"
#include "qt/GridView.h"
#include "qt/QtText.h"
#include "qt/ShellExchange.h"
#include "qt/ShellText.h"

namespace fm::qt {

namespace {

using protocol::AccountLine;

const QColor kDefect(176, 0, 0);
const QColor kDefectBackground(255, 224, 224);

QString Count(std::int64_t n) { return QLocale(QLocale::English).toString(n); }

QString ImbalanceText(std::int64_t imbalance) {
  return imbalance == 0 ? QObject::tr("yes") : QObject::tr("NO: off by %1").arg(Count(imbalance));
}

QString PeriodText(const protocol::AccountabilityParameters& p) {
  const QDate first = QDate::fromString(ToQString(p.fromDate), Qt::ISODate);
  const QDate last = QDate::fromString(ToQString(p.toDate), Qt::ISODate);
  return QStringLiteral("%1 to %2")
      .arg(first.toString(QStringLiteral("MM/dd/yyyy")),
           last.toString(QStringLiteral("MM/dd/yyyy")));
}

// The rows of the range list of one form type: each line, the delisted ones by reason too.
struct RangeRow {
  QString line;
  QString reason;
  std::int64_t count;
  QString ranges;
};
std::vector<RangeRow> RangeRows(const protocol::AccountabilityReport& report,
                                const protocol::AccountabilityLine& line) {
  std::vector<RangeRow> rows;
  for (AccountLine kind : protocol::kAccountLines) {
    const auto& tally = line.Tally(kind);
    rows.push_back({QString::fromUtf8(protocol::AccountLineCaption(kind)), QString(), tally.count,
                    ToQString(protocol::SerialRangesText(tally.ranges))});
    if (kind != AccountLine::Delisted) continue;
    for (const auto& [code, byReason] : line.delistedByReason) {
      auto description = report.reasonDescriptions.find(code);
      rows.push_back({QString(),
                      ToQString(description == report.reasonDescriptions.end()
                                    ? code
                                    : code + " " + description->second),
                      byReason.count, ToQString(protocol::SerialRangesText(byReason.ranges))});
    }
  }
  return rows;
}

}  // namespace

std::pair<QDate, QDate> LastCalendarMonth(const QDate& today) {
  const QDate first = QDate(today.year(), today.month(), 1).addMonths(-1);
  return {first, first.addMonths(1).addDays(-1)};
}

std::string AccountabilityHtml(const protocol::AccountabilityReport& report,
                               const std::string& certifier) {
  const auto& p = report.parameters;
  QString html = QStringLiteral(
      "<html><head><style>"
      "body { font-family: sans-serif; font-size: 9pt; }"
      "table { border-collapse: collapse; }"
      "th, td { border: 1px solid #888; padding: 2px 4px; }"
      "td.n { text-align: right; }"
      "tr.defect td { color: #b00000; background-color: #ffe0e0; }"
      "</style></head><body>");
  html += QStringLiteral("<h2>Accountable Forms Report</h2><p><b>%1</b><br>Period: %2<br>")
              .arg(ToQString(p.holder).toHtmlEscaped(), PeriodText(p));
  html += QStringLiteral("Form types: %1<br>Computed: %2</p>")
              .arg(p.formType.empty() ? QStringLiteral("all") : ToQString(p.formType),
                   LocalTimeText(p.computedAt));
  html += QStringLiteral("<table><tr><th>Form type</th>");
  for (AccountLine kind : protocol::kAccountLines) {
    html +=
        QStringLiteral("<th>%1</th>").arg(QString::fromUtf8(protocol::AccountLineCaption(kind)));
  }
  html += QStringLiteral("<th>Issued</th><th>Balanced</th></tr>");
  for (const auto& line : report.lines) {
    const bool defect = line.Imbalance() != 0;
    html += defect ? QStringLiteral("<tr class=\"defect\">") : QStringLiteral("<tr>");
    html += QStringLiteral("<td>%1 %2</td>")
                .arg(ToQString(line.formType), ToQString(line.description).toHtmlEscaped());
    for (AccountLine kind : protocol::kAccountLines) {
      html += QStringLiteral("<td class=\"n\">%1</td>").arg(Count(line.Tally(kind).count));
    }
    html += QStringLiteral("<td class=\"n\">%1</td><td>%2</td></tr>")
                .arg(Count(line.issued), ImbalanceText(line.Imbalance()));
  }
  html += QStringLiteral("</table>");
  for (const auto& line : report.lines) {
    html += QStringLiteral("<h3>%1 %2: serial numbers</h3><table>")
                .arg(ToQString(line.formType), ToQString(line.description).toHtmlEscaped());
    html += QStringLiteral("<tr><th>Line</th><th>Reason</th><th>Count</th><th>Ranges</th></tr>");
    for (const auto& row : RangeRows(report, line)) {
      html += QStringLiteral("<tr><td>%1</td><td>%2</td><td class=\"n\">%3</td><td>%4</td></tr>")
                  .arg(row.line.toHtmlEscaped(), row.reason.toHtmlEscaped(), Count(row.count),
                       row.ranges.toHtmlEscaped());
    }
    html += QStringLiteral("</table>");
  }
  html += QStringLiteral(
              "<p><br>I certify that this report accounts for every form in the custody named "
              "above for the period shown.</p><p>Accountable officer: <b>%1</b>"
              "&nbsp;&nbsp;&nbsp;&nbsp;Signature: ______________________________"
              "&nbsp;&nbsp;&nbsp;&nbsp;Date: ______________</p></body></html>")
              .arg(certifier.empty() ? QStringLiteral("______________________________")
                                     : ToQString(certifier).toHtmlEscaped());
  return ToStdString(html);
}

AccountabilityWindow::AccountabilityWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      mExchange(std::make_unique<ShellExchange>("Accountability")),
      mStation(new QLineEdit(this)),
      mWholeTroop(new QCheckBox(tr("Whole troop"), this)),
      mOfficer(new QLineEdit(this)),
      mFormType(new QComboBox(this)),
      mFirst(new QDateEdit(this)),
      mLast(new QDateEdit(this)),
      mRun(new QPushButton(tr("&Run"), this)),
      mHeading(new QLabel(this)),
      mLines(new QTableWidget(this)),
      mRanges(new QTableWidget(this)),
      mCertifier(new QLineEdit(this)),
      mStatus(new QLabel(this)),
      mCsv(new QPushButton(tr("Export to &CSV..."), this)),
      mPdf(new QPushButton(tr("Export to &PDF..."), this)),
      mPrint(new QPushButton(tr("&Print..."), this)) {
  setObjectName(QStringLiteral("accountabilityWindow"));
  setWindowTitle(tr("Accountability Report"));
  mStation->setObjectName(QStringLiteral("reportStation"));
  mStation->setMaxLength(3);
  mStation->setPlaceholderText(tr("e.g. A1"));
  mOfficer->setObjectName(QStringLiteral("reportOfficer"));
  mOfficer->setPlaceholderText(tr("registry #, optional"));
  mFormType->addItem(tr("All form types"), QString());
  for (const auto& [code, description] : LocalCodeEntries("FORMTYPE")) {
    mFormType->addItem(ToQString(description), ToQString(code));
  }
  for (QDateEdit* date : {mFirst, mLast}) {
    date->setCalendarPopup(true);
    date->setDisplayFormat(QStringLiteral("MM/dd/yyyy"));
  }
  const auto [first, last] = LastCalendarMonth(QDate::currentDate());
  SetPeriod(first, last);
  mRun->setDefault(true);
  mHeading->setObjectName(QStringLiteral("reportHeading"));
  QFont bold = mHeading->font();
  bold.setBold(true);
  mHeading->setFont(bold);
  mStatus->setObjectName(QStringLiteral("reportStatus"));
  mCertifier->setObjectName(QStringLiteral("reportCertifier"));
  mCertifier->setPlaceholderText(tr("name of the accountable officer"));

  QStringList headings{tr("Form type")};
  for (AccountLine kind : protocol::kAccountLines) {
    headings << QString::fromUtf8(protocol::AccountLineCaption(kind));
  }
  headings << tr("Issued") << tr("Balanced");
  mLines->setObjectName(QStringLiteral("reportLines"));
  mLines->setColumnCount(static_cast<int>(headings.size()));
  mLines->setHorizontalHeaderLabels(headings);
  mRanges->setObjectName(QStringLiteral("reportRanges"));
  mRanges->setColumnCount(4);
  mRanges->setHorizontalHeaderLabels({tr("Line"), tr("Reason"), tr("Count"), tr("Ranges")});
  for (QTableWidget* table : {mLines, mRanges}) {
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
  }
  for (QPushButton* b : {mCsv, mPdf, mPrint}) b->setEnabled(false);

  auto* entries = new QGridLayout;
  entries->addWidget(new QLabel(tr("Troop/District:"), this), 0, 0);
  entries->addWidget(mStation, 0, 1);
  entries->addWidget(mWholeTroop, 0, 2);
  entries->addWidget(new QLabel(tr("Officer:"), this), 0, 3);
  entries->addWidget(mOfficer, 0, 4);
  entries->addWidget(new QLabel(tr("Form type:"), this), 0, 5);
  entries->addWidget(mFormType, 0, 6);
  entries->addWidget(new QLabel(tr("From:"), this), 1, 0);
  entries->addWidget(mFirst, 1, 1);
  entries->addWidget(new QLabel(tr("To:"), this), 1, 3);
  entries->addWidget(mLast, 1, 4);
  entries->addWidget(mRun, 1, 6);
  auto* certification = new QGroupBox(tr("Certification"), this);
  auto* certify = new QHBoxLayout(certification);
  certify->addWidget(new QLabel(tr("Accountable officer:"), certification));
  certify->addWidget(mCertifier, 1);
  certify->addWidget(
      new QLabel(tr("Signature: ______________________   Date: ____________"), certification));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(mStatus, 1);
  buttons->addWidget(mCsv);
  buttons->addWidget(mPdf);
  buttons->addWidget(mPrint);
  auto* close = new QPushButton(tr("Close"), this);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(entries);
  layout->addWidget(mHeading);
  layout->addWidget(mLines, 2);
  layout->addWidget(mRanges, 3);
  layout->addWidget(certification);
  layout->addLayout(buttons);
  resize(1200, 640);

  connect(mRun, &QPushButton::clicked, this, [this] { Run(); });
  connect(mCsv, &QPushButton::clicked, this, [this] { ExportToCsv(); });
  connect(mPdf, &QPushButton::clicked, this, [this] { ExportToPdf(); });
  connect(mPrint, &QPushButton::clicked, this, [this] { Print(); });
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  connect(mLines, &QTableWidget::currentCellChanged, this,
          [this](int row, int, int, int) { ShowRanges(row); });
}

AccountabilityWindow::~AccountabilityWindow() = default;

bool AccountabilityWindow::Waiting() const { return mExchange->Waiting(); }

void AccountabilityWindow::SetStation(const QString& station, bool wholeTroop) {
  mStation->setText(station.trimmed().toUpper());
  mWholeTroop->setChecked(wholeTroop);
}

void AccountabilityWindow::SetOfficer(const QString& registry) { mOfficer->setText(registry); }

void AccountabilityWindow::SetFormType(const std::string& code) {
  const int index = mFormType->findData(ToQString(code));
  mFormType->setCurrentIndex(index < 0 ? 0 : index);
}

void AccountabilityWindow::SetPeriod(const QDate& first, const QDate& last) {
  mFirst->setDate(first);
  mLast->setDate(last);
}

void AccountabilityWindow::SetStatus(const QString& text, bool problem) {
  mStatus->setText(text);
  mStatus->setStyleSheet(problem ? QStringLiteral("color: #b00000;") : QString());
}

void AccountabilityWindow::Run() {
  std::string station = ToStdString(mStation->text().trimmed().toUpper());
  const std::string officer = ToStdString(mOfficer->text().trimmed());
  if (station.empty() && officer.empty()) {
    SetStatus(tr("Type a Troop/District, an officer's registry number, or both."), true);
    return;
  }
  if (mWholeTroop->isChecked()) station = station.substr(0, 1);
  std::vector<std::pair<std::string, std::string>> criteria;
  if (!station.empty()) {
    criteria.emplace_back("TRP_ID", station.substr(0, 1));
    if (station.size() > 1) criteria.emplace_back("TRP_DIST_ID", station.substr(1));
  }
  if (!officer.empty()) criteria.emplace_back("ASGND_REG_NBR", officer);
  const std::string type = ToStdString(mFormType->currentData().toString());
  if (!type.empty()) criteria.emplace_back("REF_TYP_CD", type);
  criteria.emplace_back("FROM_DT", ToStdString(mFirst->date().toString(Qt::ISODate)));
  criteria.emplace_back("TO_DT", ToStdString(mLast->date().toString(Qt::ISODate)));
  SetStatus(tr("Computing the report..."), false);
  mRun->setEnabled(false);
  mExchange->Send(
      protocol::kAccountabilityMessage, criteria,
      {protocol::kAccountParameterDataSet, protocol::kAccountLineDataSet,
       protocol::kAccountSpanDataSet},
      [this](const std::string& error, const ShellExchange::DataSets& sets) {
        mRun->setEnabled(true);
        if (!error.empty()) {
          SetStatus(ToQString(error), true);
          return;
        }
        try {
          Show(protocol::AccountabilityFromDataSets(sets));
        } catch (const std::exception& e) {
          SetStatus(ToQString(fmt::format("The report could not be read: {}", e.what())), true);
        }
      });
}

void AccountabilityWindow::Show(const protocol::AccountabilityReport& report) {
  mReport = report;
  mHeading->setText(QStringLiteral("%1 \u2014 %2")
                        .arg(ToQString(report.parameters.holder), PeriodText(report.parameters)));
  mLines->setRowCount(0);
  mLines->setRowCount(static_cast<int>(report.lines.size()));
  int defects = 0;
  for (int row = 0; row < static_cast<int>(report.lines.size()); ++row) {
    const auto& line = report.lines[static_cast<std::size_t>(row)];
    QStringList cells{ToQString(line.formType + " " + line.description)};
    for (AccountLine kind : protocol::kAccountLines) cells << Count(line.Tally(kind).count);
    cells << Count(line.issued) << ImbalanceText(line.Imbalance());
    const bool defect = line.Imbalance() != 0;
    defects += defect ? 1 : 0;
    for (int column = 0; column < cells.size(); ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      if (column > 0 && column < cells.size() - 1) {
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      }
      if (defect) {
        item->setForeground(kDefect);
        item->setBackground(kDefectBackground);
        item->setToolTip(
            tr("The lines of this form type do not add up: beginning + received + "
               "transferred in + reinstated - transferred out - delisted - "
               "withdrawn is not the ending balance. The history has a defect; "
               "tell the help desk."));
      }
      mLines->setItem(row, column, item);
    }
  }
  mLines->resizeColumnsToContents();
  if (!report.lines.empty()) mLines->setCurrentCell(0, 0);
  ShowRanges(report.lines.empty() ? -1 : 0);
  for (QPushButton* b : {mCsv, mPdf, mPrint}) b->setEnabled(true);
  if (defects > 0) {
    SetStatus(tr("%n form type(s) do not balance: a defect of the history.", "", defects), true);
  } else {
    SetStatus(report.lines.empty() ? tr("Nothing to account for in this period.")
                                   : tr("Every line balances."),
              false);
  }
}

void AccountabilityWindow::ShowRanges(int line) {
  mRanges->setRowCount(0);
  if (line < 0 || line >= static_cast<int>(mReport.lines.size())) return;
  const auto rows = RangeRows(mReport, mReport.lines[static_cast<std::size_t>(line)]);
  mRanges->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const auto& row = rows[static_cast<std::size_t>(r)];
    const QString cells[] = {row.line, row.reason, Count(row.count), row.ranges};
    for (int c = 0; c < 4; ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      item->setToolTip(cells[c]);
      if (c == 2) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      mRanges->setItem(r, c, item);
    }
  }
  mRanges->resizeColumnsToContents();
}

QString AccountabilityWindow::SuggestedName(const char* extension) const {
  const auto& p = mReport.parameters;
  std::string holder = p.troop + (p.wholeTroop ? "" : p.district);
  if (p.registry) holder += (holder.empty() ? "" : "-") + std::to_string(*p.registry);
  return ToQString(
      fmt::format("accountability-{}-{}-{}.{}", holder, p.fromDate, p.toDate, extension));
}

void AccountabilityWindow::ExportToCsv() {
  const QString path =
      GridView::AskSaveFile(this, SuggestedName("csv"), tr("CSV files (*.csv);;All files (*)"));
  if (path.isEmpty()) return;
  std::ostringstream out;
  CsvWriter csv(out);
  for (const auto& record : protocol::AccountabilityCsvRecords(mReport)) csv.WriteRecord(record);
  try {
    WriteFileAtomically(std::filesystem::path(ToStdString(path)), out.str());
    SetStatus(tr("Exported to %1.").arg(path), false);
  } catch (const PlatformError& error) {
    Services::Ui().MessageBox(error.Description(), MsgBoxButtons::Ok, MsgBoxIcon::Exclamation,
                              ToStdString(windowTitle()));
  }
}

void AccountabilityWindow::Render(QPagedPaintDevice& device) const {
  QTextDocument document;
  document.setHtml(ToQString(AccountabilityHtml(mReport, ToStdString(mCertifier->text()))));
  document.print(&device);
}

void AccountabilityWindow::ExportToPdf() {
  const QString path =
      GridView::AskSaveFile(this, SuggestedName("pdf"), tr("PDF files (*.pdf);;All files (*)"));
  if (path.isEmpty()) return;
  // Written beside the file and renamed over it, as every export: a reader never finds half
  // a report.
  const QString partial = path + QStringLiteral(".partial");
  {
    QPdfWriter pdf(partial);
    pdf.setTitle(windowTitle());
    pdf.setCreator(QStringLiteral("formsmaint"));
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Landscape,
                                  QMarginsF(12, 12, 12, 12), QPageLayout::Millimeter));
    Render(pdf);
  }
  // QPdfWriter says nothing of a file it could not write: what is on the disk tells.
  std::error_code error;
  const bool written = std::filesystem::file_size(ToStdString(partial), error) > 0 && !error;
  if (written) std::filesystem::rename(ToStdString(partial), ToStdString(path), error);
  if (!written || error) {
    std::filesystem::remove(ToStdString(partial), error);
    Services::Ui().MessageBox(
        fmt::format("The report could not be written to {}.", ToStdString(path)), MsgBoxButtons::Ok,
        MsgBoxIcon::Exclamation, ToStdString(windowTitle()));
    return;
  }
  SetStatus(tr("Exported to %1.").arg(path), false);
}

void AccountabilityWindow::Print() {
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageOrientation(QPageLayout::Landscape);
  printer.setDocName(SuggestedName("pdf"));
  QPrintDialog dialog(&printer, this);
  dialog.setWindowTitle(tr("Print the accountability report"));
  if (dialog.exec() != QDialog::Accepted) return;
  Render(printer);
  SetStatus(tr("Sent to the printer."), false);
}

}  // namespace fm::qt
