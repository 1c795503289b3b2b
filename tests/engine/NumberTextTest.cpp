#include "engine/NumberText.h"
#include "engine/FFMpegException.h"

#include <gtest/gtest.h>

TEST(NumberTextTest, IntegersInDecimalOrHexadecimal)
{
    const std::pair<const char *, int32_t> cases[] = {
        {"0", 0},
        {"42", 42},
        {"-42", -42},
        {"+42", 42},
        {"   7", 7},
        {"$1F", 31},
        {"0x1F", 31},
        {"0X1f", 31},
        {"-$10", -16},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"$FFFFFFFF", -1},
        {"007", 7},
    };
    for (const auto &[text, value] : cases)
        EXPECT_EQ(StrToInt(text), value) << text;
}

TEST(NumberTextTest, BadIntegersRaiseTheConversionMessage)
{
    for (const char *text : {"", " ", "-", "$", "0x", "12 ", "1_000", "1.0", "2147483648", "-2147483649", "$100000000",
                             "ten", "0b101", "+-1", "1e3"}) {
        try {
            StrToInt(text);
            ADD_FAILURE() << "accepted " << text;
        } catch (const EConvertError &e) {
            EXPECT_EQ(e.what(), "'" + std::string(text) + "' is not a valid integer value");
        }
    }
}

TEST(NumberTextTest, SixtyFourBitIntegers)
{
    EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(StrToInt64("5000000000"), 5000000000LL);
    EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
    EXPECT_THROW(StrToInt64("99999999999999999999"), EConvertError);
    // Hexadecimal spells the bit pattern, with or without a sign.
    EXPECT_EQ(StrToInt64("-0x8000000000000000"), INT64_MIN);
    EXPECT_EQ(StrToInt64("-$8000000000000000"), INT64_MIN);
    EXPECT_EQ(StrToInt64("$FFFFFFFFFFFFFFFF"), -1);
    EXPECT_EQ(StrToInt64("-$FFFFFFFFFFFFFFFF"), 1);
}

TEST(NumberTextTest, FloatsUseThePoint)
{
    const std::pair<const char *, double> cases[] = {
        {"1.5", 1.5}, {" -0.25 ", -0.25}, {"+3", 3}, {"1e3", 1000}, {"2.5E-1", 0.25}, {".5", 0.5}, {"5.", 5},
    };
    for (const auto &[text, value] : cases)
        EXPECT_DOUBLE_EQ(StrToFloat(text), value) << text;
    for (const char *text : {"", "1,5", ".", "e5", "1e", "inf", "nan", "0x1p3", "1.5x", "--1", "1e999"}) {
        try {
            StrToFloat(text);
            ADD_FAILURE() << "accepted " << text;
        } catch (const EConvertError &e) {
            EXPECT_EQ(e.what(), "'" + std::string(text) + "' is not a valid floating point value");
        }
    }
}

TEST(NumberTextTest, LeadingIntegersFollowStrtol)
{
    struct Case {
        const char *text;
        int base;
        long value;
        size_t consumed;
    };
    const Case cases[] = {
        {"12.3", 0, 12, 2}, {"0x10:1", 0, 16, 4}, {"010", 0, 8, 3}, {"x", 0, 0, 0}, {" -5,", 10, -5, 3}};
    for (const Case &c : cases) {
        const char *end = nullptr;
        EXPECT_EQ(LeadingInteger(c.text, &end, c.base), c.value) << c.text;
        EXPECT_EQ(static_cast<size_t>(end - c.text), c.consumed) << c.text;
    }
}
