#include "qt/stock/StockOnHandWindow.h"

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

const QColor kBelow(176, 0, 0);
const QColor kBelowBackground(255, 224, 224);
constexpr QSize kStockDesignSize(1100, 680);

// The lines below their minimum in red, the figures right-aligned.
void MarkBelowMinimum(QTableWidget& table, const protocol::StockReport& report) {
  const int lastFigure = static_cast<int>(shell::StockOnHand::kLineHeadings.size()) - 2;
  for (int r = 0; r < table.rowCount(); ++r) {
    const bool below = protocol::BelowMinimum(report.lines[static_cast<std::size_t>(r)]);
    for (int c = 0; c < table.columnCount(); ++c) {
      QTableWidgetItem* item = table.item(r, c);
      if (c >= 2 && c <= lastFigure) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      if (below) {
        item->setForeground(kBelow);
        item->setBackground(kBelowBackground);
      }
    }
  }
}

}  // namespace

StockOnHandWindow::StockOnHandWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      mStation(new QLineEdit(this)),
      mFormType(new QComboBox(this)),
      mRun(new QPushButton(tr("&Run"), this)),
      mMinimumType(new QComboBox(this)),
      mMinimum(new QLineEdit(this)),
      mSetMinimum(new QPushButton(tr("Set &Minimum"), this)),
      mHeading(new QLabel(this)),
      mLines(new QTableWidget(this)),
      mAlerts(new QTableWidget(this)),
      mCountHeading(new QLabel(this)),
      mCounts(new QTableWidget(this)),
      mStatus(new QLabel(this)),
      mCsv(new QPushButton(tr("Export to &CSV..."), this)),
      mPdf(new QPushButton(tr("Export to &PDF..."), this)),
      mModel([](const std::string& utc) { return ToStdString(LocalTimeText(utc)); },
             [this](shell::StockOnHand::Change change) { OnChange(change); },
             [this](const std::string& iso) { return ToStdString(IsoDayText(iso, locale())); }) {
  setObjectName(QStringLiteral("stockOnHandWindow"));
  setWindowTitle(tr(shell::StockOnHand::kTitle));
  mStation->setObjectName(QStringLiteral("stockStation"));
  mStation->setMaxLength(3);
  mStation->setPlaceholderText(tr("e.g. A1; empty: all"));
  mFormType->addItem(tr("All form types"), QString());
  for (const auto& [code, description] : mModel.FormTypes()) {
    mFormType->addItem(ToQString(description), ToQString(code));
    mMinimumType->addItem(ToQString(description), ToQString(code));
  }
  mMinimumType->setObjectName(QStringLiteral("stockMinimumType"));
  mMinimum->setObjectName(QStringLiteral("stockMinimum"));
  mMinimum->setValidator(new QIntValidator(0, 999999999, mMinimum));
  mMinimum->setPlaceholderText(tr("forms; 0 removes"));
  mRun->setDefault(true);
  mHeading->setObjectName(QStringLiteral("stockHeading"));
  mHeading->setWordWrap(true);
  QFont bold = mHeading->font();
  bold.setBold(true);
  mHeading->setFont(bold);
  mStatus->setObjectName(QStringLiteral("stockStatus"));
  mLines->setObjectName(QStringLiteral("stockLines"));
  mAlerts->setObjectName(QStringLiteral("stockAlerts"));
  PrepareTextTable(*mLines, shell::StockOnHand::kLineHeadings);
  PrepareTextTable(*mAlerts, shell::StockOnHand::kAlertHeadings);
  mCounts->setObjectName(QStringLiteral("stockCounts"));
  PrepareTextTable(*mCounts, shell::StockOnHand::kCountHeadings);
  mCountHeading->setText(tr("Physical counts:"));
  for (QPushButton* b : {mCsv, mPdf}) b->setEnabled(false);

  auto* entries = new QGridLayout;
  entries->addWidget(new QLabel(tr("Troop/District:"), this), 0, 0);
  entries->addWidget(mStation, 0, 1);
  entries->addWidget(new QLabel(tr("Form Type:"), this), 0, 2);
  entries->addWidget(mFormType, 0, 3);
  entries->addWidget(mRun, 0, 5);
  entries->addWidget(new QLabel(tr("Minimum of:"), this), 1, 2);
  entries->addWidget(mMinimumType, 1, 3);
  entries->addWidget(mMinimum, 1, 4);
  entries->addWidget(mSetMinimum, 1, 5);
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
  layout->addWidget(new QLabel(tr("Open stock alerts:"), this));
  layout->addWidget(mAlerts, 1);
  layout->addWidget(mCountHeading);
  layout->addWidget(mCounts, 1);
  layout->addLayout(buttons);
  resize(kStockDesignSize);

  connect(mRun, &QPushButton::clicked, this, [this] { Run(); });
  connect(mSetMinimum, &QPushButton::clicked, this,
          [this] { SetMinimum(mMinimumType->currentData().toString(), mMinimum->text()); });
  connect(mCsv, &QPushButton::clicked, this, [this] { ExportToCsv(); });
  connect(mPdf, &QPushButton::clicked, this, [this] { ExportToPdf(); });
  connect(close, &QPushButton::clicked, this, &QWidget::close);
}

