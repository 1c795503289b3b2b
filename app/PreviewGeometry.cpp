#include "app/PreviewGeometry.h"

#include <cmath>
#include <cstdlib>

QRect FitRect(const QSize &picture, const QRect &target)
{
    if (picture.width() <= 0 || picture.height() <= 0 || target.width() <= 0 || target.height() <= 0)
        return target;
    const double a = static_cast<double>(picture.width()) / target.width();
    const double b = static_cast<double>(picture.height()) / target.height();
    // nearbyint rounds halves to even in the default rounding mode.
    if (a >= b) {
        const int inset = static_cast<int>(std::nearbyint((target.height() - picture.height() / a) / 2));
        return QRect(target.left(), target.top() + inset, target.width(), target.height() - 2 * inset);
    }
    const int inset = static_cast<int>(std::nearbyint((target.width() - picture.width() / b) / 2));
    return QRect(target.left() + inset, target.top(), target.width() - 2 * inset, target.height());
}

QString FormatPTS(int64_t microseconds)
{
    // The sign once, in front, rather than on both parts.
    const char *sign = microseconds < 0 ? "-" : "";
    const uint64_t magnitude = microseconds < 0 ? 0 - static_cast<uint64_t>(microseconds) : microseconds;
    return QString::asprintf("%s%llu.%.3llu", sign, static_cast<unsigned long long>(magnitude / 1000000),
                             static_cast<unsigned long long>(magnitude / 1000 % 1000));
}
