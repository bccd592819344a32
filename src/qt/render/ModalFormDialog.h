#pragma once

#include <QDialog>

namespace fm {
class Form;
}

namespace fm::qt {

class FormView;

// A form of the screen model shown modally: a dialog holding the form's FormView, titled
// with the form's caption and sized to its design size. It runs until the form is hidden
// or unloaded, whoever does it (the form's own code, usually). Closing the window or
// pressing Escape asks the form: Escape presses its cancel button, or closes it by the
// control menu, whose QueryUnload may refuse.
class ModalFormDialog final : public QDialog {
 public:
  ModalFormDialog(Form& form, QWidget* parent = nullptr);
  ~ModalFormDialog() override;

  FormView& View() const { return *mView; }

  // Runs the dialog's event loop until the form is no longer shown; returns at once when
  // the form is not shown (a Load handler may already have unloaded it).
  void Run();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  bool FormShown() const;
  void FollowForm();

  Form& mForm;
  FormView* mView;
  bool mRunning = false;
};

}  // namespace fm::qt
