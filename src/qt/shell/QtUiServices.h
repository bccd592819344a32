#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <string>

#include "platform/UiServices.h"

class QMessageBox;

namespace fm::qt {

class ModalFormDialog;

// The user-interface services on Qt Widgets: QMessageBox with the icon, buttons and title
// asked for; QApplication::beep; the application's override cursor for the hourglass; a
// ModalFormDialog for a form shown modally (Form::Hide or unloading the form ends it).
//
// Message boxes and modal forms open with the normal pointer, so the user can answer them
// even while the screen's code shows the hourglass; the pointer is put back afterwards.
// They are owned by the active window, or else by the main window given.
//
// Create after the QApplication, use on the user-interface thread.
class QtUiServices final : public UiServices {
 public:
  QtUiServices();
  ~QtUiServices() override;

  MsgBoxResult MessageBox(const std::string& text, MsgBoxButtons buttons, MsgBoxIcon icon,
                          const std::string& title) override;
  void Beep() override;
  void SetMousePointer(MousePointer pointer) override;
  MousePointer GetMousePointer() const override { return mPointer; }
  // Throws PlatformError when `form` is not a form of the screen model.
  void ShowModal(UiElement& form) override;
  void DoEvents() override;

  void SetMainWindow(QWidget* window) { mMainWindow = window; }
  // Beeps so far (the sound itself cannot be observed on every platform).
  int BeepCount() const { return mBeeps; }

  // Observers for automation and tests: called with each message box or modal dialog after
  // it is set up, just before it runs (a test answers it from there, e.g. with a
  // zero-time single-shot timer). An observer may replace itself while it runs.
  void SetMessageBoxObserver(std::function<void(QMessageBox&)> observer) {
    mMessageBoxObserver = std::move(observer);
  }
  void SetModalObserver(std::function<void(ModalFormDialog&)> observer) {
    mModalObserver = std::move(observer);
  }

 private:
  QWidget* Owner() const;
  void ApplyPointer();

  QPointer<QWidget> mMainWindow;
  MousePointer mPointer = MousePointer::Default;
  bool mOverrideSet = false;
  int mBeeps = 0;
  std::function<void(QMessageBox&)> mMessageBoxObserver;
  std::function<void(ModalFormDialog&)> mModalObserver;
};

}  // namespace fm::qt
