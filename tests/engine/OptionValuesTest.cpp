#include "engine/OptionValues.h"

#include <gtest/gtest.h>

TEST(OptionValuesTest, LeadingFloatIgnoresTheLocaleAndStopsAtJunk)
{
    const char *end = nullptr;
    EXPECT_DOUBLE_EQ(LeadingFloat(" 1.5:rest", &end), 1.5);
    EXPECT_STREQ(end, ":rest");
    EXPECT_DOUBLE_EQ(LeadingFloat("+2e1", &end), 20.0);
    EXPECT_DOUBLE_EQ(LeadingFloat("junk", &end), 0.0);
    EXPECT_STREQ(end, "junk");
    EXPECT_DOUBLE_EQ(LeadingFloat("", &end), 0.0);
}

TEST(OptionValuesTest, TrimRemovesBlanksAndControlCharacters)
{
    EXPECT_EQ(Trim("  a b \t\r\n"), "a b");
    EXPECT_EQ(Trim("\x01x\x1f"), "x");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Trim(""), "");
}

TEST(OptionValuesTest, MatrixReadsSixtyFourCoefficients)
{
    std::array<uint16_t, 64> matrix{};
    int last = -1;
    EXPECT_FALSE(ParseMatrix("1,2,3", matrix, last));
    EXPECT_EQ(last, 2);
    std::string text = "9";
    for (int i = 1; i < 64; ++i)
        text += ",9";
    EXPECT_TRUE(ParseMatrix(text, matrix, last));
    EXPECT_EQ(last, 63);
    for (uint16_t coefficient : matrix)
        EXPECT_EQ(coefficient, 9);
}
