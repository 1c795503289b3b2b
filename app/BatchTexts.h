// The texts the main window shows for a file and its run, apart so that they can be checked alone.
#pragma once

#include "component/ConverterTypes.h"

#include <QString>
#include <QStringList>

#include <cstdint>

// "Total Time": whole seconds, truncated; "-" when the length is unknown (negative).
QString TotalTimeText(int64_t durationMicroseconds);
// "Progress": the share converted as "49%", truncated; "-" when the total is not positive.
QString ProgressText(int currentMs, int totalMs);
// "Current Time": whole seconds converted, truncated.
QString CurrentTimeText(int currentMs);
// A log line: "#" index "." level ordinal ": " text.
QString LogLineText(int index, TLogLevel level, const QString &text);
// An error's text as the error box shows it: a "." is added when the last character sorts after it.
QString AppExceptionText(const QString &message);

// Where a row of the list stands.
enum TRowState { rsAdded, rsWaiting, rsConverting, rsDone, rsFailed, rsStopped };
// What "Progress" shows for a state other than converting: nothing once added, "Waiting",
// "100%" when done, "Failed: " and the reason, "Stopped".
QString RowStateText(TRowState state, const QString &reason = QString());
// A box's text for lines that went wrong: the heading, then one line each, at most limit of them
// and a last line that counts the others.
QString FailureListText(const QString &heading, const QStringList &lines, int limit = 10);
