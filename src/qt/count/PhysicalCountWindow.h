#pragma once

#include <QWidget>

#include "shell/PhysicalCount.h"

class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace fm::qt {

// Tools > Physical Count...: an auditor's count of a station's forms against its book, in a
// window of the host shell, a view of shell::PhysicalCount.
//
// The auditor types a Troop/District and lists its counts (also Enter in the box); he picks
// one, or ticks form types and opens a new one, which fixes its book. Into a count not yet
// certified he enters spans (from, to, and the form type when it counts several) or imports
// a file (one number a line, or CSV "form type,from[,to]"). The result shows as three lists:
// missing (in the book, not counted), unexpected (counted, not in the book, with the reason),
// found. Certify sends the statement; the server's refusal is shown in its words. Export to
// PDF prints the count with its certification. Escape closes.
class PhysicalCountWindow final : public QWidget {
 public:
  explicit PhysicalCountWindow(QWidget* parent = nullptr);
  ~PhysicalCountWindow() override;

  void SetStation(const QString& station);
  void ListCounts();
  // Ticks exactly the form types of these codes, then opens a count of them.
  void OpenCount(const QStringList& formTypes);
  void PickCount(int index);
  // `formType` a code, empty: the count's only one.
  void EnterSpan(const QString& formType, const QString& from, const QString& to);
  void ImportFile(const QString& path);
  void Certify(const QString& statement);
  void ExportToPdf();

  bool Waiting() const { return mModel.Waiting(); }
  const shell::PhysicalCount& Model() const { return mModel; }
  QComboBox& CountList() const { return *mCounts; }
  QTableWidget& Missing() const { return *mMissing; }
  QTableWidget& Unexpected() const { return *mUnexpected; }
  QTableWidget& Found() const { return *mFound; }
  QLabel& StatusLine() const { return *mStatus; }
  QSize sizeHint() const override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnChange(shell::PhysicalCount::Change change);
  void ShowSheet();
  void Browse();
  void FollowState();

  QLineEdit* mStation;
  QPushButton* mList;
  QComboBox* mCounts;
  QPushButton* mShow;
  QListWidget* mTypes;
  QPushButton* mOpen;
  QLabel* mHeading;
  QLabel* mSummary;
  QComboBox* mSpanType;
  QLineEdit* mFrom;
  QLineEdit* mTo;
  QPushButton* mEnter;
  QPushButton* mImport;
  QTableWidget* mMissing;
  QTableWidget* mUnexpected;
  QTableWidget* mFound;
  QLabel* mCertification;
  QLineEdit* mStatement;
  QPushButton* mCertify;
  QLabel* mStatus;
  QPushButton* mPdf;
  shell::PhysicalCount mModel;
};

}  // namespace fm::qt
