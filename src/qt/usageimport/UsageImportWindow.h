#pragma once

#include <QWidget>

#include "shell/UsageImport.h"

class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace fm::qt {

// File > Import Form Usage...: the import of a file of uses of form numbers, in a window of
// the host shell, a view of shell::UsageImport.
//
// The clerk picks the CSV file (Browse..., or types its path) and says where the uses come
// from (the source, required); Preview sends the file with the preview flag and the window
// shows what the import would do: the counts in a sentence, and every bad line and conflict
// with its line number and message. Import sends the same file for good, and is offered
// only when the preview allows it (no bad line, not a file imported before, something to
// store); Cancel forgets the file. Escape closes the window.
class UsageImportWindow final : public QWidget {
 public:
  // `recorded` runs after uses were stored (the shell shows the counts that follow).
  explicit UsageImportWindow(std::function<void()> recorded, QWidget* parent = nullptr);
  ~UsageImportWindow() override;

  void SetFile(const QString& path);
  void SetSource(const QString& source);
  void Preview();
  void Import();
  void Cancel();

  bool Waiting() const { return mModel.Waiting(); }
  const shell::UsageImport& Model() const { return mModel; }
  QLabel& Summary() const { return *mSummary; }
  QTableWidget& Table() const { return *mTable; }
  QLabel& StatusLine() const { return *mStatus; }
  QPushButton& ImportButton() const { return *mImport; }
  QSize sizeHint() const override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnChange(shell::UsageImport::Change change);
  void Browse();

  QLineEdit* mPath;
  QLineEdit* mSource;
  QPushButton* mPreview;
  QLabel* mSummary;
  QTableWidget* mTable;
  QLabel* mStatus;
  QPushButton* mImport;
  QPushButton* mCancel;
  shell::UsageImport mModel;
};

}  // namespace fm::qt
