#include "qt/QtHostFrame.h"

#include <QAction>
#include <QLabel>

#include "qt/QtText.h"

namespace fm::qt {

QtHostFrame::QtHostFrame(QString tag, QLabel* status, QLabel* secondStatus, QString connectionText)
    : mTag(std::move(tag)),
      mStatus(status),
      mSecondStatusLabel(secondStatus),
      mConnectionText(std::move(connectionText)) {
  SetSecondStatus(false);
}

void QtHostFrame::AddToolbarItem(int item, QAction* action) { mItems[item] = action; }

void QtHostFrame::SetStatusText(const std::string& text) {
  if (mStatus != nullptr) mStatus->setText(ToQString(text));
}

void QtHostFrame::SetToolbarItem(int item, bool enabled, const std::string& tag) {
  if (!tag.empty() && ToQString(tag) != mTag) return;
  const auto it = mItems.find(item);
  if (it == mItems.end() || it->second == nullptr) return;
  it->second->setEnabled(enabled);
}

void QtHostFrame::SetSecondStatus(bool on) {
  mSecondStatus = on;
  if (mSecondStatusLabel == nullptr) return;
  if (on) {
    mSecondStatusLabel->setText(QStringLiteral("\u25CF ") + mConnectionText);
    mSecondStatusLabel->setStyleSheet(QStringLiteral("color: #1d7a1d;"));
    mSecondStatusLabel->setToolTip(QObject::tr("Connected to the forms inventory"));
  } else {
    mSecondStatusLabel->setText(QStringLiteral("\u25CB ") + QObject::tr("Not connected"));
    mSecondStatusLabel->setStyleSheet(QStringLiteral("color: #777777;"));
    mSecondStatusLabel->setToolTip(QString());
  }
}

}  // namespace fm::qt
