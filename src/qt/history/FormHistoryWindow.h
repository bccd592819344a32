#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

#include "shell/FormHistory.h"

class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace fm::qt {

// Tools > Form History: the chain of custody of one form, in a window of the host shell, a
// view of shell::FormHistory.
//
// The clerk gives a form type and a form number (or the shell does, from the selected range
// of the Forms Assignment grid) and Show asks for the history. The window lists every
// change that touched the form, oldest first: when (in local time), who, what, the range it
// concerned, the holder and status before and after, the comment (a withdrawal's reason);
// above them, who holds the form now and how it was used; below them, when the form has
// uses recorded, every use record (superseded ones too) with where it came from and who
// recorded it. Export to CSV writes the list as shown. Escape closes
// the window.
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

  bool Waiting() const { return mModel.Waiting(); }
  const protocol::FormHistory& History() const { return mModel.History(); }
  QComboBox& FormTypeBox() const { return *mFormType; }
  QLineEdit& NumberBox() const { return *mNumber; }
  QTableWidget& Table() const { return *mTable; }
  // The form's use records; hidden while it has none.
  QTableWidget& UsesTable() const { return *mUses; }
  // The certified physical counts of the form; hidden while there are none.
  QTableWidget& CountsTable() const { return *mCounts; }
  QLabel& Summary() const { return *mSummary; }
  QLabel& StatusLine() const { return *mStatus; }
  QSize sizeHint() const override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnChange(shell::FormHistory::Change change);
  void ShowRows();

  QComboBox* mFormType;
  QLineEdit* mNumber;
  QPushButton* mShow;
  QLabel* mSummary;
  QTableWidget* mTable;
  QTableWidget* mUses;
  QTableWidget* mCounts;
  QLabel* mStatus;
  QPushButton* mExport;
  shell::FormHistory mModel;
};

}  // namespace fm::qt
