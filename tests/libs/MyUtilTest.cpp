#include "libs/AVEntryPoints.h"
#include "libs/AVLibLoader.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>
#include <thread>
#include <vector>

using avlib::myutil;
using testing_support::TempDir;

namespace {

class MyUtilTest : public ::testing::Test {
protected:
    void SetUp() override { testing_support::EnsureLibrariesLoaded(); }
};

int CallVsprintf(char *buffer, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = myutil.my_vsprintf(buffer, format, args);
    va_end(args);
    return n;
}

std::vector<std::string> Tokens(const char *text, const char *separators)
{
    std::vector<char> copy(text, text + std::strlen(text) + 1);
    std::vector<std::string> words;
    for (char *word = myutil.my_strtok(copy.data(), separators); word; word = myutil.my_strtok(nullptr, separators))
        words.emplace_back(word);
    return words;
}

} // namespace

TEST_F(MyUtilTest, FormattingBehavesLikeTheStandardFunctions)
{
    char buffer[64];
    EXPECT_EQ(CallVsprintf(buffer, "%s=%d %.3d", "frame", 42, 7), 12);
    EXPECT_STREQ(buffer, "frame=42 007");

    EXPECT_EQ(myutil.my_snprintf(buffer, 8, "%2.2f kbits/s", 128.456), 14);
    EXPECT_STREQ(buffer, "128.46 "); // truncated to the buffer, counted in full
}

TEST_F(MyUtilTest, NumbersParseWithTheStandardBases)
{
    struct Case {
        const char *text;
        int base;
        long value;
        const char *rest;
    };
    const Case cases[] = {
        {"  -12abc", 10, -12, "abc"}, {"0x1F", 0, 31, ""}, {"1F", 16, 31, ""}, {"+7", 10, 7, ""}, {"x", 10, 0, "x"},
    };
    for (const Case &c : cases) {
        char *end = nullptr;
        EXPECT_EQ(myutil.my_strtol(c.text, &end, c.base), c.value) << c.text;
        EXPECT_STREQ(end, c.rest) << c.text;
    }
    char *end = nullptr;
    EXPECT_DOUBLE_EQ(myutil.my_strtod("1.5e2 rest", &end), 150.0);
    EXPECT_STREQ(end, " rest");
    EXPECT_DOUBLE_EQ(myutil.my_strtod("0,5", &end), 0.0);
    EXPECT_STREQ(end, ",5");
}

// glibc keeps the LOCPATH search list of a newlocale call for the rest of the process.
extern "C" const char *__lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

namespace {

// A locale whose decimal separator is a comma, compiled into folder from the system's locale sources.
locale_t CommaLocale(const TempDir &folder)
{
    const std::string command = "localedef -i de_DE -f UTF-8 '" + folder.File("de_DE.UTF-8") + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        return static_cast<locale_t>(nullptr);
    setenv("LOCPATH", folder.Path().c_str(), 1);
    const locale_t locale = newlocale(LC_NUMERIC_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
    unsetenv("LOCPATH");
    return locale;
}

} // namespace

TEST_F(MyUtilTest, MachineTextUsesThePointWhateverTheThreadsLocale)
{
    TempDir folder;
    const locale_t comma = CommaLocale(folder);
    if (!comma)
        GTEST_SKIP() << "localedef cannot build a locale with a decimal comma here";
    const locale_t previous = uselocale(comma);
    char local[32], text[32];
    std::snprintf(local, sizeof local, "%.1f", 2.5);
    myutil.my_snprintf(text, sizeof text, "%.1f", 2.5);
    char *end = nullptr;
    const double value = myutil.my_strtod("2.5", &end);
    const locale_t during = uselocale(previous);
    freelocale(comma);
    EXPECT_STREQ(local, "2,5"); // the locale really uses a comma
    EXPECT_STREQ(text, "2.5");
    EXPECT_DOUBLE_EQ(value, 2.5);
    EXPECT_EQ(during, comma); // the caller's locale is back after each call
}

TEST_F(MyUtilTest, TokensSkipRunsOfSeparators)
{
    EXPECT_EQ(Tokens("hook.so  -x 10   -y 20", " "), (std::vector<std::string>{"hook.so", "-x", "10", "-y", "20"}));
    EXPECT_EQ(Tokens("/my hooks/a.so|-t|some text", "|"),
              (std::vector<std::string>{"/my hooks/a.so", "-t", "some text"}));
    EXPECT_EQ(Tokens("|||", "|"), std::vector<std::string>{});
}

TEST_F(MyUtilTest, EachThreadTokenisesOnItsOwn)
{
    std::vector<std::string> first, second;
    std::thread a([&] { first = Tokens("a b c d e f g h", " "); });
    std::thread b([&] { second = Tokens("1|2|3|4|5|6|7|8", "|"); });
    a.join();
    b.join();
    EXPECT_EQ(first, (std::vector<std::string>{"a", "b", "c", "d", "e", "f", "g", "h"}));
    EXPECT_EQ(second, (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8"}));
}

TEST_F(MyUtilTest, FilesRoundTrip)
{
    TempDir dir;
    const std::string path = dir.File("stats.log");
    FILE *out = myutil.my_fopen(path.c_str(), "w");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(myutil.my_fprintf(out, "frame=%d q=%.1f\n", 5, 2.0), 14);
    EXPECT_EQ(myutil.my_fwrite("end\n", 1, 4, out), 4u);
    EXPECT_EQ(myutil.my_ftell(out), 18);
    EXPECT_EQ(myutil.my_fclose(out), 0);

    FILE *in = myutil.my_fopen(path.c_str(), "r");
    ASSERT_NE(in, nullptr);
    ASSERT_EQ(myutil.my_fseek(in, 0, SEEK_END), 0);
    const long size = myutil.my_ftell(in);
    EXPECT_EQ(size, 18);
    ASSERT_EQ(myutil.my_fseek(in, 0, SEEK_SET), 0);
    std::string content(static_cast<size_t>(size), '\0');
    EXPECT_EQ(myutil.my_fread(content.data(), 1, content.size(), in), content.size());
    EXPECT_EQ(content, "frame=5 q=2.0\nend\n");
    EXPECT_EQ(myutil.my_fclose(in), 0);

    EXPECT_EQ(myutil.my_fopen(dir.File("missing/file").c_str(), "r"), nullptr);
}
