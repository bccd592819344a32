#include "qt/shell/WindowPlacement.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace fm::qt {

namespace {

QRect FreeArea(const QWidget& window) {
  const QScreen* screen = window.screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  return screen == nullptr ? QRect() : screen->availableGeometry();
}

}  // namespace

QSize SizeOnScreen(const QWidget& window, QSize preferred) {
  const QRect free = FreeArea(window);
  return free.isEmpty() ? preferred : preferred.boundedTo(free.size());
}

void PlaceCentredOver(QWidget& window, const QWidget& owner, QSize preferred) {
  const QRect free = FreeArea(owner);
  // No smaller than its layout lets it be once shown, which may be more than the screen's
  // room: it is placed at the size it will have.
  const QSize size = SizeOnScreen(owner, preferred).expandedTo(window.minimumSizeHint());
  window.resize(size);
  // Its frame is not known before it is first shown: the window manager frames it as it
  // frames the owner.
  const QRect inner = owner.geometry();
  const QRect outer = owner.frameGeometry();
  const QSize framed = size + QSize(outer.width() - inner.width(), outer.height() - inner.height());
  QRect placed(QPoint(0, 0), framed);
  placed.moveCenter(outer.center());
  if (!free.isEmpty()) {
    // Over the owner as far as the screen lets it; its top left corner always on screen.
    const int lastLeft = free.x() + free.width() - framed.width();
    const int lastTop = free.y() + free.height() - framed.height();
    placed.moveLeft(std::max(free.left(), std::min(placed.left(), lastLeft)));
    placed.moveTop(std::max(free.top(), std::min(placed.top(), lastTop)));
  }
  window.move(placed.topLeft());
}

}  // namespace fm::qt
