#include "app/ScreenRoom.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace {

// The title bar as the style draws one, with room for a window manager's larger one; the side
// and bottom borders.
QSize FrameRoom(const QWidget &window)
{
    const int line = window.fontMetrics().height();
    const int border = window.style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, &window);
    return {2 * border, window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window) + 2 * line + border};
}

QRect FreeArea(const QScreen *screen)
{
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

} // namespace

QSize ClientRoom(const QWidget &window, const QScreen *screen)
{
    const QRect free = FreeArea(screen);
    if (free.isEmpty())
        return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    return (free.size() - FrameRoom(window)).expandedTo(QSize(1, 1));
}

QPoint CentredPosition(const QWidget &window, const QScreen *screen, QSize size)
{
    const QRect free = FreeArea(screen);
    if (free.isEmpty())
        return window.pos();
    QRect frame(QPoint(), size + FrameRoom(window));
    frame.moveCenter(free.center());
    return {std::max(frame.left(), free.left()), std::max(frame.top(), free.top())};
}
