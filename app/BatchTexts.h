// The texts the main window shows for a file and its run, apart so that they can be checked alone.
#pragma once

#include "ConverterTypes.h"

#include <QString>

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
