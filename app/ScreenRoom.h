// Where a top-level window fits on its screen, frame included: the screen's free area does not
// leave out the window manager's title bar and borders, and at a large scale they grow too.
#pragma once

#include <QPoint>
#include <QSize>

class QScreen;
class QWidget;

// The size a window's client area may take on screen (the primary one when null).
QSize ClientRoom(const QWidget &window, const QScreen *screen);
// Where to move a window whose client area has that size: its frame centred on screen's free
// area, the title bar on it even when the window is too large.
QPoint CentredPosition(const QWidget &window, const QScreen *screen, QSize size);
