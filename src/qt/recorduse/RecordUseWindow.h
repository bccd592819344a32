#pragma once

#include <QWidget>
#include <functional>

#include "shell/RecordUse.h"

class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;

namespace fm::qt {

class DateBox;

// "Record Use..." on the range selected in the Forms Assignment grid: the use of a number or
// of a span of numbers within it, in a window of the host shell, a view of shell::RecordUse.
//
// The clerk gives the number (the range's first by default) or a span, the disposition
// (Issued, Spoiled, Lost, Stolen), the day (today by default, typed in the locale's short
// format), the officer (the range's by default), a reference, a note and the source; the
// entries a disposition needs say "required". Record (also Enter) sends it; the outcome is
// said in the status line. Escape closes the window.
class RecordUseWindow final : public QWidget {
 public:
  // `recorded` runs after a use was stored (the shell runs its search again).
  RecordUseWindow(shell::UseRange range, std::function<void()> recorded, QWidget* parent = nullptr);
  ~RecordUseWindow() override;

  void SetNumbers(const QString& from, const QString& to);
  void SetDisposition(protocol::Disposition disposition);
  void SetReference(const QString& reference);
  void SetNote(const QString& note);
  void Record();

  bool Waiting() const { return mModel.Waiting(); }
  const shell::UseRange& Range() const { return mModel.Range(); }
  DateBox& Day() const { return *mDay; }
  QLineEdit& Officer() const { return *mOfficer; }
  QLabel& StatusLine() const { return *mStatus; }
  QSize sizeHint() const override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ShowNeeds();
  void OnChange();

  QLineEdit* mFrom;
  QLineEdit* mTo;
  QComboBox* mDisposition;
  DateBox* mDay;
  QLineEdit* mOfficer;
  QLineEdit* mReference;
  QLineEdit* mNote;
  QLineEdit* mSource;
  QPushButton* mRecord;
  QLabel* mStatus;
  shell::RecordUse mModel;
};

}  // namespace fm::qt
