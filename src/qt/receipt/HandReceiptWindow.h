#pragma once

#include <QWidget>

#include "shell/HandReceipt.h"

class QKeyEvent;
class QLabel;
class QPushButton;
class QTableWidget;

namespace fm::qt {

// A hand receipt in a window of the host shell, a view of shell::HandReceiptView: its number,
// who issued it to whom and when, its ranges with their forms and the total; Print... and Save
// as PDF... (each print counted by the server, a reprint marked "COPY"). Escape closes.
class HandReceiptWindow final : public QWidget {
 public:
  explicit HandReceiptWindow(QWidget* parent = nullptr);
  ~HandReceiptWindow() override;

  void Load(std::int64_t number);
  void Print();
  // Asks for the file and writes the receipt as the server counts the print.
  void ExportToPdf();
  // Writes it to `path` without asking (tests, screenshots).
  void ExportToPdf(const QString& path);

  bool Waiting() const { return mModel.Waiting(); }
  const protocol::HandReceipt& Receipt() const { return mModel.Receipt(); }
  QTableWidget& Lines() const { return *mLines; }
  QLabel& StatusLine() const { return *mStatus; }
  QSize sizeHint() const override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnChange(shell::HandReceiptView::Change change);

  QLabel* mHeading;
  QTableWidget* mLines;
  QLabel* mTotal;
  QLabel* mStatus;
  QPushButton* mPrint;
  QPushButton* mPdf;
  shell::HandReceiptView mModel;
};

}  // namespace fm::qt
