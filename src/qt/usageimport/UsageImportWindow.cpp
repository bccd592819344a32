#include "qt/usageimport/UsageImportWindow.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "qt/render/QtText.h"
#include "qt/render/TextTable.h"

namespace fm::qt {

namespace {

// The window's size when it first opens (the shell keeps it on the screen).
constexpr QSize kDesignSize(980, 480);

}  // namespace

UsageImportWindow::UsageImportWindow(std::function<void()> recorded, QWidget* parent)
    : QWidget(parent, Qt::Window),
      mPath(new QLineEdit(this)),
      mSource(new QLineEdit(this)),
      mPreview(new QPushButton(tr("&Preview"), this)),
      mSummary(new QLabel(this)),
      mTable(new QTableWidget(this)),
      mStatus(new QLabel(this)),
      mImport(new QPushButton(tr("&Import"), this)),
      mCancel(new QPushButton(tr("Ca&ncel"), this)),
      mModel([this](shell::UsageImport::Change change) { OnChange(change); }, std::move(recorded)) {
  setObjectName(QStringLiteral("usageImportWindow"));
  setWindowTitle(tr(shell::UsageImport::kTitle));
  mPath->setObjectName(QStringLiteral("importFile"));
  mPath->setPlaceholderText(tr("a CSV file: form_type,number,disposition,used_on,officer,..."));
  mSource->setObjectName(QStringLiteral("importSource"));
  mSource->setPlaceholderText(tr("where the uses come from, e.g. Court export, November"));
  mPreview->setDefault(true);
  mSummary->setObjectName(QStringLiteral("importSummary"));
  mSummary->setWordWrap(true);
  QFont bold = mSummary->font();
  bold.setBold(true);
  mSummary->setFont(bold);
  mStatus->setObjectName(QStringLiteral("importStatus"));
  mStatus->setWordWrap(true);
  mTable->setObjectName(QStringLiteral("importProblems"));
  std::vector<std::string> headings;
  headings.reserve(shell::UsageImport::kColumnCount);
  for (const char* c : shell::UsageImport::kColumns) headings.push_back(ToStdString(tr(c)));
  PrepareTextTable(*mTable, headings);
  mImport->setEnabled(false);
  mCancel->setEnabled(false);

  auto* browse = new QPushButton(tr("&Browse..."), this);
  auto* entries = new QGridLayout;
  entries->addWidget(new QLabel(tr("File:"), this), 0, 0);
  entries->addWidget(mPath, 0, 1);
  entries->addWidget(browse, 0, 2);
  entries->addWidget(new QLabel(tr("Source:"), this), 1, 0);
  entries->addWidget(mSource, 1, 1);
  entries->addWidget(mPreview, 1, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(mStatus, 1);
  buttons->addWidget(mImport);
  buttons->addWidget(mCancel);
  auto* close = new QPushButton(tr("Close"), this);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(entries);
  layout->addWidget(mSummary);
  layout->addWidget(mTable, 1);
  layout->addLayout(buttons);
  resize(kDesignSize);

  connect(browse, &QPushButton::clicked, this, [this] { Browse(); });
  connect(mPreview, &QPushButton::clicked, this, [this] { Preview(); });
  connect(mImport, &QPushButton::clicked, this, [this] { Import(); });
  connect(mCancel, &QPushButton::clicked, this, [this] { Cancel(); });
  connect(close, &QPushButton::clicked, this, &QWidget::close);
}

UsageImportWindow::~UsageImportWindow() = default;

QSize UsageImportWindow::sizeHint() const { return kDesignSize; }

void UsageImportWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void UsageImportWindow::SetFile(const QString& path) { mPath->setText(path); }
void UsageImportWindow::SetSource(const QString& source) { mSource->setText(source); }

void UsageImportWindow::Browse() {
  const QString path = QFileDialog::getOpenFileName(this, tr("Import form usage"), mPath->text(),
                                                    tr("CSV files (*.csv);;All files (*)"));
  if (!path.isEmpty()) mPath->setText(path);
}

void UsageImportWindow::Preview() {
  mModel.Preview(ToStdString(mPath->text().trimmed()), ToStdString(mSource->text()));
}

void UsageImportWindow::Import() { mModel.Import(); }

void UsageImportWindow::Cancel() { mModel.Cancel(); }

void UsageImportWindow::OnChange(shell::UsageImport::Change change) {
  if (change == shell::UsageImport::Change::Outcome) {
    mSummary->setText(ToQString(mModel.Summary()));
    const auto listed = mModel.Rows();
    std::vector<std::vector<std::string>> rows;
    rows.reserve(listed.size());
    for (const auto& row : listed) rows.emplace_back(row.begin(), row.end());
    FillTextTable(*mTable, rows);
  }
  const bool waiting = mModel.Waiting();
  mPreview->setEnabled(!waiting);
  mImport->setEnabled(mModel.CanImport());
  mCancel->setEnabled(!waiting && mModel.HasOutcome() && !mModel.Imported());
  const shell::StatusLine& status = mModel.Status();
  mStatus->setText(ToQString(status.text));
  mStatus->setStyleSheet(status.problem ? QStringLiteral("color: #b00000;") : QString());
}

}  // namespace fm::qt
