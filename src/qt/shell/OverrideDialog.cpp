#include "qt/shell/OverrideDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "qt/render/QtText.h"
#include "shell/SaveOverride.h"

namespace fm::qt {

OverrideDialog::OverrideDialog(const QString& refusal, Send send, QWidget* parent)
    : QDialog(parent),
      mSend(std::move(send)),
      mReason(new QPlainTextEdit(this)),
      mProblem(new QLabel(this)) {
  setObjectName(QStringLiteral("overrideDialog"));
  setWindowTitle(tr("Save with Override"));
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(this);
  auto* words = new QLabel(refusal, this);
  words->setObjectName(QStringLiteral("overrideRefusal"));
  words->setWordWrap(true);
  words->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(words);
  layout->addWidget(new QLabel(
      tr("Why may this save go beyond the limit? The reason is kept in the history of every "
         "form the save changes."),
      this));
  mReason->setObjectName(QStringLiteral("overrideReason"));
  mReason->setTabChangesFocus(true);
  layout->addWidget(mReason);
  mProblem->setObjectName(QStringLiteral("overrideProblem"));
  mProblem->setStyleSheet(QStringLiteral("color: #b00000;"));
  mProblem->setWordWrap(true);
  layout->addWidget(mProblem);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  QPushButton* save = buttons->addButton(tr("Save with Override"), QDialogButtonBox::AcceptRole);
  save->setObjectName(QStringLiteral("saveWithOverride"));
  save->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &OverrideDialog::Confirm);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(520, 300);
}

void OverrideDialog::Confirm() {
  const std::string reason = ToStdString(mReason->toPlainText());
  std::string problem = shell::SaveOverride::ReasonProblem(reason);
  if (problem.empty()) problem = mSend(reason);
  if (!problem.empty()) {
    mProblem->setText(ToQString(problem));
    return;
  }
  accept();
}

}  // namespace fm::qt
