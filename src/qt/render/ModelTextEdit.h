#pragma once

#include <QPlainTextEdit>
#include <memory>

#include "qt/render/EditForwarding.h"

namespace fm::qt {

// The multi-line edit box: as ModelLineEdit, for a text box whose model is multi-line. The
// model keeps line breaks as CR LF (what Enter inserts); the widget shows them as lines.
// Every way text can arrive (keys, paste, drop, middle button) goes to the model.
class ModelTextEdit final : public QPlainTextEdit, public EditForwarding {
 public:
  ModelTextEdit(std::unique_ptr<EditTarget> target, EditContext context, QWidget* parent = nullptr);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool canInsertFromMimeData(const QMimeData* source) const override;
  void insertFromMimeData(const QMimeData* source) override;

  QString WidgetText() const override;
  void WidgetSelection(int& start, int& length) const override;
  bool WidgetHasSelection() const override;
  void CopyWidgetSelection() override;
  void SelectAllInWidget() override;
  void ShowInWidget(const QString& text, int start, int length) override;
  void ShowProperties(int textLength) override;
};

}  // namespace fm::qt
