#pragma once

#include <QWidget>

#include "shell/UnaccountedForms.h"

class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace fm::qt {

class DateBox;

// Reports > Unaccounted Forms...: the reconciliation of a station's or an officer's forms
// against their uses, in a window of the host shell, a view of shell::UnaccountedForms.
//
// The clerk gives a Troop/District or an officer's registry number, one form type or all,
// the day to reconcile as of (today by default) and the gap in days (30 by default); Run
// (also Enter) asks the forms server (message type 38). Per holder and form type the window
// shows the numbers held, used by disposition, in stock and unaccounted (a line with
// unaccounted numbers in red, its numbers as serial ranges); below, the uses that are
// exceptions with the facts that prove them. Export to CSV (the table of the command line's
// --format csv) and to PDF (laid out by ReportLayout) carry the whole report. Escape closes.
class UnaccountedFormsWindow final : public QWidget {
 public:
  explicit UnaccountedFormsWindow(QWidget* parent = nullptr);
  ~UnaccountedFormsWindow() override;

  void SetStation(const QString& station);
  void SetOfficer(const QString& registry);
  void SetAsOf(const QDate& day);
  // Makes the window the clearance statement of the officer `registry` (docs/clearance.md):
  // its title, its verdict in the status line (green when clear), and its PDF with the
  // verdict and lines for signatures. Run() then asks for it.
  void SetClearance(const QString& registry);
  void Run();
  void ExportToCsv();
  void ExportToPdf();

  bool Waiting() const { return mModel.Waiting(); }
  const protocol::Reconciliation& Report() const { return mModel.Report(); }
  QTableWidget& Lines() const { return *mLines; }
  QTableWidget& Exceptions() const { return *mExceptions; }
  QLabel& StatusLine() const { return *mStatus; }
  QSize sizeHint() const override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnChange(shell::UnaccountedForms::Change change);
  void ShowReport();

  QLineEdit* mStation;
  QLineEdit* mOfficer;
  QComboBox* mFormType;
  DateBox* mAsOf;
  QLineEdit* mGap;
  QPushButton* mRun;
  QLabel* mHeading;
  QTableWidget* mLines;
  QTableWidget* mExceptions;
  QLabel* mStatus;
  QPushButton* mCsv;
  QPushButton* mPdf;
  shell::UnaccountedForms mModel;
};

}  // namespace fm::qt
