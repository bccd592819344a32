#include "qt/history/FormHistoryWindow.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QVBoxLayout>

#include "qt/receipt/HandReceiptWindow.h"
#include "qt/render/GridView.h"
#include "qt/render/QtText.h"
#include "qt/render/TextTable.h"
#include "shell/LocalCodes.h"

namespace fm::qt {

namespace {

// The window's size when it first opens (the shell keeps it on the screen).
constexpr QSize kDesignSize(1100, 420);

}  // namespace

FormHistoryWindow::FormHistoryWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      mFormType(new QComboBox(this)),
      mNumber(new QLineEdit(this)),
      mShow(new QPushButton(tr("&Show"), this)),
      mSummary(new QLabel(this)),
      mTable(new QTableWidget(this)),
      mUses(new QTableWidget(this)),
      mCounts(new QTableWidget(this)),
      mStatus(new QLabel(this)),
      mExport(new QPushButton(tr("Export to &CSV..."), this)),
      mModel([](const std::string& utc) { return ToStdString(LocalTimeText(utc)); },
             [this](shell::FormHistory::Change change) { OnChange(change); }) {
  setObjectName(QStringLiteral("formHistoryWindow"));
  setWindowTitle(tr(shell::FormHistory::kTitle));
  for (const auto& [code, description] : mModel.FormTypes()) {
    mFormType->addItem(ToQString(description), ToQString(code));
  }
  mFormType->setObjectName(QStringLiteral("historyFormType"));
  mNumber->setObjectName(QStringLiteral("historyNumber"));
  mNumber->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{1,10}")), mNumber));
  mNumber->setPlaceholderText(tr("form number"));
  mShow->setDefault(true);
  mSummary->setObjectName(QStringLiteral("historySummary"));
  mSummary->setWordWrap(true);
  mSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QFont bold = mSummary->font();
  bold.setBold(true);
  mSummary->setFont(bold);
  mStatus->setObjectName(QStringLiteral("historyStatus"));

  mTable->setObjectName(QStringLiteral("historyTable"));
  mUses->setObjectName(QStringLiteral("historyUses"));
  mCounts->setObjectName(QStringLiteral("historyCounts"));
  const auto prepare = [](QTableWidget& table, const auto& columns) {
    std::vector<std::string> headings;
    headings.reserve(columns.size());
    for (const char* c : columns) headings.push_back(ToStdString(QWidget::tr(c)));
    PrepareTextTable(table, headings);
    table.setAlternatingRowColors(true);
  };
  prepare(*mTable, shell::FormHistory::kColumns);
  prepare(*mUses, shell::FormHistory::kUseColumns);
  prepare(*mCounts, shell::FormHistory::kCountColumns);
  mUses->hide();
  mCounts->hide();
  mExport->setEnabled(false);

  auto* entry = new QHBoxLayout;
  entry->addWidget(new QLabel(tr("Form Type:"), this));
  entry->addWidget(mFormType, 2);
  entry->addWidget(new QLabel(tr("Form Number:"), this));
  entry->addWidget(mNumber, 1);
  entry->addWidget(mShow);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(mStatus, 1);
  buttons->addWidget(mExport);
  auto* close = new QPushButton(tr("Close"), this);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(entry);
  layout->addWidget(mSummary);
  layout->addWidget(mTable, 2);
  layout->addWidget(mUses, 1);
  layout->addWidget(mCounts, 1);
  layout->addLayout(buttons);
  resize(kDesignSize);

  connect(mShow, &QPushButton::clicked, this, [this] { Request(); });
  connect(mNumber, &QLineEdit::returnPressed, this, [this] { Request(); });
  connect(mExport, &QPushButton::clicked, this, [this] { ExportToCsv(); });
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  // An entry that gave the form to an officer names its hand receipt: a double click shows it.
  connect(mTable, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
    const QTableWidgetItem* receipt =
        mTable->item(row, static_cast<int>(shell::FormHistory::kColumnCount) - 1);
    bool ok = false;
    const qlonglong number = receipt != nullptr ? receipt->text().toLongLong(&ok) : 0;
    if (!ok) return;
    auto* window = new HandReceiptWindow(this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->Load(number);
    window->show();
  });
}

FormHistoryWindow::~FormHistoryWindow() = default;

QSize FormHistoryWindow::sizeHint() const { return kDesignSize; }

void FormHistoryWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void FormHistoryWindow::ShowHistory(const std::string& formType, std::int64_t number) {
  const int index = shell::CodeIndex(mModel.FormTypes(), formType);
  if (index >= 0) mFormType->setCurrentIndex(index);
  mNumber->setText(QString::number(number));
  Request();
}

void FormHistoryWindow::Request() {
  mModel.Request(mFormType->currentIndex(), ToStdString(mNumber->text().trimmed()));
}

void FormHistoryWindow::OnChange(shell::FormHistory::Change change) {
  mShow->setEnabled(!mModel.Waiting());
  if (change == shell::FormHistory::Change::History) ShowRows();
  const shell::StatusLine& status = mModel.Status();
  mStatus->setText(ToQString(status.text));
  mStatus->setStyleSheet(status.problem ? QStringLiteral("color: #b00000;") : QString());
}

void FormHistoryWindow::ShowRows() {
  mSummary->setText(ToQString(mModel.History().summary));
  const auto fill = [](QTableWidget& table, const auto& rows) {
    std::vector<std::vector<std::string>> texts;
    texts.reserve(rows.size());
    for (const auto& row : rows) texts.emplace_back(row.begin(), row.end());
    FillTextTable(table, texts);
  };
  fill(*mTable, mModel.Rows());
  fill(*mUses, mModel.UseRows());
  mUses->setVisible(!mModel.Uses().empty());
  fill(*mCounts, mModel.CountRows());
  mCounts->setVisible(!mModel.Counts().empty());
  mExport->setEnabled(mModel.HasHistory());
}

void FormHistoryWindow::ExportToCsv() {
  const QString path = GridView::AskSaveFile(this, ToQString(mModel.SuggestedFileName()),
                                             tr("CSV files (*.csv);;All files (*)"));
  if (path.isEmpty()) return;
  mModel.ExportToCsv(ToStdString(path));
}

}  // namespace fm::qt
