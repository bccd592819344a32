#pragma once

#include <QLineEdit>
#include <memory>

#include "qt/render/EditForwarding.h"

namespace fm::qt {

// A one-line edit box that shows a model text and hands every edit to the model
// (EditForwarding): a key the model refuses is not inserted, a key it changes is inserted
// changed. The widget's maximum length never cuts a text the model holds.
class ModelLineEdit final : public QLineEdit, public EditForwarding {
 public:
  ModelLineEdit(std::unique_ptr<EditTarget> target, EditContext context, QWidget* parent = nullptr);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

  QString WidgetText() const override;
  void WidgetSelection(int& start, int& length) const override;
  bool WidgetHasSelection() const override;
  void CopyWidgetSelection() override;
  void SelectAllInWidget() override;
  void ShowInWidget(const QString& text, int start, int length) override;
  void ShowProperties(int textLength) override;
};

}  // namespace fm::qt
