#include "qt/count/PhysicalCountWindow.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QVBoxLayout>
#include <initializer_list>

#include "qt/render/GridView.h"
#include "qt/render/QtText.h"
#include "qt/render/TextTable.h"
#include "qt/report/ReportPrint.h"

namespace fm::qt {

namespace {

constexpr QSize kCountDesignSize(1200, 760);
const QColor kProblem(176, 0, 0);

QVBoxLayout* Titled(QWidget* parent, const QString& title, QTableWidget* table) {
  auto* box = new QVBoxLayout;
  box->addWidget(new QLabel(title, parent));
  box->addWidget(table, 1);
  return box;
}

}  // namespace

PhysicalCountWindow::PhysicalCountWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      mStation(new QLineEdit(this)),
      mList(new QPushButton(tr("&List Counts"), this)),
      mCounts(new QComboBox(this)),
      mShow(new QPushButton(tr("&Show"), this)),
      mTypes(new QListWidget(this)),
      mOpen(new QPushButton(tr("&Open Count"), this)),
      mHeading(new QLabel(this)),
      mSummary(new QLabel(this)),
      mSpanType(new QComboBox(this)),
      mFrom(new QLineEdit(this)),
      mTo(new QLineEdit(this)),
      mEnter(new QPushButton(tr("&Enter Span"), this)),
      mImport(new QPushButton(tr("&Import File..."), this)),
      mMissing(new QTableWidget(this)),
      mUnexpected(new QTableWidget(this)),
      mFound(new QTableWidget(this)),
      mCertification(new QLabel(this)),
      mStatement(new QLineEdit(this)),
      mCertify(new QPushButton(tr("&Certify"), this)),
      mStatus(new QLabel(this)),
      mPdf(new QPushButton(tr("Export to &PDF..."), this)),
      mModel([](const std::string& utc) { return ToStdString(LocalTimeText(utc)); },
             [this](shell::PhysicalCount::Change change) { OnChange(change); }) {
  setObjectName(QStringLiteral("physicalCountWindow"));
  setWindowTitle(tr(shell::PhysicalCount::kTitle));
  mStation->setObjectName(QStringLiteral("countStation"));
  mStation->setMaxLength(3);
  mStation->setPlaceholderText(tr("e.g. A1"));
  mCounts->setObjectName(QStringLiteral("countList"));
  mCounts->setMinimumContentsLength(60);
  mTypes->setObjectName(QStringLiteral("countFormTypes"));
  mTypes->setMaximumHeight(90);
  mSpanType->addItem(tr("The count's form type"), QString());
  for (const auto& [code, description] : mModel.FormTypes()) {
    auto* item = new QListWidgetItem(ToQString(description), mTypes);
    item->setData(Qt::UserRole, ToQString(code));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    mSpanType->addItem(ToQString(description), ToQString(code));
  }
  const auto* digits =
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral(" *[0-9]{1,15} *")), this);
  for (QLineEdit* box : {mFrom, mTo}) box->setValidator(digits);
  mFrom->setObjectName(QStringLiteral("countFrom"));
  mFrom->setPlaceholderText(tr("first number"));
  mTo->setObjectName(QStringLiteral("countTo"));
  mTo->setPlaceholderText(tr("last (empty: one)"));
  mHeading->setObjectName(QStringLiteral("countHeading"));
  mHeading->setWordWrap(true);
  QFont bold = mHeading->font();
  bold.setBold(true);
  mHeading->setFont(bold);
  mSummary->setObjectName(QStringLiteral("countSummary"));
  mCertification->setObjectName(QStringLiteral("countCertification"));
  mCertification->setWordWrap(true);
  mStatement->setObjectName(QStringLiteral("countStatement"));
  mStatement->setMaxLength(static_cast<int>(shell::PhysicalCount::kMaxStatementLength));
  mStatement->setPlaceholderText(tr("Statement of the certification, e.g. who was present"));
  mStatus->setObjectName(QStringLiteral("countStatus"));
  mStatus->setWordWrap(true);
  mMissing->setObjectName(QStringLiteral("countMissing"));
  mUnexpected->setObjectName(QStringLiteral("countUnexpected"));
  mFound->setObjectName(QStringLiteral("countFound"));
  PrepareTextTable(*mMissing, shell::PhysicalCount::kMissingHeadings);
  PrepareTextTable(*mUnexpected, shell::PhysicalCount::kUnexpectedHeadings);
  PrepareTextTable(*mFound, shell::PhysicalCount::kFoundHeadings);

  auto* station = new QGridLayout;
  station->addWidget(new QLabel(tr("Troop/District:"), this), 0, 0);
  station->addWidget(mStation, 0, 1);
  station->addWidget(mList, 0, 2);
  station->addWidget(new QLabel(tr("Count:"), this), 0, 3);
  station->addWidget(mCounts, 0, 4);
  station->addWidget(mShow, 0, 5);
  station->addWidget(new QLabel(tr("New count of:"), this), 1, 0, Qt::AlignTop);
  station->addWidget(mTypes, 1, 1, 1, 4);
  station->addWidget(mOpen, 1, 5, Qt::AlignTop);
  station->setColumnStretch(4, 1);
  auto* entry = new QHBoxLayout;
  entry->addWidget(new QLabel(tr("Counted:"), this));
  entry->addWidget(mSpanType, 2);
  entry->addWidget(new QLabel(tr("From:"), this));
  entry->addWidget(mFrom, 1);
  entry->addWidget(new QLabel(tr("To:"), this));
  entry->addWidget(mTo, 1);
  entry->addWidget(mEnter);
  entry->addWidget(mImport);
  // What needs following up side by side, wide enough for the reasons; the found below.
  auto* findings = new QHBoxLayout;
  findings->addLayout(Titled(this, tr("Missing: in the book, not counted"), mMissing), 2);
  findings->addLayout(Titled(this, tr("Unexpected: counted, not in the book"), mUnexpected), 3);
  auto* lists = new QVBoxLayout;
  lists->addLayout(findings, 1);
  lists->addLayout(Titled(this, tr("Found"), mFound), 1);
  auto* certify = new QHBoxLayout;
  certify->addWidget(mStatement, 1);
  certify->addWidget(mCertify);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(mStatus, 1);
  buttons->addWidget(mPdf);
  auto* close = new QPushButton(tr("Close"), this);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(station);
  layout->addWidget(mHeading);
  layout->addWidget(mSummary);
  layout->addLayout(entry);
  layout->addLayout(lists, 1);
  layout->addWidget(mCertification);
  layout->addLayout(certify);
  layout->addLayout(buttons);
  resize(kCountDesignSize);
  FollowState();

  connect(mList, &QPushButton::clicked, this, [this] { ListCounts(); });
  connect(mStation, &QLineEdit::returnPressed, this, [this] { ListCounts(); });
  connect(mShow, &QPushButton::clicked, this, [this] { PickCount(mCounts->currentIndex()); });
  connect(mOpen, &QPushButton::clicked, this, [this] {
    std::vector<int> ticked;
    for (int i = 0; i < mTypes->count(); ++i) {
      if (mTypes->item(i)->checkState() == Qt::Checked) ticked.push_back(i);
    }
    mModel.Open(ToStdString(mStation->text()), ticked);
  });
  connect(mEnter, &QPushButton::clicked, this,
          [this] { EnterSpan(mSpanType->currentData().toString(), mFrom->text(), mTo->text()); });
  connect(mFrom, &QLineEdit::returnPressed, mEnter, &QPushButton::click);
  connect(mTo, &QLineEdit::returnPressed, mEnter, &QPushButton::click);
  connect(mImport, &QPushButton::clicked, this, [this] { Browse(); });
  connect(mCertify, &QPushButton::clicked, this, [this] { Certify(mStatement->text()); });
  connect(mPdf, &QPushButton::clicked, this, [this] { ExportToPdf(); });
  connect(close, &QPushButton::clicked, this, &QWidget::close);
}

