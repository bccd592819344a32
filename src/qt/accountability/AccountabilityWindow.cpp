#include "qt/accountability/AccountabilityWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "qt/render/GridView.h"
#include "qt/render/QtText.h"
#include "qt/report/DateEntry.h"
#include "qt/report/ReportPrint.h"
#include "shell/ReportLayout.h"
#include "shell/SearchSummary.h"

namespace fm::qt {

namespace {

const QColor kDefect(176, 0, 0);
const QColor kDefectBackground(255, 224, 224);
// The window's size when it first opens (the shell keeps it on the screen).
constexpr QSize kAccountabilityDesignSize(1200, 640);

QDate ToQDate(std::chrono::year_month_day day) {
  return QDate(static_cast<int>(day.year()), static_cast<int>(static_cast<unsigned>(day.month())),
               static_cast<int>(static_cast<unsigned>(day.day())));
}

}  // namespace

AccountabilityWindow::AccountabilityWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      mStation(new QLineEdit(this)),
      mWholeTroop(new QCheckBox(tr("Whole troop"), this)),
      mOfficer(new QLineEdit(this)),
      mFormType(new QComboBox(this)),
      mFirst(new DateBox(this)),
      mLast(new DateBox(this)),
      mRun(new QPushButton(tr("&Run"), this)),
      mHeading(new QLabel(this)),
      mLines(new QTableWidget(this)),
      mRanges(new QTableWidget(this)),
      mCertifier(new QLineEdit(this)),
      mStatus(new QLabel(this)),
      mCsv(new QPushButton(tr("Export to &CSV..."), this)),
      mPdf(new QPushButton(tr("Export to &PDF..."), this)),
      mPrint(new QPushButton(tr("&Print..."), this)),
      mModel([](const std::string& utc) { return ToStdString(LocalTimeText(utc)); },
             [this](const std::string& iso) { return ToStdString(IsoDayText(iso, locale())); },
             [this](shell::Accountability::Change change) { OnChange(change); }) {
  setObjectName(QStringLiteral("accountabilityWindow"));
  setWindowTitle(tr(shell::Accountability::kTitle));
  mStation->setObjectName(QStringLiteral("reportStation"));
  mStation->setMaxLength(3);
  mStation->setPlaceholderText(tr("e.g. A1"));
  mOfficer->setObjectName(QStringLiteral("reportOfficer"));
  mOfficer->setPlaceholderText(tr("an officer's, optional"));
  mFormType->addItem(tr(shell::Accountability::kAllFormTypes), QString());
  for (const auto& [code, description] : mModel.FormTypes()) {
    mFormType->addItem(ToQString(description), ToQString(code));
  }
  mFirst->setObjectName(QStringLiteral("reportFirstDay"));
  mLast->setObjectName(QStringLiteral("reportLastDay"));
  const QDate today = QDate::currentDate();
  const auto [first, last] = shell::LastCalendarMonth(std::chrono::year_month_day(
      std::chrono::year(today.year()), std::chrono::month(static_cast<unsigned>(today.month())),
      std::chrono::day(static_cast<unsigned>(today.day()))));
  SetPeriod(ToQDate(first), ToQDate(last));
  mRun->setDefault(true);
  mHeading->setObjectName(QStringLiteral("reportHeading"));
  QFont bold = mHeading->font();
  bold.setBold(true);
  mHeading->setFont(bold);
  mStatus->setObjectName(QStringLiteral("reportStatus"));
  mCertifier->setObjectName(QStringLiteral("reportCertifier"));
  mCertifier->setPlaceholderText(tr("name of the accountable officer"));

  QStringList headings;
  for (const auto& heading : shell::LineHeadings()) headings << ToQString(heading);
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
  entries->addWidget(new QLabel(tr("Registry #:"), this), 0, 3);
  entries->addWidget(mOfficer, 0, 4);
  entries->addWidget(new QLabel(tr("Form Type:"), this), 0, 5);
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
  resize(kAccountabilityDesignSize);

  connect(mRun, &QPushButton::clicked, this, [this] { Run(); });
  connect(mCsv, &QPushButton::clicked, this, [this] { ExportToCsv(); });
  connect(mPdf, &QPushButton::clicked, this, [this] { ExportToPdf(); });
  connect(mPrint, &QPushButton::clicked, this, [this] { Print(); });
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  connect(mLines, &QTableWidget::currentCellChanged, this,
          [this](int row, int, int, int) { ShowRanges(row); });
}

AccountabilityWindow::~AccountabilityWindow() = default;

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
  mFirst->SetDate(first);
  mLast->SetDate(last);
}

QSize AccountabilityWindow::sizeHint() const { return kAccountabilityDesignSize; }

void AccountabilityWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  // Enter in an entry runs the report, as the default button of a dialog would.
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  QWidget* focus = focusWidget();
  const QWidget* entries[] = {mStation, mWholeTroop, mOfficer, mFormType, mFirst, mLast, mRun};
  if (enter && std::find(std::begin(entries), std::end(entries), focus) != std::end(entries)) {
    Run();
    return;
  }
  QWidget::keyPressEvent(event);
}

