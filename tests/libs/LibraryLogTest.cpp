#include "libs/LibraryLog.h"
#include "libs/AVEntryPoints.h"
#include "libs/TextFormat.h"

#include <gtest/gtest.h>

TEST(LibraryLogTest, EngineVerbosityMapsOntoLibraryLevels)
{
    const std::pair<int, int> cases[] = {
        {-5, AV_LOG_QUIET}, {-1, AV_LOG_QUIET}, {0, AV_LOG_ERROR}, {1, AV_LOG_INFO},
        {2, AV_LOG_DEBUG},  {3, AV_LOG_TRACE},  {9, AV_LOG_TRACE},
    };
    for (const auto &[verbose, level] : cases)
        EXPECT_EQ(avlib::LibraryLogLevel(verbose), level) << "verbose " << verbose;
}

TEST(TextFormatTest, FormatsWithThePointAsDecimalSeparator)
{
    EXPECT_EQ(avlib::FormatText("%s: %d frames, %2.2f fps", "in.wav", 12, 29.974), "in.wav: 12 frames, 29.97 fps");
    EXPECT_EQ(avlib::FormatText("%s", ""), "");
    const std::string longText(5000, 'x');
    EXPECT_EQ(avlib::FormatText("[%s]", longText.c_str()), "[" + longText + "]");
}
