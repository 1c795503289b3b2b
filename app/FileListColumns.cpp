#include "app/FileListColumns.h"

#include "batch/BatchTotals.h"

#include <QLocale>

QString LengthCellText(int64_t microseconds)
{
    if (microseconds < 0)
        return QStringLiteral("-");
    return QString::fromStdString(batch::ClockText(microseconds / 1000000));
}

QString LengthExactText(int64_t microseconds)
{
    if (microseconds < 0)
        return QStringLiteral("-");
    return LengthCellText(microseconds) +
           QStringLiteral(".%1").arg(microseconds / 1000 % 1000, 3, 10, QLatin1Char('0'));
}

QString SizeCellText(int64_t bytes)
{
    if (bytes < 0)
        return QStringLiteral("-");
    if (bytes < 1000)
        return QStringLiteral("%1 B").arg(bytes);
    static const char *const kUnits[] = {"kB", "MB", "GB", "TB", "PB"};
    double value = static_cast<double>(bytes) / 1000;
    size_t unit = 0;
    // Rounded as shown: 999.6 kB reads "1.00 MB", not "1000 kB".
    while (value >= 999.5 && unit + 1 < std::size(kUnits)) {
        value /= 1000;
        ++unit;
    }
    const int decimals = value < 9.995 ? 2 : value < 99.95 ? 1 : 0;
    return QStringLiteral("%1 %2").arg(value, 0, 'f', decimals).arg(QLatin1String(kUnits[unit]));
}

QString SizeExactText(int64_t bytes)
{
    if (bytes < 0)
        return QStringLiteral("-");
    // The window's texts are English: its digit grouping too, whatever the system's language.
    return QLocale(QLocale::English).toString(static_cast<qlonglong>(bytes)) +
           (bytes == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));
}
