#include "qt/unaccounted/UnaccountedFormsWindow.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "qt/render/GridView.h"
#include "qt/render/QtText.h"
#include "qt/render/TextTable.h"
#include "qt/report/DateEntry.h"
#include "qt/report/ReportPrint.h"

namespace fm::qt {

namespace {

const QColor kFinding(176, 0, 0);
const QColor kFindingBackground(255, 224, 224);
constexpr QSize kUnaccountedDesignSize(1200, 620);

// The lines with a finding (numbers unaccounted) in red, their counts right-aligned.
void MarkFindings(QTableWidget& table, const protocol::Reconciliation& report) {
  const int lastCount = static_cast<int>(shell::UnaccountedForms::kLineHeadings.size()) - 2;
  for (int r = 0; r < table.rowCount(); ++r) {
    const bool finding = report.lines[static_cast<std::size_t>(r)].unaccounted.count > 0;
    for (int c = 0; c < table.columnCount(); ++c) {
      QTableWidgetItem* item = table.item(r, c);
      if (c >= 2 && c <= lastCount) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      if (finding) {
        item->setForeground(kFinding);
        item->setBackground(kFindingBackground);
      }
    }
  }
}

}  // namespace

UnaccountedFormsWindow::UnaccountedFormsWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      mStation(new QLineEdit(this)),
      mOfficer(new QLineEdit(this)),
      mFormType(new QComboBox(this)),
      mAsOf(new DateBox(this)),
      mGap(new QLineEdit(this)),
      mRun(new QPushButton(tr("&Run"), this)),
      mHeading(new QLabel(this)),
      mLines(new QTableWidget(this)),
      mExceptions(new QTableWidget(this)),
      mStatus(new QLabel(this)),
      mCsv(new QPushButton(tr("Export to &CSV..."), this)),
      mPdf(new QPushButton(tr("Export to &PDF..."), this)),
      mModel([](const std::string& utc) { return ToStdString(LocalTimeText(utc)); },
             [this](const std::string& iso) { return ToStdString(IsoDayText(iso, locale())); },
             [this](shell::UnaccountedForms::Change change) { OnChange(change); }) {
  setObjectName(QStringLiteral("unaccountedFormsWindow"));
  setWindowTitle(tr(shell::UnaccountedForms::kTitle));
  mStation->setObjectName(QStringLiteral("unaccountedStation"));
  mStation->setMaxLength(3);
  mStation->setPlaceholderText(tr("e.g. A1"));
  mOfficer->setObjectName(QStringLiteral("unaccountedOfficer"));
  mOfficer->setPlaceholderText(tr("or an officer's"));
  mFormType->addItem(tr("All form types"), QString());
  for (const auto& [code, description] : mModel.FormTypes()) {
    mFormType->addItem(ToQString(description), ToQString(code));
  }
  mAsOf->setObjectName(QStringLiteral("unaccountedAsOf"));
  mAsOf->SetDate(QDate::currentDate());
  mGap->setObjectName(QStringLiteral("unaccountedGap"));
  mGap->setValidator(new QIntValidator(0, 99999, mGap));
  mGap->setText(QString::number(shell::UnaccountedForms::kDefaultGapDays));
  mRun->setDefault(true);
  mHeading->setObjectName(QStringLiteral("unaccountedHeading"));
  mHeading->setWordWrap(true);
  QFont bold = mHeading->font();
  bold.setBold(true);
  mHeading->setFont(bold);
  mStatus->setObjectName(QStringLiteral("unaccountedStatus"));
  mLines->setObjectName(QStringLiteral("unaccountedLines"));
  mExceptions->setObjectName(QStringLiteral("unaccountedExceptions"));
  PrepareTextTable(*mLines, shell::UnaccountedForms::kLineHeadings);
  PrepareTextTable(*mExceptions, shell::UnaccountedForms::kExceptionHeadings);
  for (QPushButton* b : {mCsv, mPdf}) b->setEnabled(false);

  auto* entries = new QGridLayout;
  entries->addWidget(new QLabel(tr("Troop/District:"), this), 0, 0);
  entries->addWidget(mStation, 0, 1);
  entries->addWidget(new QLabel(tr("Registry #:"), this), 0, 2);
  entries->addWidget(mOfficer, 0, 3);
  entries->addWidget(new QLabel(tr("Form Type:"), this), 0, 4);
  entries->addWidget(mFormType, 0, 5);
  entries->addWidget(new QLabel(tr("As of:"), this), 1, 0);
  entries->addWidget(mAsOf, 1, 1);
  entries->addWidget(new QLabel(tr("Gap (days):"), this), 1, 2);
  entries->addWidget(mGap, 1, 3);
  entries->addWidget(mRun, 1, 5);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(mStatus, 1);
  buttons->addWidget(mCsv);
  buttons->addWidget(mPdf);
  auto* close = new QPushButton(tr("Close"), this);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(entries);
  layout->addWidget(mHeading);
  layout->addWidget(mLines, 3);
  layout->addWidget(new QLabel(tr("Exceptions:"), this));
  layout->addWidget(mExceptions, 2);
  layout->addLayout(buttons);
  resize(kUnaccountedDesignSize);

  connect(mRun, &QPushButton::clicked, this, [this] { Run(); });
  connect(mCsv, &QPushButton::clicked, this, [this] { ExportToCsv(); });
  connect(mPdf, &QPushButton::clicked, this, [this] { ExportToPdf(); });
  connect(close, &QPushButton::clicked, this, &QWidget::close);
}

UnaccountedFormsWindow::~UnaccountedFormsWindow() = default;

QSize UnaccountedFormsWindow::sizeHint() const { return kUnaccountedDesignSize; }

void UnaccountedFormsWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    Run();
    return;
  }
  QWidget::keyPressEvent(event);
}

