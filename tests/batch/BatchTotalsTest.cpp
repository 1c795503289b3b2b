#include "batch/BatchTotals.h"

#include <gtest/gtest.h>

using namespace batch;

TEST(BatchTotalsTest, CountsAndTheFractionFollowTheFilesByLength)
{
    BatchTotals totals;
    totals.Add(1, 60'000);
    totals.Add(2, 180'000);
    totals.Add(3, 0);     // no length known: one second
    totals.Add(2, 5'000); // the same file again
    EXPECT_EQ(totals.Left(), 3);
    EXPECT_DOUBLE_EQ(totals.Fraction(), 0.0);

    totals.Advance(2, 90'000);
    totals.Advance(2, 999'000'000); // past its end: held at its length
    EXPECT_DOUBLE_EQ(totals.Fraction(), 180.0 / 241);
    totals.Finish(1, true);
    totals.Finish(1, false); // ended once
    totals.Advance(1, 0);    // nothing moves an ended file back
    totals.Finish(2, false);
    EXPECT_EQ(totals.Converted(), 1);
    EXPECT_EQ(totals.Failed(), 1);
    EXPECT_EQ(totals.Left(), 1);
    EXPECT_DOUBLE_EQ(totals.Fraction(), 240.0 / 241);
    totals.Finish(3, false);
    EXPECT_DOUBLE_EQ(totals.Fraction(), 1.0);
    totals.Clear();
    EXPECT_EQ(totals.Left(), 0);
}

TEST(BatchTotalsTest, TimeLeftAtTheSamePaceAndItsClockText)
{
    EXPECT_EQ(SecondsLeft(0.02, 10), std::nullopt);
    EXPECT_EQ(SecondsLeft(0.25, 30), 90);
    EXPECT_EQ(SecondsLeft(1.0, 30), 0);
    struct Case {
        int64_t seconds;
        const char *text;
    };
    for (const Case &c : {Case{-5, "0:00"}, Case{65, "1:05"}, Case{3599, "59:59"}, Case{3723, "1:02:03"}})
        EXPECT_EQ(ClockText(c.seconds), c.text);
}
