#include "app/BatchTexts.h"

#include <QFileInfo>

QString ProgressLeftText(int currentMs, int totalMs, std::optional<int64_t> secondsLeft)
{
    const QString progress = ProgressText(currentMs, totalMs);
    if (!secondsLeft || totalMs <= 0)
        return progress;
    return progress + QStringLiteral(", %1 left").arg(QString::fromStdString(batch::ClockText(*secondsLeft)));
}

QString BatchStatusText(const batch::BatchTotals &totals, std::optional<int64_t> secondsLeft)
{
    QString text = QStringLiteral("Converted %1, failed %2, left %3 - %4%")
                       .arg(totals.Converted())
                       .arg(totals.Failed())
                       .arg(totals.Left())
                       .arg(static_cast<int>(totals.Fraction() * 100));
    if (secondsLeft)
        text += QStringLiteral(" - about %1 left").arg(QString::fromStdString(batch::ClockText(*secondsLeft)));
    return text;
}

QString BatchSummaryText(int converted, int failed, int stopped, int64_t seconds)
{
    QString text = QStringLiteral("Finished in %1: %2 converted, %3 failed")
                       .arg(QString::fromStdString(batch::ClockText(seconds)))
                       .arg(converted)
                       .arg(failed);
    if (stopped > 0)
        text += QStringLiteral(", %1 stopped").arg(stopped);
    return text;
}

QString BatchPausedText(const batch::BatchTotals &totals)
{
    return QStringLiteral("Paused - Converted %1, failed %2, left %3 - %4%")
        .arg(totals.Converted())
        .arg(totals.Failed())
        .arg(totals.Left())
        .arg(static_cast<int>(totals.Fraction() * 100));
}

QString ReadingText(int reading, int total)
{
    return total == 1 ? QStringLiteral("Reading 1 file...")
                      : QStringLiteral("Reading %1 of %2 files...").arg(reading).arg(total);
}

namespace {

QString FilesText(int count) { return count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(count); }

} // namespace

QString AddingSummaryText(int added, const std::array<int, rfKinds> &refused)
{
    static const char *const kKinds[rfKinds] = {"without sound", "in the list already", "could not be read"};
    QStringList kinds;
    int passed = 0;
    for (int kind = 0; kind < rfKinds; ++kind) {
        passed += refused[kind];
        if (refused[kind] > 0)
            kinds << QStringLiteral("%1 %2").arg(refused[kind]).arg(QLatin1String(kKinds[kind]));
    }
    const QString text = FilesText(added) + QStringLiteral(" added");
    if (passed == 0)
        return text;
    return text + QStringLiteral("; %1 not added: %2")
                      .arg(FilesText(passed) + (passed == 1 ? QStringLiteral(" was") : QStringLiteral(" were")),
                           kinds.join(QStringLiteral(", ")));
}

QString ProgressText(int currentMs, int totalMs)
{
    // An input of unknown length reports a total of 0.
    if (totalMs <= 0)
        return QStringLiteral("-");
    // In 64 bits: a run of more than six hours would overflow 32.
    return QString::number(static_cast<int64_t>(currentMs) * 100 / totalMs) + QLatin1Char('%');
}

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

QString RowResultText(TRowState state, const QString &reason, const QString &output)
{
    switch (state) {
    case rsDone:
        // With the settings used instead of those asked for, when there were any.
        return QStringLiteral("converted to ") + QFileInfo(output).fileName() +
               (reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason));
    case rsFailed:
        return QStringLiteral("failed: ") + reason;
    case rsStopped:
        return QStringLiteral("stopped");
    default:
        return QString();
    }
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
