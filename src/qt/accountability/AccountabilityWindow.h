#pragma once

#include <QDate>
#include <QWidget>
#include <string>
#include <utility>
#include <vector>

#include "shell/Accountability.h"

class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPagedPaintDevice;
class QPushButton;
class QTableWidget;

namespace fm::qt {

class DateBox;

// Reports > Accountability: the accountability report of a Troop/District, a whole troop or
// an officer over a period, in a window of the host shell, a view of shell::Accountability.
//
// The clerk gives the holder (a Troop/District, "Whole troop", and/or an officer's registry
// number), one form type or all, and the first and last day (the last calendar month by
// default, typed in the locale's short date format, DateBox); Run (also Enter in any of the
// entries) asks the forms server (message type 36, through the message component). Per
// form type the window shows the beginning balance, received, transferred in, reinstated,
// transferred out, delisted, withdrawn, the ending balance and the forms issued; a form type
// whose lines do not add up is shown in red, with the difference: a defect of the history
// for the help desk. Below, the serial ranges of every line of the selected form type (the
// delisted ones by reason). A certification line takes the accountable officer's name and
// leaves room for the signature and the date. Escape closes the window.
//
// Export to CSV (the table of the command line's --format csv, then the certification), to
// PDF (Qt's PDF writer) and to a printer (Qt's print dialog) carry the whole report with the
// certification line; the printed pages are laid out by ReportLayout (headings that wrap
// between words only, rows kept whole, the column headings on every page).
class AccountabilityWindow final : public QWidget {
 public:
  explicit AccountabilityWindow(QWidget* parent = nullptr);
  ~AccountabilityWindow() override;

  // The entries (the shell fills the station of the document's last search).
  void SetStation(const QString& station, bool wholeTroop);
  void SetOfficer(const QString& registry);
  void SetFormType(const std::string& code);  // empty: all form types
  void SetPeriod(const QDate& first, const QDate& last);
  // Asks for the report the entries describe; a wrong entry is said in the status line and
  // nothing is sent.
  void Run();

  void ExportToCsv();
  void ExportToPdf();
  void Print();
  // Draws the report, certification line included, on a paged device.
  void Render(QPagedPaintDevice& device) const;
  // The report's blocks as printed, with the texts the window shows.
  std::vector<shell::ReportBlock> PrintedBlocks() const;

  bool Waiting() const { return mModel.Waiting(); }
  const protocol::AccountabilityReport& Report() const { return mModel.Report(); }
  QTableWidget& Lines() const { return *mLines; }
  QTableWidget& Ranges() const { return *mRanges; }
  QLabel& StatusLine() const { return *mStatus; }
  QLineEdit& OfficerName() const { return *mCertifier; }
  DateBox& FirstDay() const { return *mFirst; }
  DateBox& LastDay() const { return *mLast; }
  QSize sizeHint() const override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnChange(shell::Accountability::Change change);
  void ShowReport();
  void ShowRanges(int line);
  void SetStatus(const QString& text, bool problem);
  QString SuggestedName(const char* extension) const;
  shell::AccountabilityTexts Texts() const;

  QLineEdit* mStation;
  QCheckBox* mWholeTroop;
  QLineEdit* mOfficer;
  QComboBox* mFormType;
  DateBox* mFirst;
  DateBox* mLast;
  QPushButton* mRun;
  QLabel* mHeading;
  QTableWidget* mLines;
  QTableWidget* mRanges;
  QLineEdit* mCertifier;
  QLabel* mStatus;
  QPushButton* mCsv;
  QPushButton* mPdf;
  QPushButton* mPrint;
  shell::Accountability mModel;
};

}  // namespace fm::qt