PhysicalCountWindow::~PhysicalCountWindow() = default;

QSize PhysicalCountWindow::sizeHint() const { return kCountDesignSize; }

void PhysicalCountWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void PhysicalCountWindow::SetStation(const QString& station) {
  mStation->setText(station.trimmed().toUpper());
}

void PhysicalCountWindow::ListCounts() { mModel.ListCounts(ToStdString(mStation->text())); }

void PhysicalCountWindow::OpenCount(const QStringList& formTypes) {
  for (int i = 0; i < mTypes->count(); ++i) {
    QListWidgetItem* item = mTypes->item(i);
    item->setCheckState(formTypes.contains(item->data(Qt::UserRole).toString()) ? Qt::Checked
                                                                                : Qt::Unchecked);
  }
  mOpen->click();
}

void PhysicalCountWindow::PickCount(int index) {
  if (index >= 0 && index < mCounts->count()) mCounts->setCurrentIndex(index);
  mModel.Pick(index);
}

void PhysicalCountWindow::EnterSpan(const QString& formType, const QString& from,
                                    const QString& to) {
  mFrom->setText(from);
  mTo->setText(to);
  mModel.EnterSpan(
      formType.isEmpty() ? -1 : shell::CodeIndex(mModel.FormTypes(), ToStdString(formType)),
      ToStdString(from), ToStdString(to));
}

