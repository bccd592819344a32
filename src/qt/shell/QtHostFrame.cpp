#include "qt/shell/QtHostFrame.h"

#include <QAction>
#include <QLabel>

#include "qt/render/QtText.h"

namespace fm::qt {

namespace {
constexpr const char* kGrey = "#777777";
constexpr const char* kGreen = "#1d7a1d";
constexpr const char* kRed = "#b3261e";
}  // namespace

QtHostFrame::QtHostFrame(QString tag, QLabel* status, QLabel* secondStatus, QString connectionText)
    : mTag(std::move(tag)),
      mStatus(status),
      mSecondStatusLabel(secondStatus),
      mConnectionText(std::move(connectionText)),
      mLightReason(QObject::tr("No exchange with the forms server yet")) {
  ShowLight();
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
  ShowLight();
}

void QtHostFrame::ShowExchange(const ExchangeOutcome& outcome, const QDateTime& when) {
  const QString at = when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  switch (outcome.result) {
    case ExchangeOutcome::Result::Answered:
      mLight = Light::Good;
      mLightReason = QObject::tr("The forms server answered at %1").arg(at);
      break;
    case ExchangeOutcome::Result::Failed:
      mLight = Light::Bad;
      mLightReason =
          QObject::tr("The last exchange failed at %1:\n%2").arg(at, ToQString(outcome.reason));
      break;
    case ExchangeOutcome::Result::TimedOut:
      mLight = Light::Bad;
      mLightReason = QObject::tr("No answer at %1:\n%2").arg(at, ToQString(outcome.reason));
      break;
  }
  ShowLight();
}

void QtHostFrame::ShowLight() {
  if (mSecondStatusLabel == nullptr) return;
  if (!mSecondStatus) {
    mSecondStatusLabel->setText(QStringLiteral("\u25CB ") + QObject::tr("Not connected"));
    mSecondStatusLabel->setStyleSheet(QStringLiteral("color: %1;").arg(kGrey));
    mSecondStatusLabel->setToolTip(QString());
    return;
  }
  const char* colour = mLight == Light::Good ? kGreen : mLight == Light::Bad ? kRed : kGrey;
  mSecondStatusLabel->setText(QStringLiteral("\u25CF ") + mConnectionText);
  mSecondStatusLabel->setStyleSheet(QStringLiteral("color: %1;").arg(colour));
  mSecondStatusLabel->setToolTip(mLightReason);
}

}  // namespace fm::qt