StockOnHandWindow::~StockOnHandWindow() = default;

QSize StockOnHandWindow::sizeHint() const { return kStockDesignSize; }

void StockOnHandWindow::keyPressEvent(QKeyEvent* event) {
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

void StockOnHandWindow::SetStation(const QString& station) {
  mStation->setText(station.trimmed().toUpper());
}

void StockOnHandWindow::Run() {
  mModel.Run(ToStdString(mStation->text()), ToStdString(mFormType->currentData().toString()));
}

void StockOnHandWindow::SetMinimum(const QString& formType, const QString& minimum) {
  const int index = mMinimumType->findData(formType);
  if (index >= 0) mMinimumType->setCurrentIndex(index);
  mMinimum->setText(minimum);
  mModel.SetMinimum(ToStdString(mStation->text()), ToStdString(formType), ToStdString(minimum));
}

void StockOnHandWindow::OnChange(shell::StockOnHand::Change change) {
  mRun->setEnabled(!mModel.Waiting());
  mSetMinimum->setEnabled(!mModel.Waiting());
  if (change == shell::StockOnHand::Change::Report) ShowReport();
  const shell::StatusLine& status = mModel.Status();
  mStatus->setText(ToQString(status.text));
  mStatus->setStyleSheet(status.problem ? QStringLiteral("color: #b00000;") : QString());
}

void StockOnHandWindow::ShowReport() {
  mHeading->setText(ToQString(mModel.Heading()));
  FillTextTable(*mLines, mModel.LineRows());
  MarkBelowMinimum(*mLines, mModel.Report());
  FillTextTable(*mAlerts, mModel.AlertRows());
  mCountHeading->setText(ToQString(mModel.CountHeading() + ":"));
  FillTextTable(*mCounts, mModel.CountRows());
  for (int r = 0; r < mCounts->rowCount(); ++r) {
    if (!mModel.Report().counts[static_cast<std::size_t>(r)].overdue) continue;
    for (int c = 0; c < mCounts->columnCount(); ++c) {
      mCounts->item(r, c)->setForeground(kBelow);
      mCounts->item(r, c)->setBackground(kBelowBackground);
    }
  }
  for (QPushButton* b : {mCsv, mPdf}) b->setEnabled(true);
}

void StockOnHandWindow::ExportToCsv() {
  const QString path = GridView::AskSaveFile(this, ToQString(mModel.SuggestedFileName("csv")),
                                             tr("CSV files (*.csv);;All files (*)"));
  if (path.isEmpty()) return;
  mModel.ExportToCsv(ToStdString(path));
}

void StockOnHandWindow::ExportToPdf() {
  const QString path = GridView::AskSaveFile(this, ToQString(mModel.SuggestedFileName("pdf")),
                                             tr("PDF files (*.pdf);;All files (*)"));
  if (path.isEmpty()) return;
  if (WriteReportPdf(path, windowTitle(), mModel.Blocks(), mModel.Footer())) {
    mModel.Say(ToStdString(tr("Exported to %1.").arg(path)), false);
  }
}

}  // namespace fm::qt
