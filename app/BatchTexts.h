// The texts the main window shows for a file and its run, apart so that they can be checked alone.
#pragma once

#include "batch/BatchTotals.h"
#include "component/ConverterTypes.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

// "Progress": the share converted as "49%", truncated; "-" when the total is not positive.
QString ProgressText(int currentMs, int totalMs);
// A converting row's "Progress" with the time left at its pace: "49%, 0:31 left" (the percentage
// alone while it is too early to tell).
QString ProgressLeftText(int currentMs, int totalMs, std::optional<int64_t> secondsLeft);
// The status bar during a run: "Converted 3, failed 1, left 5 - 42% - about 1:05 left"; and at
// its end: "Finished in 2:31: 8 converted, 1 failed" (", 2 stopped" when some were).
QString BatchStatusText(const batch::BatchTotals &totals, std::optional<int64_t> secondsLeft);
QString BatchSummaryText(int converted, int failed, int stopped, int64_t seconds);
// The status bar while the run is paused: "Paused - Converted 3, failed 1, left 5 - 42%", no time left.
QString BatchPausedText(const batch::BatchTotals &totals);
// The status bar while files are read into the list: "Reading 57 of 200 files...".
QString ReadingText(int reading, int total);
// Why files were passed over when added, as the end of adding counts them.
enum TRefusal { rfNoSound, rfListed, rfUnreadable, rfKinds };
// The end of adding: "2 files added; 3 files were not added: 2 without sound, 1 in the list already".
QString AddingSummaryText(int added, const std::array<int, rfKinds> &refused);
// A log line: "#" index "." level ordinal ": " text.
QString LogLineText(int index, TLogLevel level, const QString &text);
// An error's text as the error box shows it: a "." is added when the last character sorts after it.
QString AppExceptionText(const QString &message);

// Where a row of the list stands.
enum TRowState { rsAdded, rsWaiting, rsConverting, rsDone, rsFailed, rsStopped };
// What "Progress" shows for a state other than converting: nothing once added, "Waiting",
// "100%" when done, "Failed: " and the reason, "Stopped".
QString RowStateText(TRowState state, const QString &reason = QString());
// A row's line in the log when it ends: "converted to song_(new).mp3" (and the settings used
// instead of those asked for), "failed: " and the reason, "stopped".
QString RowResultText(TRowState state, const QString &reason, const QString &output);
// A box's text for lines that went wrong: the heading, then one line each, at most limit of them
// and a last line that counts the others.
QString FailureListText(const QString &heading, const QStringList &lines, int limit = 10);