void AccountabilityWindow::SetStatus(const QString& text, bool problem) {
  mModel.Say(ToStdString(text), problem);
}

void AccountabilityWindow::Run() {
  shell::AccountabilityEntries entries;
  entries.station = ToStdString(mStation->text().trimmed().toUpper());
  entries.wholeTroop = mWholeTroop->isChecked();
  entries.officer = ToStdString(mOfficer->text().trimmed());
  entries.formType = ToStdString(mFormType->currentData().toString());
  if (mFirst->Date().isValid())
    entries.firstDay = ToStdString(mFirst->Date().toString(Qt::ISODate));
  if (mLast->Date().isValid()) entries.lastDay = ToStdString(mLast->Date().toString(Qt::ISODate));
  const auto problem = mModel.Run(entries);
  if (problem == shell::Accountability::Problem::None) return;
  const bool first = problem == shell::Accountability::Problem::FirstDay;
  DateBox* box = first ? mFirst : mLast;
  const QDate example = QDate::currentDate();
  SetStatus(tr("The %1 date \"%2\" is not a date: type it as %3, e.g. %4.")
                .arg(first ? tr("From") : tr("To"), box->text().trimmed(),
                     DateEntryFormat(box->locale()), DateEntryText(example, box->locale())),
            true);
  box->setFocus();
}

void AccountabilityWindow::OnChange(shell::Accountability::Change change) {
  mRun->setEnabled(!mModel.Waiting());
  if (change == shell::Accountability::Change::Report) ShowReport();
  const shell::StatusLine& status = mModel.Status();
  mStatus->setText(ToQString(status.text));
  mStatus->setStyleSheet(status.problem ? QStringLiteral("color: #b00000;") : QString());
}

void AccountabilityWindow::ShowReport() {
  const protocol::AccountabilityReport& report = mModel.Report();
  mHeading->setText(ToQString(mModel.Heading()));
  mLines->setRowCount(0);
  mLines->setRowCount(static_cast<int>(report.lines.size()));
  for (int row = 0; row < static_cast<int>(report.lines.size()); ++row) {
    const auto& line = report.lines[static_cast<std::size_t>(row)];
    const auto cells = shell::LineCells(line);
    const bool defect = line.Imbalance() != 0;
    for (int column = 0; column < static_cast<int>(cells.size()); ++column) {
      auto* item = new QTableWidgetItem(ToQString(cells[static_cast<std::size_t>(column)]));
      if (column > 0 && column + 1 < static_cast<int>(cells.size())) {
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
}

void AccountabilityWindow::ShowRanges(int line) {
  mRanges->setRowCount(0);
  const protocol::AccountabilityReport& report = mModel.Report();
  if (line < 0 || line >= static_cast<int>(report.lines.size())) return;
  const auto rows = shell::RangeRows(report, report.lines[static_cast<std::size_t>(line)]);
  mRanges->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const auto& row = rows[static_cast<std::size_t>(r)];
    const QString cells[] = {ToQString(row.line), ToQString(row.reason),
                             ToQString(shell::GroupedNumber(row.count)), ToQString(row.ranges)};
    for (int c = 0; c < 4; ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      item->setToolTip(cells[c]);
      if (c == 2) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      mRanges->setItem(r, c, item);
    }
  }
  mRanges->resizeColumnsToContents();
}

shell::AccountabilityTexts AccountabilityWindow::Texts() const {
  return mModel.Texts(ToStdString(mCertifier->text()));
}

std::vector<shell::ReportBlock> AccountabilityWindow::PrintedBlocks() const {
  return shell::AccountabilityBlocks(mModel.Report(), Texts());
}

QString AccountabilityWindow::SuggestedName(const char* extension) const {
  return ToQString(mModel.SuggestedFileName(extension));
}

void AccountabilityWindow::ExportToCsv() {
  const QString path =
      GridView::AskSaveFile(this, SuggestedName("csv"), tr("CSV files (*.csv);;All files (*)"));
  if (path.isEmpty()) return;
  mModel.ExportToCsv(ToStdString(path), ToStdString(mCertifier->text()));
}

void AccountabilityWindow::Render(QPagedPaintDevice& device) const {
  const shell::AccountabilityTexts texts = Texts();
  PaintReport(device, shell::AccountabilityBlocks(mModel.Report(), texts),
              shell::AccountabilityFooter(mModel.Report(), texts));
}

void AccountabilityWindow::ExportToPdf() {
  const QString path =
      GridView::AskSaveFile(this, SuggestedName("pdf"), tr("PDF files (*.pdf);;All files (*)"));
  if (path.isEmpty()) return;
  const shell::AccountabilityTexts texts = Texts();
  if (!WriteReportPdf(path, windowTitle(), shell::AccountabilityBlocks(mModel.Report(), texts),
                      shell::AccountabilityFooter(mModel.Report(), texts))) {
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
