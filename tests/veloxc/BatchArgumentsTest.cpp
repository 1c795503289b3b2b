#include "veloxc/BatchArguments.h"

#include "batch/OutputFormats.h"

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
    for (const auto &words :
         {std::vector<std::string>{"-f", "wav", "-r", "48000", "-c", "1", "-o", "out", "-j", "3", "music",
                                   "--on-exists", "rename", "--quiet", "--no-tags", "--no-segments"},
          {"--format=wav", "--rate=48000", "--channels", "1", "--output-dir=out", "--jobs=3", "--on-exists=rename",
           "--quiet", "--no-tags", "--no-segments", "--", "music"}}) {
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
    EXPECT_FALSE(defaults.qualityTerm || defaults.noSegments);
    EXPECT_EQ(defaults.Quality(), (batch::FormatQuality{0, 2})); // MP3's variable scale at 2
    EXPECT_EQ(defaults.paths, (std::vector<std::string>{"a.flac", "-", "--odd.wav"}));
    EXPECT_EQ(Parsed({"-q0", "-j3", "-ofolder", "x"}).jobs, 3); // short options with their value joined on
    // Each format's own terms, its ladder found by them.
    const struct {
        std::vector<std::string> words;
        batch::FormatQuality quality;
    } qualities[] = {{{"-q7", "x"}, {0, 7}},
                     {{"-b", "320", "x"}, {1, 320}},
                     {{"-f", "ogg", "-q", "-1", "x"}, {0, -1}},
                     {{"-f", "OPUS", "--bitrate=96", "x"}, {0, 96}},
                     {{"-f", "flac", "--level", "8", "x"}, {0, 8}},
                     {{"-f", "flac", "x"}, {0, 5}},
                     {{"-f", "ac3", "-b", "448", "x"}, {0, 448}},
                     {{"-f", "alac", "x"}, {0, 0}}};
    for (const auto &q : qualities)
        EXPECT_EQ(Parsed(q.words).Quality(), q.quality) << q.words[1];
    EXPECT_TRUE(Parsed({"--help", "--bogus"}).help); // help ends the reading
}

TEST(BatchArgumentsTest, RefusesWhatIsNoCommand)
{
    const struct {
        std::vector<std::string> words;
        std::string error;
    } cases[] = {
        {{}, "batch needs at least one file or folder"},
        {{"-f", "vqf", "x"},
         "--format is one of mp3, wav, aac, ac3, mp2, wma, flac, opus, ogg, m4a, alac, wv, aiff, not 'vqf'"},
        {{"-q", "10", "x"}, "--quality for mp3 is 0 to 9, not 10"},
        {{"-q", "2.5", "x"}, "--quality needs a number, not '2.5'"},
        {{"-b", "7", "x"}, "--bitrate for mp3 is 8 to 320, not 7"},
        {{"-b", "128", "-q", "2", "x"}, "--bitrate and --quality exclude each other"},
        {{"-f", "wav", "-q", "2", "x"}, "--quality is not a choice for wav (it has none)"},
        {{"-f", "flac", "-b", "320", "x"}, "--bitrate is not a choice for flac; it takes --level"},
        {{"-f", "flac", "--level", "9", "x"}, "--level for flac is 0 to 8, not 9"},
        {{"-f", "opus", "-b", "300", "x"}, "--bitrate for opus is 32 to 256, not 300"},
        {{"-f", "ogg", "-q", "11", "x"}, "--quality for ogg is -1 to 10, not 11"},
        {{"-f", "mp2", "-b", "200", "x"},
         "--bitrate for mp2 is one of 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, not 200"},
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
