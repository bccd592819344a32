#include "qt/WindowPlacement.h"

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
  const QSize size = SizeOnScreen(owner, preferred).expandedTo(window.minimumSize());
  window.resize(size);
  QRect placed(QPoint(0, 0), size);
  placed.moveCenter(owner.frameGeometry().center());
  if (!free.isEmpty()) {
    // Over the owner as far as the screen lets it; its top left corner always on screen.
    const int lastLeft = free.x() + free.width() - size.width();
    const int lastTop = free.y() + free.height() - size.height();
    placed.moveLeft(std::max(free.left(), std::min(placed.left(), lastLeft)));
    placed.moveTop(std::max(free.top(), std::min(placed.top(), lastTop)));
  }
  window.move(placed.topLeft());
}

}  // namespace fm::qt
