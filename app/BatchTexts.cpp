#include "app/BatchTexts.h"

QString TotalTimeText(int64_t durationMicroseconds)
{
    // The probe's "no time" value is the most negative one.
    if (durationMicroseconds < 0)
        return QStringLiteral("-");
    return QString::number(durationMicroseconds / 1000000);
}

QString ProgressText(int currentMs, int totalMs)
{
    // An input of unknown length reports a total of 0.
    if (totalMs <= 0)
        return QStringLiteral("-");
    // In 64 bits: a run of more than six hours would overflow 32.
    return QString::number(static_cast<int64_t>(currentMs) * 100 / totalMs) + QLatin1Char('%');
}

QString CurrentTimeText(int currentMs) { return QString::number(currentMs / 1000); }

QString LogLineText(int index, TLogLevel level, const QString &text)
{
    return QLatin1Char('#') + QString::number(index) + QLatin1Char('.') + QString::number(static_cast<int>(level)) +
           QStringLiteral(": ") + text;
}

QString AppExceptionText(const QString &message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

QString RowStateText(TRowState state, const QString &reason)
{
    switch (state) {
    case rsWaiting:
        return QStringLiteral("Waiting");
    case rsDone:
        return QStringLiteral("100%");
    case rsFailed:
        return QStringLiteral("Failed: ") + reason;
    case rsStopped:
        return QStringLiteral("Stopped");
    case rsAdded:
    case rsConverting:
        break;
    }
    return QString();
}

QString FailureListText(const QString &heading, const QStringList &lines, int limit)
{
    QString text = heading;
    const int shown = lines.size() > limit ? limit - 1 : static_cast<int>(lines.size());
    for (int i = 0; i < shown; ++i)
        text += QLatin1Char('\n') + lines[i];
    if (shown < lines.size())
        text += QStringLiteral("\n... and %1 more.").arg(lines.size() - shown);
    return text;
}
