#pragma once

#include <QWidget>

#include "shell/StockOnHand.h"

class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace fm::qt {

// Reports > Stock on Hand...: what each station holds of each form type against its minimum
// and how long it lasts, in a window of the host shell, a view of shell::StockOnHand.
//
// The clerk gives a Troop/District (empty: every station the account sees) and one form type
// or all; Run (also Enter) asks the forms server (message type 39). Per station and form type
// the window shows the unassigned forms, those with officers, the minimum, the forms used per
// week and the weeks of supply, a line below its minimum in red; below, the open stock
// alerts. Set Minimum sets the minimum of the station and form type typed (message type 40;
// 0 removes it) and runs the report again. Export to CSV and to PDF carry the whole report.
// Escape closes.
class StockOnHandWindow final : public QWidget {
 public:
  explicit StockOnHandWindow(QWidget* parent = nullptr);
  ~StockOnHandWindow() override;

  void SetStation(const QString& station);
  void Run();
  void SetMinimum(const QString& formType, const QString& minimum);
  void ExportToCsv();
  void ExportToPdf();

  bool Waiting() const { return mModel.Waiting(); }
  const protocol::StockReport& Report() const { return mModel.Report(); }
  QTableWidget& Lines() const { return *mLines; }
  QTableWidget& Alerts() const { return *mAlerts; }
  // Per station its last certified physical count, an overdue one in red.
  QTableWidget& Counts() const { return *mCounts; }
  QLabel& StatusLine() const { return *mStatus; }
  QSize sizeHint() const override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnChange(shell::StockOnHand::Change change);
  void ShowReport();

  QLineEdit* mStation;
  QComboBox* mFormType;
  QPushButton* mRun;
  QComboBox* mMinimumType;
  QLineEdit* mMinimum;
  QPushButton* mSetMinimum;
  QLabel* mHeading;
  QTableWidget* mLines;
  QTableWidget* mAlerts;
  QLabel* mCountHeading;
  QTableWidget* mCounts;
  QLabel* mStatus;
  QPushButton* mCsv;
  QPushButton* mPdf;
  shell::StockOnHand mModel;
};

}  // namespace fm::qt
