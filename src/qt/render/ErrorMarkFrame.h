#pragma once

#include <QPointer>
#include <QWidget>

namespace fm::qt {

// The error mark of a control: a red frame drawn around the control's widget, above its
// neighbours, that lets mouse clicks through. It follows the widget's geometry and shows
// only while the widget does.
class ErrorMarkFrame final : public QWidget {
 public:
  static constexpr int kThickness = 2;

  explicit ErrorMarkFrame(QWidget& marked);

  // Places the frame around the marked widget (call after the widget moved or changed
  // parent) and shows or hides it.
  void Follow(bool marked);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPointer<QWidget> mMarked;
};

}  // namespace fm::qt
