#include "app/BatchTexts.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

namespace {

struct ProgressCase {
    int currentMs, totalMs;
    const char *progress;
};

TEST(BatchTexts, ProgressTruncates)
{
    const ProgressCase cases[] = {
        {1999, 4000, "49%"},
        {0, 4000, "0%"},
        {4000, 4000, "100%"},
        {999, 1000, "99%"},
        // An input of unknown length: no share can be given.
        {1500, 0, "-"},
        {1500, -1, "-"},
        {1500, INT_MIN, "-"},
        // Past 21 474 836 ms (about six hours) a 32-bit product would overflow.
        {30000000, 40000000, "75%"},
        {INT_MAX, INT_MAX, "100%"},
    };
    for (const ProgressCase &c : cases)
        EXPECT_EQ(ProgressText(c.currentMs, c.totalMs).toStdString(), c.progress) << c.currentMs << " of " << c.totalMs;
}

TEST(BatchTexts, LogLinesCarryTheTaskAndTheLevelOrdinal)
{
    EXPECT_EQ(LogLineText(0, llInfo, "opened").toStdString(), "#0.2: opened");
    EXPECT_EQ(LogLineText(-1, llQuiet, "no task").toStdString(), "#-1.0: no task");
    EXPECT_EQ(LogLineText(12, llAll, "").toStdString(), "#12.4: ");
    // Placeholders in the text stay as they are.
    EXPECT_EQ(LogLineText(3, llError, "50% %1 %2").toStdString(), "#3.1: 50% %1 %2");
}

TEST(BatchTexts, ErrorTextsEndInAFullStopUnlessTheyEndInPunctuationBelowIt)
{
    const std::pair<const char *, const char *> cases[] = {
        {"Cannot open", "Cannot open."},
        {"Cannot open.", "Cannot open."},
        {"Cannot open!", "Cannot open!"}, // '!' sorts before '.'
        {"value 5", "value 5."},          // digits sort after '.'
        {"a-", "a-"},
        {"", ""},
    };
    for (const auto &[message, shown] : cases)
        EXPECT_EQ(AppExceptionText(QString::fromUtf8(message)).toStdString(), shown) << message;
}

} // namespace

TEST(BatchTexts, TooltipsAndTheStatusReadAsPeopleWriteThem)
{
    const std::pair<QString, QString> cases[] = {
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
    for (const auto &[shown, expected] : cases)
        EXPECT_EQ(shown, expected);

    batch::BatchTotals totals;
    totals.Add(0, 1000);
    totals.Add(1, 3000);
    totals.Finish(0, true);
    EXPECT_EQ(BatchStatusText(totals, std::nullopt), "Converted 0, failed 1, left 1 - 25%");
    EXPECT_EQ(BatchStatusText(totals, 65), "Converted 0, failed 1, left 1 - 25% - about 1:05 left");
    EXPECT_EQ(BatchPausedText(totals), "Paused - Converted 0, failed 1, left 1 - 25%");
}
