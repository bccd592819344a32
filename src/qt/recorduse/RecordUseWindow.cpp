#include "qt/recorduse/RecordUseWindow.h"

#include <QComboBox>
#include <QDate>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "qt/render/QtText.h"
#include "qt/report/DateEntry.h"
#include "shell/SearchSummary.h"

namespace fm::qt {

namespace {

constexpr QSize kRecordUseDesignSize(560, 380);

QString Needed(bool required) {
  return required ? QObject::tr("required") : QObject::tr("optional");
}

}  // namespace

RecordUseWindow::RecordUseWindow(shell::UseRange range, std::function<void()> recorded,
                                 QWidget* parent)
    : QWidget(parent, Qt::Window),
      mFrom(new QLineEdit(this)),
      mTo(new QLineEdit(this)),
      mDisposition(new QComboBox(this)),
      mDay(new DateBox(this)),
      mOfficer(new QLineEdit(this)),
      mReference(new QLineEdit(this)),
      mNote(new QLineEdit(this)),
      mSource(new QLineEdit(this)),
      mRecord(new QPushButton(tr("&Record"), this)),
      mStatus(new QLabel(this)),
      mModel(
          std::move(range), [] { return ToStdString(QDate::currentDate().toString(Qt::ISODate)); },
          [this] { OnChange(); }, std::move(recorded)) {
  setObjectName(QStringLiteral("recordUseWindow"));
  setWindowTitle(tr(shell::RecordUse::kTitle));
  const shell::UseRange& r = mModel.Range();
  auto* heading = new QLabel(tr("%1 %2-%3, %4")
                                 .arg(ToQString(r.description.empty() ? r.formType : r.description))
                                 .arg(r.from)
                                 .arg(r.to)
                                 .arg(r.registry ? tr("held by officer %1").arg(r.registry)
                                                 : tr("in the station's stock")),
                             this);
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  const auto digits = [this] {
    return new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{1,18}")), this);
  };
  mFrom->setObjectName(QStringLiteral("useFrom"));
  mFrom->setValidator(digits());
  mFrom->setText(QString::number(r.from));
  mTo->setObjectName(QStringLiteral("useTo"));
  mTo->setValidator(digits());
  mTo->setPlaceholderText(tr("the last of a span; empty: the one number"));
  mDisposition->setObjectName(QStringLiteral("useDisposition"));
  for (protocol::Disposition d : protocol::kDispositions) {
    mDisposition->addItem(tr(protocol::DispositionCaption(d)), static_cast<int>(d));
  }
  mDay->setObjectName(QStringLiteral("useDay"));
  mDay->SetDate(QDate::currentDate());
  mOfficer->setObjectName(QStringLiteral("useOfficer"));
  mOfficer->setValidator(digits());
  if (r.registry) mOfficer->setText(QString::number(r.registry));
  mReference->setObjectName(QStringLiteral("useReference"));
  mNote->setObjectName(QStringLiteral("useNote"));
  mSource->setObjectName(QStringLiteral("useSource"));
  mSource->setText(tr(shell::RecordUse::kDefaultSource));
  mRecord->setDefault(true);
  mStatus->setObjectName(QStringLiteral("useStatus"));
  mStatus->setWordWrap(true);

  auto* numbers = new QHBoxLayout;
  numbers->addWidget(mFrom, 1);
  numbers->addWidget(new QLabel(tr("to"), this));
  numbers->addWidget(mTo, 1);
  auto* form = new QFormLayout;
  form->addRow(tr("Number:"), numbers);
  form->addRow(tr("Disposition:"), mDisposition);
  form->addRow(tr("Used on:"), mDay);
  form->addRow(tr("Officer (Registry #):"), mOfficer);
  form->addRow(tr("Reference:"), mReference);
  form->addRow(tr("Note / reason:"), mNote);
  form->addRow(tr("Source:"), mSource);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(mRecord);
  auto* close = new QPushButton(tr("Close"), this);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(heading);
  layout->addLayout(form);
  layout->addWidget(mStatus, 1);
  layout->addLayout(buttons);
  resize(kRecordUseDesignSize);
  ShowNeeds();

  connect(mDisposition, &QComboBox::currentIndexChanged, this, [this] { ShowNeeds(); });
  connect(mRecord, &QPushButton::clicked, this, [this] { Record(); });
  connect(close, &QPushButton::clicked, this, &QWidget::close);
}

RecordUseWindow::~RecordUseWindow() = default;

QSize RecordUseWindow::sizeHint() const { return kRecordUseDesignSize; }

void RecordUseWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    Record();
    return;
  }
  QWidget::keyPressEvent(event);
}

void RecordUseWindow::SetNumbers(const QString& from, const QString& to) {
  mFrom->setText(from);
  mTo->setText(to);
}

void RecordUseWindow::SetDisposition(protocol::Disposition disposition) {
  mDisposition->setCurrentIndex(mDisposition->findData(static_cast<int>(disposition)));
}

void RecordUseWindow::SetReference(const QString& reference) { mReference->setText(reference); }
void RecordUseWindow::SetNote(const QString& note) { mNote->setText(note); }

void RecordUseWindow::ShowNeeds() {
  const auto needs =
      shell::RequiredFor(static_cast<protocol::Disposition>(mDisposition->currentData().toInt()));
  mOfficer->setPlaceholderText(Needed(needs.officer));
  mReference->setPlaceholderText(needs.reference ? tr("required: the citation, permit, case or "
                                                      "police report number")
                                                 : Needed(false));
  mNote->setPlaceholderText(needs.note ? tr("required: why the form was voided") : Needed(false));
}

void RecordUseWindow::Record() {
  shell::UseEntries entries;
  entries.from = ToStdString(mFrom->text());
  entries.to = ToStdString(mTo->text());
  entries.disposition = static_cast<protocol::Disposition>(mDisposition->currentData().toInt());
  if (mDay->Date().isValid()) entries.usedOn = ToStdString(mDay->Date().toString(Qt::ISODate));
  entries.officer = ToStdString(mOfficer->text());
  entries.reference = ToStdString(mReference->text());
  entries.note = ToStdString(mNote->text());
  entries.source = ToStdString(mSource->text());
  mModel.Record(entries);
}

void RecordUseWindow::OnChange() {
  mRecord->setEnabled(!mModel.Waiting());
  const shell::StatusLine& status = mModel.Status();
  mStatus->setText(ToQString(status.text));
  mStatus->setStyleSheet(status.problem ? QStringLiteral("color: #b00000;") : QString());
}

}  // namespace fm::qt
