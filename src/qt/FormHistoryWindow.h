#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>

#include "protocol/Custody.h"

class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace fm::qt {

class ShellExchange;

// Tools > Form History: the chain of custody of one form, in a window of the host shell.
//
// The clerk gives a form type and a form number (or the shell does, from the selected range
// of the Forms Assignment grid) and Show asks the forms server (message type 35, through
// the message component, so that it works with the embedded inventory and with a server).
// The window lists every change that touched the form, oldest first: when (in local time),
// who, what, the range it concerned, the holder and status before and after, the comment
// (a withdrawal's reason); above them, who holds the form now. Export to CSV writes the
// list as shown (RFC 4180, UTF-8). Escape closes the window.
class FormHistoryWindow final : public QWidget {
 public:
  explicit FormHistoryWindow(QWidget* parent = nullptr);
  ~FormHistoryWindow() override;

  // Puts the form in the entries and asks for its history.
  void ShowHistory(const std::string& formType, std::int64_t number);
  // Asks for the history of the form the entries name; a wrong entry is said in the status
  // line and nothing is sent.
  void Request();
  // The list to a CSV file the clerk chooses; a file that cannot be written is reported.
  void ExportToCsv();

  bool Waiting() const;
  const protocol::FormHistory& History() const { return mHistory; }
  QComboBox& FormTypeBox() const { return *mFormType; }
  QLineEdit& NumberBox() const { return *mNumber; }
  QTableWidget& Table() const { return *mTable; }
  QLabel& Summary() const { return *mSummary; }
  QLabel& StatusLine() const { return *mStatus; }
  QSize sizeHint() const override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Show(const protocol::FormHistory& history);
  void SetStatus(const QString& text, bool problem);

  std::unique_ptr<ShellExchange> mExchange;
  protocol::FormHistory mHistory;
  QComboBox* mFormType;
  QLineEdit* mNumber;
  QPushButton* mShow;
  QLabel* mSummary;
  QTableWidget* mTable;
  QLabel* mStatus;
  QPushButton* mExport;
};

}  // namespace fm::qt
