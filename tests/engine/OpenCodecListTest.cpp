#include "engine/OpenCodecList.h"
#include "libs/AVLibLoader.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace avlib;

namespace {

AVCodecContextPtr NewContext(const char *statsIn = nullptr)
{
    AVCodecContextPtr context(avcodec.avcodec_alloc_context3(nullptr));
    if (context && statsIn)
        context->stats_in = avutil.av_strdup(statsIn);
    return context;
}

class OpenCodecListTest : public ::testing::Test {
protected:
    void SetUp() override { testing_support::EnsureLibrariesLoaded(); }
};

} // namespace

TEST_F(OpenCodecListTest, CloseFreesOnlyThatContext)
{
    TOpenCodecList list;
    AVCodecContext *first = list.Add(NewContext("pass one statistics"));
    AVCodecContext *second = list.Add(NewContext());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(list.Count(), 2u);

    list.Close(first);
    EXPECT_EQ(list.Count(), 1u);
    EXPECT_FALSE(list.Contains(first));
    EXPECT_TRUE(list.Contains(second));

    list.Close(first); // not held any more: nothing happens
    EXPECT_EQ(list.Count(), 1u);
}

TEST_F(OpenCodecListTest, CloseAllFreesEveryContextWithItsStatistics)
{
    TOpenCodecList list;
    for (int i = 0; i < 3; ++i)
        list.Add(NewContext("statistics"));
    list.CloseAll(); // the leak check sees any context or statistics left behind
    EXPECT_TRUE(list.Empty());
    list.CloseAll();
    EXPECT_TRUE(list.Empty());
}

TEST_F(OpenCodecListTest, ANullContextIsNotHeld)
{
    TOpenCodecList list;
    EXPECT_EQ(list.Add(AVCodecContextPtr()), nullptr);
    EXPECT_TRUE(list.Empty());
}
