#include "veloxc/ConvertArguments.h"

#include <gtest/gtest.h>

using veloxc::ConvertArguments;
using veloxc::EngineOption;
using veloxc::ParseConvertArguments;

namespace {

ConvertArguments Parsed(const std::vector<std::string> &words)
{
    ConvertArguments arguments;
    std::string error;
    EXPECT_TRUE(ParseConvertArguments(words, arguments, error)) << error;
    return arguments;
}

} // namespace

TEST(ConvertArgumentsTest, KeepsEachOptionAsOneNameAndValue)
{
    const ConvertArguments arguments = Parsed({"--in", "ss=10", "in.wav", "--out", "title=a=b c", "out.mp3", "--out",
                                               "re", "--out", "comment=Grüße", "--verbose", "-1"});
    EXPECT_EQ(arguments.input, "in.wav");
    EXPECT_EQ(arguments.output, "out.mp3");
    EXPECT_EQ(arguments.inputOptions, (std::vector<EngineOption>{{"ss", "10"}}));
    EXPECT_EQ(arguments.outputOptions,
              (std::vector<EngineOption>{{"title", "a=b c"}, {"re", ""}, {"comment", "Grüße"}}));
    EXPECT_EQ(arguments.verbose, -1);
}

TEST(ConvertArgumentsTest, DoubleDashEndsTheOptionsAndHelpOrVersionEndTheReading)
{
    const ConvertArguments arguments = Parsed({"--verbose", "3", "--", "--name.wav", "--version"});
    EXPECT_EQ(arguments.input, "--name.wav");
    EXPECT_EQ(arguments.output, "--version");
    EXPECT_FALSE(arguments.version);
    EXPECT_EQ(arguments.verbose, 3);
    EXPECT_TRUE(Parsed({"in.wav", "--version", "--bogus"}).version);
    EXPECT_TRUE(Parsed({"a", "b", "c", "-h"}).help);
}

TEST(ConvertArgumentsTest, RefusesWhatIsNoCommand)
{
    const std::string verbose = "--verbose needs a number from -1 to 3, not ";
    const struct {
        std::vector<std::string> words;
        std::string error;
    } cases[] = {
        {{"only-one"}, "convert needs an input and an output"},
        {{"a", "b", "c"}, "convert needs an input and an output"},
        {{"a", "b", "--bogus"}, "unknown option '--bogus'"},
        {{"a", "b", "--in=ss=1"}, "unknown option '--in=ss=1'"},
        {{"a", "b", "--in"}, "--in needs a value"},
        {{"a", "b", "--verbose"}, "--verbose needs a value"},
        {{"a", "b", "--verbose", "2x"}, verbose + "'2x'"},
        {{"a", "b", "--verbose", ""}, verbose + "''"},
        {{"a", "b", "--verbose", "4"}, verbose + "'4'"},
        {{"a", "b", "--verbose", "-2"}, verbose + "'-2'"},
        {{"a", "b", "--verbose", " 1"}, verbose + "' 1'"},
        {{"a", "b", "--verbose", "99999999999"}, verbose + "'99999999999'"},
        {{"a", "b", "--out", "=5"}, "--out needs NAME=VALUE, not '=5'"},
        {{"a", "b", "--in", ""}, "--in needs NAME=VALUE, not ''"},
        // A line break inside a value would be a second option to a line parser.
        {{"a", "b", "--out", "title=A\rvhook=/tmp/x.so"}, "control character in the value of option 'title'"},
        {{"a", "b", "--out", "title=A\nvhook=/tmp/x.so"}, "control character in the value of option 'title'"},
        {{"a", "b", "--out", "title=\x1f"}, "control character in the value of option 'title'"},
        {{"a", "b", "--out", "title=\x7f"}, "control character in the value of option 'title'"},
        {{"a", "b", "--in", "ti\ntle=A"}, "control character in option name 'ti\\ntle'"},
        {{"a", "b", "--in", "t\x01=A"}, "control character in option name 't\\x01'"},
    };
    for (const auto &c : cases) {
        ConvertArguments arguments;
        std::string error;
        EXPECT_FALSE(ParseConvertArguments(c.words, arguments, error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
}