void PhysicalCountWindow::Browse() {
  const QString path =
      QFileDialog::getOpenFileName(this, tr("Import counted numbers"), QString(),
                                   tr("Counted numbers (*.txt *.csv);;All files (*)"));
  if (!path.isEmpty()) ImportFile(path);
}

void PhysicalCountWindow::ImportFile(const QString& path) {
  mModel.ImportFile(std::filesystem::path(ToStdString(path)));
}

void PhysicalCountWindow::Certify(const QString& statement) {
  mStatement->setText(statement);
  mModel.Certify(ToStdString(statement));
}

void PhysicalCountWindow::ExportToPdf() {
  if (!mModel.HasSheet()) return;
  const QString path = GridView::AskSaveFile(this, ToQString(mModel.SuggestedFileName("pdf")),
                                             tr("PDF files (*.pdf);;All files (*)"));
  if (path.isEmpty()) return;
  if (WriteReportPdf(path, windowTitle(), mModel.Blocks(), mModel.Footer())) {
    mModel.Say(ToStdString(tr("Exported to %1.").arg(path)), false);
  }
}

void PhysicalCountWindow::OnChange(shell::PhysicalCount::Change change) {
  if (change == shell::PhysicalCount::Change::Counts) {
    const int shown = mCounts->currentIndex();
    mCounts->clear();
    for (const auto& choice : mModel.CountChoices()) mCounts->addItem(ToQString(choice));
    mCounts->setCurrentIndex(shown >= 0 && shown < mCounts->count() ? shown : mCounts->count() - 1);
  }
  if (change == shell::PhysicalCount::Change::Sheet) ShowSheet();
  FollowState();
  const shell::StatusLine& status = mModel.Status();
  mStatus->setText(ToQString(status.text));
  mStatus->setStyleSheet(status.problem ? QStringLiteral("color: #b00000;") : QString());
}

void PhysicalCountWindow::FollowState() {
  const bool idle = !mModel.Waiting();
  mList->setEnabled(idle);
  mOpen->setEnabled(idle);
  mShow->setEnabled(idle && mCounts->count() > 0);
  // A certified count never changes: nothing is offered that would be refused.
  for (QWidget* entry :
       std::initializer_list<QWidget*>{mEnter, mImport, mCertify, mStatement, mFrom, mTo}) {
    entry->setEnabled(idle && mModel.CanChange());
  }
  mPdf->setEnabled(mModel.HasSheet());
}

void PhysicalCountWindow::ShowSheet() {
  const auto& counts = mModel.Counts();
  for (std::size_t i = 0; i < counts.size(); ++i) {
    if (counts[i].number == mModel.Sheet().head.number)
      mCounts->setCurrentIndex(static_cast<int>(i));
  }
  mHeading->setText(ToQString(mModel.Heading()));
  mSummary->setText(ToQString(mModel.Summary()));
  mCertification->setText(ToQString(mModel.Certification()));
  FillTextTable(*mMissing, mModel.MissingRows());
  FillTextTable(*mUnexpected, mModel.UnexpectedRows());
  FillTextTable(*mFound, mModel.FoundRows());
  for (QTableWidget* table : {mMissing, mUnexpected}) {
    for (int r = 0; r < table->rowCount(); ++r) {
      for (int c = 0; c < table->columnCount(); ++c) table->item(r, c)->setForeground(kProblem);
    }
  }
  // What was entered now shows in the result; the boxes wait for the next span.
  mFrom->clear();
  mTo->clear();
}

}  // namespace fm::qt
