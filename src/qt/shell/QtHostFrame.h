#pragma once

#include <QDateTime>
#include <QPointer>
#include <QString>
#include <map>
#include <string>

#include "platform/HostFrame.h"
#include "platform/MessageComponent.h"

class QAction;
class QLabel;

namespace fm::qt {

// The host frame over the shell window's status bar and toolbar: the status text goes to
// the status bar's text, the second status to its connection indicator, and a toolbar call
// enables or disables the shell's action for that item number.
//
// The connection indicator is a light: grey until the first exchange with the forms server,
// green after one the server answered (a refusal is an answer), red after one that failed
// or timed out; its tooltip gives the time and, for red, the reason (ShowExchange). The
// document's second status only says whether it is connected at all: before it is, the
// indicator reads "Not connected".
//
// The tag says whose call it is: a call with the empty tag or the shell's own tag is
// carried out; a call with another window's tag is not for this frame and is ignored.
// Calls for items the shell does not have are ignored too. Widgets that are gone (the
// window closed) make the calls no-ops.
class QtHostFrame final : public HostFrame {
 public:
  enum class Light { Unknown, Good, Bad };

  QtHostFrame(QString tag, QLabel* status, QLabel* secondStatus, QString connectionText);

  void AddToolbarItem(int item, QAction* action);

  void SetStatusText(const std::string& text) override;
  void SetToolbarItem(int item, bool enabled, const std::string& tag) override;
  void SetSecondStatus(bool on) override;

  // How the last exchange with the forms server ended, and when.
  void ShowExchange(const ExchangeOutcome& outcome, const QDateTime& when);

  bool SecondStatus() const { return mSecondStatus; }
  Light ConnectionLight() const { return mLight; }

 private:
  void ShowLight();

  QString mTag;
  QPointer<QLabel> mStatus;
  QPointer<QLabel> mSecondStatusLabel;
  QString mConnectionText;
  bool mSecondStatus = false;
  Light mLight = Light::Unknown;
  QString mLightReason;
  std::map<int, QPointer<QAction>> mItems;
};

}  // namespace fm::qt
