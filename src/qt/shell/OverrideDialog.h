#pragma once

#include <QDialog>
#include <functional>

class QLabel;
class QPlainTextEdit;

namespace fm::qt {

// Asks the reason to save again what the server refused over an allotment cap or a reissue
// rule, beside the server's words. Not modal: the screen stays readable behind it. `send`
// gets the reason and answers what to tell the clerk ("" once sent, which closes the dialog).
class OverrideDialog final : public QDialog {
 public:
  using Send = std::function<std::string(const std::string& reason)>;
  OverrideDialog(const QString& refusal, Send send, QWidget* parent);

  QPlainTextEdit& ReasonEdit() const { return *mReason; }
  QLabel& ProblemLabel() const { return *mProblem; }
  // The clerk's "Save with Override".
  void Confirm();

 private:
  Send mSend;
  QPlainTextEdit* mReason;
  QLabel* mProblem;
};

}  // namespace fm::qt
