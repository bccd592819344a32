#include "qt/FormHistoryWindow.h"

#include <fmt/format.h>

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QVBoxLayout>
#include <charconv>
#include <filesystem>
#include <sstream>

#include "base/DelimitedText.h"
#include "base/Numbers.h"
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

// The window's size when it first opens (the shell keeps it on the screen).
constexpr QSize kDesignSize(1100, 420);

const char* const kColumns[] = {"When",         "Who",           "What",
                                "Range",        "Holder before", "Status before",
                                "Holder after", "Status after",  "Comment"};

}  // namespace

FormHistoryWindow::FormHistoryWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      mExchange(std::make_unique<ShellExchange>("FormHistory")),
      mFormType(new QComboBox(this)),
      mNumber(new QLineEdit(this)),
      mShow(new QPushButton(tr("&Show"), this)),
      mSummary(new QLabel(this)),
      mTable(new QTableWidget(this)),
      mStatus(new QLabel(this)),
      mExport(new QPushButton(tr("Export to &CSV..."), this)) {
  setObjectName(QStringLiteral("formHistoryWindow"));
  setWindowTitle(tr("Form History"));
  for (const auto& [code, description] : LocalCodeEntries("FORMTYPE")) {
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
  mTable->setColumnCount(static_cast<int>(std::size(kColumns)));
  QStringList headings;
  for (const char* c : kColumns) headings << tr(c);
  mTable->setHorizontalHeaderLabels(headings);
  mTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  mTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  mTable->setAlternatingRowColors(true);
  mTable->verticalHeader()->hide();
  mTable->horizontalHeader()->setStretchLastSection(true);
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
  layout->addWidget(mTable, 1);
  layout->addLayout(buttons);
  resize(kDesignSize);

  connect(mShow, &QPushButton::clicked, this, [this] { Request(); });
  connect(mNumber, &QLineEdit::returnPressed, this, [this] { Request(); });
  connect(mExport, &QPushButton::clicked, this, [this] { ExportToCsv(); });
  connect(close, &QPushButton::clicked, this, &QWidget::close);
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

bool FormHistoryWindow::Waiting() const { return mExchange->Waiting(); }

void FormHistoryWindow::ShowHistory(const std::string& formType, std::int64_t number) {
  const int index = mFormType->findData(ToQString(text::Trim(formType)));
  if (index >= 0) mFormType->setCurrentIndex(index);
  mNumber->setText(QString::number(number));
  Request();
}

void FormHistoryWindow::SetStatus(const QString& text, bool problem) {
  mStatus->setText(text);
  mStatus->setStyleSheet(problem ? QStringLiteral("color: #b00000;") : QString());
}

void FormHistoryWindow::Request() {
  const std::string type = ToStdString(mFormType->currentData().toString());
  const std::string numberText = ToStdString(mNumber->text().trimmed());
  std::int64_t number = 0;
  if (type.empty() || text::ReadWholeNumber(numberText, number) != text::WholeNumberStatus::kOk) {
    SetStatus(tr("Choose a form type and type the form number."), true);
    return;
  }
  SetStatus(tr("Requesting the history of form %1 of %2...")
                .arg(QString::number(number), mFormType->currentText()),
            false);
  mShow->setEnabled(false);
  mExchange->Send(
      protocol::kFormHistoryMessage, {{"REF_TYP_CD", type}, {"FORM_SEARCH_NBR", numberText}},
      {protocol::kHistoryDataSet, protocol::kHolderDataSet},
      [this](const std::string& error, const ShellExchange::DataSets& sets) {
        mShow->setEnabled(true);
        if (!error.empty()) {
          SetStatus(ToQString(error), true);
          return;
        }
        try {
          Show(protocol::FormHistoryFromDataSets(sets));
        } catch (const std::exception& e) {
          SetStatus(ToQString(fmt::format("The history could not be read: {}", e.what())), true);
        }
      });
}

void FormHistoryWindow::Show(const protocol::FormHistory& history) {
  mHistory = history;
  mSummary->setText(ToQString(history.summary));
  mTable->setRowCount(0);
  mTable->setRowCount(static_cast<int>(history.entries.size()));
  for (int row = 0; row < static_cast<int>(history.entries.size()); ++row) {
    const auto& e = history.entries[static_cast<std::size_t>(row)];
    const bool withdrawn = e.event == "WITHDRAW";
    const QString cells[] = {
        LocalTimeText(e.at),
        ToQString(e.userName),
        ToQString(e.what),
        ToQString(protocol::SerialRangesText({e.range})),
        e.before ? ToQString(protocol::HolderText(*e.before)) : QString(),
        e.before ? ToQString(protocol::StatusText(*e.before)) : QString(),
        withdrawn ? tr("(withdrawn)") : ToQString(protocol::HolderText(e.after)),
        withdrawn ? QString() : ToQString(protocol::StatusText(e.after)),
        ToQString(withdrawn && !e.reason.empty() ? e.reason : e.comment)};
    for (int column = 0; column < static_cast<int>(std::size(cells)); ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      item->setToolTip(cells[column]);
      mTable->setItem(row, column, item);
    }
  }
  mTable->resizeColumnsToContents();
  mExport->setEnabled(true);
  const int index = mFormType->findData(ToQString(text::Trim(history.formType)));
  const QString formType = index >= 0 ? mFormType->itemText(index) : ToQString(history.formType);
  const std::size_t changes = history.entries.size();
  const QString counted =
      changes == 1 ? tr("1 change") : tr("%1 changes").arg(QString::number(changes));
  SetStatus(tr("%1 of form %2 of %3.").arg(counted, QString::number(history.number), formType),
            false);
}

void FormHistoryWindow::ExportToCsv() {
  const QString suggested = ToQString(
      fmt::format("form-history-{}-{}.csv", text::Trim(mHistory.formType), mHistory.number));
  const QString path =
      GridView::AskSaveFile(this, suggested, tr("CSV files (*.csv);;All files (*)"));
  if (path.isEmpty()) return;
  std::ostringstream out;
  CsvWriter csv(out);
  for (const auto& record : protocol::FormHistoryCsvRecords(
           mHistory, [](const std::string& at) { return ToStdString(LocalTimeText(at)); })) {
    csv.WriteRecord(record);
  }
  try {
    WriteFileAtomically(std::filesystem::path(ToStdString(path)), out.str());
    SetStatus(tr("Exported to %1.").arg(path), false);
  } catch (const PlatformError& error) {
    Services::Ui().MessageBox(error.Description(), MsgBoxButtons::Ok, MsgBoxIcon::Exclamation,
                              ToStdString(windowTitle()));
  }
}

}  // namespace fm::qt
