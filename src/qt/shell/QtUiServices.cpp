#include "qt/shell/QtUiServices.h"

#include <fmt/format.h>

#include <QApplication>
#include <QCursor>
#include <QMessageBox>

#include "controls/Form.h"
#include "platform/PlatformError.h"
#include "qt/render/ModalFormDialog.h"
#include "qt/render/QtText.h"

namespace fm::qt {

namespace {

QMessageBox::StandardButtons ButtonsOf(MsgBoxButtons buttons) {
  switch (buttons) {
    case MsgBoxButtons::Ok:
      return QMessageBox::Ok;
    case MsgBoxButtons::OkCancel:
      return QMessageBox::Ok | QMessageBox::Cancel;
    case MsgBoxButtons::YesNo:
      return QMessageBox::Yes | QMessageBox::No;
    case MsgBoxButtons::YesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
  }
  return QMessageBox::Ok;
}

QMessageBox::Icon IconOf(MsgBoxIcon icon) {
  switch (icon) {
    case MsgBoxIcon::None:
      return QMessageBox::NoIcon;
    case MsgBoxIcon::Critical:
      return QMessageBox::Critical;
    case MsgBoxIcon::Question:
      return QMessageBox::Question;
    case MsgBoxIcon::Exclamation:
      return QMessageBox::Warning;
    case MsgBoxIcon::Information:
      return QMessageBox::Information;
  }
  return QMessageBox::NoIcon;
}

MsgBoxResult ResultOf(int clicked, MsgBoxButtons buttons) {
  switch (clicked) {
    case QMessageBox::Yes:
      return MsgBoxResult::Yes;
    case QMessageBox::No:
      return MsgBoxResult::No;
    case QMessageBox::Cancel:
      return MsgBoxResult::Cancel;
    case QMessageBox::Ok:
      return MsgBoxResult::Ok;
    default:
      // Closed some other way: an OK box was still only acknowledged; anything else counts
      // as the user backing out.
      return buttons == MsgBoxButtons::Ok ? MsgBoxResult::Ok : MsgBoxResult::Cancel;
  }
}

// The entry checks end every message with CR LF.
QString DisplayText(const std::string& text) {
  QString shown = ToQString(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown.trimmed();
}

// Shows the normal pointer while a modal window waits for the user, and puts back what the
// screen's code had asked for afterwards (or what it asked for meanwhile).
class NormalPointerWhileModal {
 public:
  explicit NormalPointerWhileModal(QtUiServices& ui) : mUi(ui), mSaved(ui.GetMousePointer()) {
    mUi.SetMousePointer(MousePointer::Default);
  }
  ~NormalPointerWhileModal() {
    if (mUi.GetMousePointer() == MousePointer::Default) mUi.SetMousePointer(mSaved);
  }
  NormalPointerWhileModal(const NormalPointerWhileModal&) = delete;
  NormalPointerWhileModal& operator=(const NormalPointerWhileModal&) = delete;

 private:
  QtUiServices& mUi;
  MousePointer mSaved;
};

}  // namespace

QtUiServices::QtUiServices() = default;

QtUiServices::~QtUiServices() {
  if (mOverrideSet) QApplication::restoreOverrideCursor();
}

QWidget* QtUiServices::Owner() const {
  QWidget* active = QApplication::activeModalWidget();
  if (active == nullptr) active = QApplication::activeWindow();
  return active != nullptr ? active : mMainWindow.data();
}

MsgBoxResult QtUiServices::MessageBox(const std::string& text, MsgBoxButtons buttons,
                                      MsgBoxIcon icon, const std::string& title) {
  QMessageBox box(IconOf(icon), ToQString(title), DisplayText(text), ButtonsOf(buttons), Owner());
  box.setObjectName(QStringLiteral("messageBox"));
  // The first button is the default, as on the original platform.
  switch (buttons) {
    case MsgBoxButtons::Ok:
    case MsgBoxButtons::OkCancel:
      box.setDefaultButton(QMessageBox::Ok);
      break;
    case MsgBoxButtons::YesNo:
    case MsgBoxButtons::YesNoCancel:
      box.setDefaultButton(QMessageBox::Yes);
      break;
  }
  const NormalPointerWhileModal pointer(*this);
  // A copy: the observer may install the next one while it runs.
  if (const auto observer = mMessageBoxObserver) observer(box);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  return ResultOf(clicked != nullptr ? box.standardButton(clicked) : QMessageBox::NoButton,
                  buttons);
}

void QtUiServices::Beep() {
  ++mBeeps;
  QApplication::beep();
}

void QtUiServices::SetMousePointer(MousePointer pointer) {
  mPointer = pointer;
  ApplyPointer();
}

void QtUiServices::ApplyPointer() {
  // One entry of our own on Qt's override stack, changed in place, so that the stack stays
  // balanced however the screen's code alternates the pointer.
  if (mPointer == MousePointer::Hourglass) {
    if (mOverrideSet) {
      QApplication::changeOverrideCursor(QCursor(Qt::WaitCursor));
    } else {
      QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
      mOverrideSet = true;
    }
  } else if (mOverrideSet) {
    QApplication::restoreOverrideCursor();
    mOverrideSet = false;
  }
}

void QtUiServices::ShowModal(UiElement& element) {
  auto* form = dynamic_cast<Form*>(&element);
  if (form == nullptr) {
    throw PlatformError(
        PlatformError::kGeneric,
        fmt::format("{} cannot be shown modally: it is not a form", element.Name()));
  }
  ModalFormDialog dialog(*form, Owner());
  const NormalPointerWhileModal pointer(*this);
  if (const auto observer = mModalObserver) observer(dialog);
  dialog.Run();
}

void QtUiServices::DoEvents() { QCoreApplication::processEvents(); }

}  // namespace fm::qt
