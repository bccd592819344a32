#include "qt/receipt/HandReceiptWindow.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <memory>

#include "qt/render/GridView.h"
#include "qt/render/QtText.h"
#include "qt/render/TextTable.h"
#include "qt/report/ReportPrint.h"

namespace fm::qt {

namespace {

constexpr QSize kHandReceiptDesignSize(760, 420);

}  // namespace

HandReceiptWindow::HandReceiptWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      mHeading(new QLabel(this)),
      mLines(new QTableWidget(this)),
      mTotal(new QLabel(this)),
      mStatus(new QLabel(this)),
      mPrint(new QPushButton(tr("&Print..."), this)),
      mPdf(new QPushButton(tr("Save as P&DF..."), this)),
      mModel([](const std::string& utc) { return ToStdString(LocalTimeText(utc)); },
             [this](shell::HandReceiptView::Change change) { OnChange(change); }) {
  setObjectName(QStringLiteral("handReceiptWindow"));
  setWindowTitle(tr(shell::HandReceiptView::kTitle));
  mHeading->setObjectName(QStringLiteral("receiptHeading"));
  mHeading->setWordWrap(true);
  QFont bold = mHeading->font();
  bold.setBold(true);
  mHeading->setFont(bold);
  mTotal->setFont(bold);
  mTotal->setObjectName(QStringLiteral("receiptTotal"));
  mStatus->setObjectName(QStringLiteral("receiptStatus"));
  mLines->setObjectName(QStringLiteral("receiptLines"));
  PrepareTextTable(*mLines, shell::HandReceiptView::kLineHeadings);
  for (QPushButton* b : {mPrint, mPdf}) b->setEnabled(false);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(mStatus, 1);
  buttons->addWidget(mPrint);
  buttons->addWidget(mPdf);
  auto* close = new QPushButton(tr("Close"), this);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(mHeading);
  layout->addWidget(mLines, 1);
  layout->addWidget(mTotal);
  layout->addLayout(buttons);
  resize(kHandReceiptDesignSize);

  connect(mPrint, &QPushButton::clicked, this, [this] { Print(); });
  connect(mPdf, &QPushButton::clicked, this, [this] { ExportToPdf(); });
  connect(close, &QPushButton::clicked, this, &QWidget::close);
}

HandReceiptWindow::~HandReceiptWindow() = default;

QSize HandReceiptWindow::sizeHint() const { return kHandReceiptDesignSize; }

void HandReceiptWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void HandReceiptWindow::Load(std::int64_t number) {
  setWindowTitle(tr("Hand Receipt %1").arg(number));
  mModel.Load(number);
}

void HandReceiptWindow::OnChange(shell::HandReceiptView::Change change) {
  const bool ready = mModel.HasReceipt() && !mModel.Waiting();
  for (QPushButton* b : {mPrint, mPdf}) b->setEnabled(ready);
  if (change == shell::HandReceiptView::Change::Receipt) {
    mHeading->setText(ToQString(mModel.Heading()));
    FillTextTable(*mLines, mModel.LineRows());
    for (int r = 0; r < mLines->rowCount(); ++r) {
      for (int c = 1; c < mLines->columnCount(); ++c) {
        mLines->item(r, c)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      }
    }
    mTotal->setText(ToQString(mModel.TotalText()));
  }
  const shell::StatusLine& status = mModel.Status();
  mStatus->setText(ToQString(status.text));
  mStatus->setStyleSheet(status.problem ? QStringLiteral("color: #b00000;") : QString());
}

void HandReceiptWindow::Print() {
  auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
  printer->setDocName(ToQString(mModel.SuggestedFileName()));
  QPrintDialog dialog(printer.get(), this);
  dialog.setWindowTitle(tr("Print the hand receipt"));
  if (dialog.exec() != QDialog::Accepted) return;
  mModel.Print([printer](const std::vector<shell::ReportBlock>& blocks, const std::string& footer) {
    PaintReport(*printer, blocks, footer);
  });
}

void HandReceiptWindow::ExportToPdf() {
  const QString path = GridView::AskSaveFile(this, ToQString(mModel.SuggestedFileName()),
                                             tr("PDF files (*.pdf);;All files (*)"));
  if (!path.isEmpty()) ExportToPdf(path);
}

void HandReceiptWindow::ExportToPdf(const QString& path) {
  mModel.Print(
      [this, path](const std::vector<shell::ReportBlock>& blocks, const std::string& footer) {
        WriteReportPdf(path, windowTitle(), blocks, footer);
      });
}

}  // namespace fm::qt
