#include "veloxc/BatchArguments.h"

#include <gtest/gtest.h>

using veloxc::BatchArguments;
using veloxc::OnExists;
using veloxc::ParseBatchArguments;

namespace {

BatchArguments Parsed(const std::vector<std::string> &words)
{
    BatchArguments arguments;
    std::string error;
    EXPECT_TRUE(ParseBatchArguments(words, 4, arguments, error)) << error;
    return arguments;
}

} // namespace

TEST(BatchArgumentsTest, ShortLongAndJoinedFormsMeanTheSame)
{
    for (const auto &words : {std::vector<std::string>{"-f", "wav", "-r", "48000", "-c", "1", "-o", "out", "-j", "3",
                                                       "music", "--on-exists", "rename", "--quiet", "--no-tags", "--no-segments"},
                              {"--format=wav", "--rate=48000", "--channels", "1", "--output-dir=out", "--jobs=3",
                               "--on-exists=rename", "--quiet", "--no-tags", "--no-segments", "--", "music"}}) {
        const BatchArguments a = Parsed(words);
        EXPECT_EQ(a.format, "wav");
        EXPECT_EQ(a.rate, 48000);
        EXPECT_EQ(a.channels, 1);
        EXPECT_EQ(a.outputDir, "out");
        EXPECT_EQ(a.jobs, 3);
        EXPECT_EQ(a.onExists, OnExists::Rename);
        EXPECT_TRUE(a.quiet && a.noTags && a.noSegments && !a.dryRun);
        EXPECT_EQ(a.paths, std::vector<std::string>{"music"});
    }
    const BatchArguments defaults = Parsed({"a.flac", "-", "--", "--odd.wav"});
    EXPECT_EQ(defaults.format, "mp3");
    EXPECT_EQ(defaults.jobs, 4); // the number of cores given
    EXPECT_EQ(defaults.onExists, OnExists::Skip);
    EXPECT_FALSE(defaults.quality || defaults.bitrateKbps || defaults.noSegments);
    EXPECT_EQ(defaults.paths, (std::vector<std::string>{"a.flac", "-", "--odd.wav"}));
    EXPECT_EQ(Parsed({"-q", "0", "x"}).quality, 0);
    EXPECT_EQ(Parsed({"-q0", "-j3", "-ofolder", "x"}).jobs, 3); // short options with their value joined on
    EXPECT_EQ(Parsed({"-q7", "x"}).quality, 7);
    EXPECT_EQ(Parsed({"-b", "320", "x"}).bitrateKbps, 320);
    EXPECT_TRUE(Parsed({"--help", "--bogus"}).help); // help ends the reading
}

TEST(BatchArgumentsTest, RefusesWhatIsNoCommand)
{
    const struct {
        std::vector<std::string> words;
        std::string error;
    } cases[] = {
        {{}, "batch needs at least one file or folder"},
        {{"-f", "ogg", "x"}, "--format is mp3 or wav, not 'ogg'"},
        {{"-q", "10", "x"}, "--quality needs a number from 0 to 9, not '10'"},
        {{"-q", "2.5", "x"}, "--quality needs a number from 0 to 9, not '2.5'"},
        {{"-b", "7", "x"}, "--bitrate needs a number from 8 to 320, not '7'"},
        {{"-b", "128", "-q", "2", "x"}, "--quality and --bitrate exclude each other"},
        {{"-f", "wav", "-q", "2", "x"}, "--quality and --bitrate are for mp3 only"},
        {{"-f", "wav", "--bits", "20", "x"}, "--bits is 16, 24, 32 or float, not '20'"},
        {{"--bits", "24", "x"}, "--bits is for wav only"},
        {{"-r", "96000", "x"},
         "--rate 96000 is no MP3 rate (8000, 11025, 12000, 16000, 22050, 24000, 32000, "
         "44100, 48000)"},
        {{"-r", "7999", "x"}, "--rate needs a number from 8000 to 768000, not '7999'"},
        {{"-c", "6", "x"}, "--channels needs a number from 1 to 2, not '6'"},
        {{"-j", "0", "x"}, "--jobs needs a number from 1 to 64, not '0'"},
        {{"-j"}, "-j needs a value"},
        {{"--on-exists", "keep", "x"}, "--on-exists is skip, rename or overwrite, not 'keep'"},
        {{"--quiet=yes", "x"}, "--quiet takes no value"},
        {{"-x", "x"}, "unknown option '-x'"},
        {{"-hx", "x"}, "unknown option '-hx'"},
        {{"-o", "", "x"}, "--output-dir needs a folder"},
    };
    for (const auto &c : cases) {
        BatchArguments arguments;
        std::string error;
        EXPECT_FALSE(ParseBatchArguments(c.words, 2, arguments, error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
    EXPECT_EQ(Parsed({"-f", "wav", "-r", "96000", "x"}).rate, 96000); // any rate for a WAV
}
