#include "probe/AVProbe.h"

#include <gtest/gtest.h>

TEST(ProbeTextTest, FileSizesChangeUnitAboveEachPowerOf1024)
{
    const std::pair<int64_t, const char *> cases[] = {
        {0, "0 Byte"},           {1024, "1024 Byte"},  {1025, "1.00 KB"},          {1536, "1.50 KB"},
        {1048576, "1024.00 KB"}, {1048577, "1.00 MB"}, {1073741824, "1024.00 MB"}, {1073741825, "1.00 GB"},
        {5368709120, "5.00 GB"},
    };
    for (const auto &[bytes, text] : cases)
        EXPECT_EQ(FormatFileSize(bytes), text) << bytes;
}

TEST(ProbeTextTest, DurationsShowHoursMinutesSecondsAndMilliseconds)
{
    const std::pair<int64_t, const char *> cases[] = {
        {185500000, "00:03:05.500"},
        {0, "00:00:00.000"},
        {999, "00:00:00.000"},
        {1000, "00:00:00.001"},
        {3600000000LL, "01:00:00.000"},
        {(99 * 3600 + 59 * 60 + 59) * 1000000LL + 999999, "99:59:59.999"},
        {360000000000LL, "100:00:00.000"},
    };
    for (const auto &[microseconds, text] : cases)
        EXPECT_EQ(FormatDuration(microseconds), text) << microseconds;
}
