#include "app/ToolImages.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

constexpr int kSize = 24;

void UseFreeIconTheme()
{
    // Without a desktop the theme is the bare "hicolor", which has no action images.
    static const bool once = [] {
        if (QIcon::fallbackThemeName().isEmpty() || QIcon::fallbackThemeName() == QLatin1String("hicolor"))
            QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
        return true;
    }();
    (void)once;
}

} // namespace

QString ToolImageName(int index)
{
    switch (index) {
    case 0:
        return QStringLiteral("media-playback-start"); // Resume
    case 1:
        return QStringLiteral("list-remove"); // Remove
    case 2:
        return QStringLiteral("document-properties"); // a row's own output options
    case 3:
        return QStringLiteral("media-playback-stop"); // Stop
    case 4:
        return QStringLiteral("list-add"); // Add file
    case 5:
        return QStringLiteral("media-playback-pause"); // Pause
    case 6:
        return QStringLiteral("system-run"); // Converter
    case 8:
        return QStringLiteral("edit-delete"); // Clear
    default:
        return QString();
    }
}

QIcon ToolImage(int index)
{
    UseFreeIconTheme();
    const QString name = ToolImageName(index);
    if (!name.isEmpty() && QIcon::hasThemeIcon(name))
        return QIcon::fromTheme(name);
    return DrawnToolImage(index);
}

QIcon DrawnToolImage(int index)
{
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const QColor green(0x2e, 0x9d, 0x3a), red(0xc0, 0x1c, 0x28), blue(0x1c, 0x71, 0xd8), grey(0x5e, 0x5c, 0x64);
    switch (index) {
    case 0: { // a play triangle
        QPainterPath path;
        path.moveTo(7, 4);
        path.lineTo(20, 12);
        path.lineTo(7, 20);
        path.closeSubpath();
        p.fillPath(path, green);
        break;
    }
    case 1: // a minus
        p.fillRect(QRectF(4, 10.5, 16, 3), red);
        break;
    case 2: // three sliders
        for (int i = 0; i < 3; ++i) {
            p.fillRect(QRectF(4, 5.5 + 6 * i, 16, 1.5), grey);
            p.fillRect(QRectF(6 + 5 * ((i + 1) % 3), 3.5 + 6 * i, 3, 5.5), blue);
        }
        break;
    case 3: // a square
        p.fillRect(QRectF(6, 6, 12, 12), red);
        break;
    case 4: // a plus
        p.fillRect(QRectF(4, 10.5, 16, 3), green);
        p.fillRect(QRectF(10.5, 4, 3, 16), green);
        break;
    case 5: // two bars
        p.fillRect(QRectF(6, 5, 4, 14), blue);
        p.fillRect(QRectF(14, 5, 4, 14), blue);
        break;
    case 6: { // two turning arrows
        p.setPen(QPen(blue, 2.5, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(5, 5, 14, 14), 30 * 16, 150 * 16);
        p.drawArc(QRectF(5, 5, 14, 14), 210 * 16, 150 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(blue);
        p.drawPolygon(QPolygonF({QPointF(18, 3), QPointF(21, 10), QPointF(14, 9)}));
        p.drawPolygon(QPolygonF({QPointF(6, 21), QPointF(3, 14), QPointF(10, 15)}));
        break;
    }
    case 8: // a cross
        p.setPen(QPen(grey, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(6, 6), QPointF(18, 18));
        p.drawLine(QPointF(18, 6), QPointF(6, 18));
        break;
    default:
        break;
    }
    p.end();
    return QIcon(pixmap);
}
