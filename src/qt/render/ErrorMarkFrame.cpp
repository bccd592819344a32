#include "qt/render/ErrorMarkFrame.h"

#include <QPainter>
#include <QPen>

namespace fm::qt {

ErrorMarkFrame::ErrorMarkFrame(QWidget& marked) : QWidget(marked.parentWidget()), mMarked(&marked) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
  setObjectName(QStringLiteral("errorMark"));
  hide();
}

void ErrorMarkFrame::Follow(bool marked) {
  QWidget* const widget = mMarked.data();
  if (widget == nullptr) {
    hide();
    return;
  }
  QWidget* const container = widget->parentWidget();
  if (container != nullptr && parentWidget() != container) setParent(container);
  const QRect around =
      widget->geometry().adjusted(-kThickness, -kThickness, kThickness, kThickness);
  const bool moved = geometry() != around;
  if (moved) setGeometry(around);
  const bool show = marked && !widget->isHidden();
  if (show) {
    // Above the widgets around it, which may have been created or moved since.
    if (moved || isHidden()) raise();
    if (isHidden()) QWidget::show();
  } else if (!isHidden()) {
    hide();
  }
}

void ErrorMarkFrame::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  QPen pen(QColor(0xd0, 0x00, 0x00));
  pen.setWidth(kThickness);
  pen.setJoinStyle(Qt::MiterJoin);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  const int half = kThickness / 2;
  painter.drawRect(rect().adjusted(half, half, -half, -half));
}

}  // namespace fm::qt