void UnaccountedFormsWindow::SetStation(const QString& station) {
  mStation->setText(station.trimmed().toUpper());
}
void UnaccountedFormsWindow::SetOfficer(const QString& registry) { mOfficer->setText(registry); }
void UnaccountedFormsWindow::SetAsOf(const QDate& day) { mAsOf->SetDate(day); }

void UnaccountedFormsWindow::SetClearance(const QString& registry) {
  mModel.SetClearance(true);
  setObjectName(QStringLiteral("clearanceWindow"));
  setWindowTitle(
      tr("%1 of officer %2").arg(tr(shell::UnaccountedForms::kClearanceTitle), registry));
  // The statement is of one officer, wherever his forms are held.
  mStation->clear();
  mStation->setEnabled(false);
  mOfficer->setText(registry);
  mFormType->setCurrentIndex(0);
  mFormType->setEnabled(false);
}

void UnaccountedFormsWindow::Run() {
  shell::UnaccountedEntries entries;
  entries.station = ToStdString(mStation->text());
  entries.officer = ToStdString(mOfficer->text());
  entries.formType = ToStdString(mFormType->currentData().toString());
  if (mAsOf->Date().isValid()) entries.asOf = ToStdString(mAsOf->Date().toString(Qt::ISODate));
  entries.gapDays = ToStdString(mGap->text());
  mModel.Run(entries);
}

void UnaccountedFormsWindow::OnChange(shell::UnaccountedForms::Change change) {
  mRun->setEnabled(!mModel.Waiting());
  if (change == shell::UnaccountedForms::Change::Report) ShowReport();
  const shell::StatusLine& status = mModel.Status();
  mStatus->setText(ToQString(status.text));
  const bool cleared = mModel.IsClearance() && mModel.HasReport() && mModel.Clear();
  mStatus->setStyleSheet(status.problem ? QStringLiteral("color: #b00000;")
                         : cleared      ? QStringLiteral("color: #006400; font-weight: bold;")
                                        : QString());
}

void UnaccountedFormsWindow::ShowReport() {
  const protocol::Reconciliation& report = mModel.Report();
  mHeading->setText(ToQString(mModel.Heading()));
  FillTextTable(*mLines, mModel.LineRows());
  MarkFindings(*mLines, report);
  FillTextTable(*mExceptions, mModel.ExceptionRows());
  for (QPushButton* b : {mCsv, mPdf}) b->setEnabled(true);
}

void UnaccountedFormsWindow::ExportToCsv() {
  const QString path = GridView::AskSaveFile(this, ToQString(mModel.SuggestedFileName("csv")),
                                             tr("CSV files (*.csv);;All files (*)"));
  if (path.isEmpty()) return;
  mModel.ExportToCsv(ToStdString(path));
}

void UnaccountedFormsWindow::ExportToPdf() {
  const QString path = GridView::AskSaveFile(this, ToQString(mModel.SuggestedFileName("pdf")),
                                             tr("PDF files (*.pdf);;All files (*)"));
  if (path.isEmpty()) return;
  if (WriteReportPdf(path, windowTitle(), mModel.Blocks(), mModel.Footer())) {
    mModel.Say(ToStdString(tr("Exported to %1.").arg(path)), false);
  }
}

}  // namespace fm::qt
