#pragma once

#include <QSize>

class QWidget;

namespace fm::qt {

// Where the shell's windows open. A window never opens larger than the free area of the
// screen it opens on (a laptop at 200 % has 960 x 540 of it), and a window of the shell
// opens centred over the window it belongs to, not at the corner of the screen.

// `preferred` bounded by the free area of the screen `window` is on (the primary screen
// before it has one).
QSize SizeOnScreen(const QWidget& window, QSize preferred);

// Gives the top-level `window` the size `preferred` as far as the screen allows and
// centres it over `owner`'s frame, kept inside the free area of the owner's screen.
void PlaceCentredOver(QWidget& window, const QWidget& owner, QSize preferred);

}  // namespace fm::qt
