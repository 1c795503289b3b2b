#include "app/BatchTexts.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

TEST(BatchTexts, EveryTextReadsAsPeopleWriteIt)
{
    const std::pair<QString, QString> cases[] = {
        {ProgressText(1999, 4000), "49%"}, // truncated
        {ProgressText(0, 4000), "0%"},
        {ProgressText(4000, 4000), "100%"},
        {ProgressText(999, 1000), "99%"},
        // An input of unknown length: no share can be given.
        {ProgressText(1500, 0), "-"},
        {ProgressText(1500, -1), "-"},
        {ProgressText(1500, INT_MIN), "-"},
        // Past 21 474 836 ms (about six hours) a 32-bit product would overflow.
        {ProgressText(30000000, 40000000), "75%"},
        {ProgressText(INT_MAX, INT_MAX), "100%"},
        // The task and the level's ordinal; placeholders in the text stay as they are.
        {LogLineText(0, llInfo, "opened"), "#0.2: opened"},
        {LogLineText(-1, llQuiet, "no task"), "#-1.0: no task"},
        {LogLineText(12, llAll, ""), "#12.4: "},
        {LogLineText(3, llError, "50% %1 %2"), "#3.1: 50% %1 %2"},
        // A full stop unless the text ends in punctuation sorting below it.
        {AppExceptionText("Cannot open"), "Cannot open."},
        {AppExceptionText("Cannot open."), "Cannot open."},
        {AppExceptionText("Cannot open!"), "Cannot open!"}, // '!' sorts before '.'
        {AppExceptionText("value 5"), "value 5."},          // digits sort after '.'
        {AppExceptionText("a-"), "a-"},
        {AppExceptionText(""), ""},
        {ProgressLeftText(15'000, 30'000, 31), "50%, 0:31 left"},
        {ProgressLeftText(100, 30'000, std::nullopt), "0%"},
        {BatchSummaryText(8, 1, 0, 151), "Finished in 2:31: 8 converted, 1 failed"},
        {BatchSummaryText(1, 0, 2, 5), "Finished in 0:05: 1 converted, 0 failed, 2 stopped"},
        {ReadingText(57, 200), "Reading 57 of 200 files..."},
        {AddingSummaryText(1, {0, 0, 0}), "1 file added"},
        {AddingSummaryText(0, {0, 1, 0}), "0 files added; 1 file was not added: 1 in the list already"},
        {AddingSummaryText(5, {2, 1, 0}),
         "5 files added; 3 files were not added: 2 without sound, 1 in the list already"},
        {RowResultText(rsDone, "", "/m/a_(new).mp3"), "converted to a_(new).mp3"},
        {RowResultText(rsDone, "128 used", "a.mp3"), "converted to a.mp3 (128 used)"},
        {RowResultText(rsFailed, "no encoder", ""), "failed: no encoder"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].first.toStdString(), cases[i].second.toStdString()) << "case " << i;

    batch::BatchTotals totals;
    totals.Add(0, 1000);
    totals.Add(1, 3000);
    totals.Finish(0, true);
    EXPECT_EQ(BatchStatusText(totals, std::nullopt), "Converted 0, failed 1, left 1 - 25%");
    EXPECT_EQ(BatchStatusText(totals, 65), "Converted 0, failed 1, left 1 - 25% - about 1:05 left");
    EXPECT_EQ(BatchPausedText(totals), "Paused - Converted 0, failed 1, left 1 - 25%");
}
