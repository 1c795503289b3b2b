#include "libs/CurrentDirectoryScope.h"
#include "tests/engine/OptionsFixture.h"
#include "tests/support/LibraryLogCapture.h"
#include "tests/support/MediaFixtures.h"

#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace avlib;
using namespace testing_support;

namespace {

class InputFilesTest : public OptionsTest {
protected:
    std::string Video(const std::string &name, int width, int height, double seconds = 0.2,
                      std::map<std::string, std::string> muxerOptions = {})
    {
        MediaRecipe recipe;
        recipe.seconds = seconds;
        recipe.video = VideoTrack{"mpeg4", width, height, 25};
        recipe.audio = AudioTrack{"mp2", 48000, 1};
        recipe.muxerOptions = std::move(muxerOptions);
        const std::string path = dir.File(name);
        WriteMediaFile(path, recipe);
        return path;
    }

    TempDir dir;
};

} // namespace

TEST_F(InputFilesTest, AVideoInputHandsItsParametersToTheNextOutput)
{
    const std::string path = Video("wide.avi", 1280, 720);
    ASSERT_TRUE(engine.AddInputFile(path)) << engine.LastErrorText;
    EXPECT_EQ(engine.InputFileCount, 1);
    EXPECT_EQ(engine.FrameWidth, 1280);
    EXPECT_EQ(engine.FrameHeight, 720);
    EXPECT_FLOAT_EQ(engine.FrameAspectRatio, 1.7777778f);
    EXPECT_EQ(engine.FramePixFmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(engine.FrameRate.num, 25);
    EXPECT_EQ(engine.FrameRate.den, 1);
    EXPECT_EQ(engine.AudioChannels, 1);
    EXPECT_EQ(engine.AudioSampleRate, 48000);
    EXPECT_EQ(engine.AudioSampleFmt, AV_SAMPLE_FMT_S16P);
    EXPECT_EQ(engine.TotalDuration, engine.InputFiles[0]->duration / 1000);
    EXPECT_GE(engine.TotalDuration, 200);
    ASSERT_EQ(engine.InputCodecs[0].size(), 2u);
    EXPECT_EQ(engine.InputCodecs[0][0]->codec_id, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(engine.InputCodecs[0][1]->codec_id, AV_CODEC_ID_MP2);

    // An output without "s" or "aspect" inherits them.
    engine.SetOption("vcodec", "mpeg4");
    ASSERT_TRUE(engine.AddOutputFile(dir.File("out.avi"))) << engine.LastErrorText;
    const AVCodecContext *video = engine.OutputCodecs[0][0].Context.get();
    EXPECT_EQ(video->width, 1280);
    EXPECT_EQ(video->height, 720);
    EXPECT_EQ(video->sample_aspect_ratio.num, 1);
    EXPECT_EQ(video->sample_aspect_ratio.den, 1);
    EXPECT_EQ(video->time_base.num, 1);
    EXPECT_EQ(video->time_base.den, 25);
}

TEST_F(InputFilesTest, AnAudioInputKeepsTheFrameSize)
{
    engine.SetOption("s", "320x240");
    const std::string path = dir.File("mono.wav");
    WriteSineWav(path, 0.5, 48000, 1);
    ASSERT_TRUE(engine.AddInputFile(path)) << engine.LastErrorText;
    EXPECT_EQ(engine.FrameWidth, 320);
    EXPECT_EQ(engine.FrameHeight, 240);
    EXPECT_EQ(engine.AudioChannels, 1);
    EXPECT_EQ(engine.AudioSampleRate, 48000);
    EXPECT_EQ(engine.AudioSampleFmt, AV_SAMPLE_FMT_S16);
    EXPECT_EQ(engine.TotalDuration, 500);
}

TEST_F(InputFilesTest, AnRmFileWithoutPixelFormatIsPlanar420)
{
    // A video stream whose codec nothing here decodes reports no pixel format.
    const std::string avi = Video("unknown.avi", 160, 120);
    PatchBytes(avi, "FMP4", "ZQZQ");
    std::filesystem::copy_file(avi, dir.File("unknown.RM"));
    std::filesystem::copy_file(avi, dir.File("unknown.rmvb"));
    const std::pair<std::string, int> cases[] = {
        {dir.File("unknown.avi"), -1}, {dir.File("unknown.RM"), 0}, {dir.File("unknown.rmvb"), 0}};
    for (const auto &[file, format] : cases) {
        TCustomFFmpeg e;
        e.InitializeJob();
        ASSERT_TRUE(e.AddInputFile(file)) << e.LastErrorText;
        EXPECT_EQ(e.FramePixFmt, format) << file;
        EXPECT_EQ(e.InputFiles[0]->streams[0]->codecpar->format, format) << file;
    }
}

TEST_F(InputFilesTest, TheStartTimeSeeksPastTheFilesOwnStart)
{
    const std::string path = Video("late.ts", 160, 120, 0.5, {{"output_ts_offset", "1.4"}});
    engine.SetOption("itsoffset", "2");
    engine.SetOption("ss", "10");
    ASSERT_TRUE(engine.AddInputFile(path)) << engine.LastErrorText;
    const int64_t fileStart = engine.InputFiles[0]->start_time;
    EXPECT_NEAR(static_cast<double>(fileStart), 1400000.0, 50000.0);
    EXPECT_EQ(engine.InputTsOffsets[0], 2000000 - (10000000 + fileStart));
    EXPECT_EQ(engine.StartTime, 0);

    engine.SetOption("copyts", "");
    ASSERT_TRUE(engine.AddInputFile(path)) << engine.LastErrorText;
    EXPECT_EQ(engine.InputTsOffsets[1], 2000000);
}

TEST_F(InputFilesTest, TheLongestInputGivesTheTotalDuration)
{
    WriteSineWav(dir.File("a.wav"), 60.0, 8000, 1);
    WriteSineWav(dir.File("b.wav"), 90.0, 8000, 1);
    ASSERT_TRUE(engine.AddInputFile(dir.File("a.wav")));
    EXPECT_EQ(engine.TotalDuration, 60000);
    ASSERT_TRUE(engine.AddInputFile(dir.File("b.wav")));
    EXPECT_EQ(engine.TotalDuration, 90000);
    ASSERT_TRUE(engine.AddInputFile(dir.File("a.wav")));
    EXPECT_EQ(engine.TotalDuration, 90000);
    EXPECT_EQ(engine.InputFileCount, 3);
}

TEST_F(InputFilesTest, DecoderNamesAreCheckedAndUsedUp)
{
    WriteSineWav(dir.File("tone.wav"), 0.1);
    struct Case {
        const char *keyword;
        const char *name;
        std::string message;
    };
    const Case cases[] = {
        {"acodec", "libmp3lame", "Unknown decoder 'libmp3lame'"}, // an encoder only
        {"vcodec", "mp3", "Invalid decoder type 'mp3'"},
        {"scodec", "nosuch", "Unknown decoder 'nosuch'"},
    };
    for (const Case &c : cases) {
        engine.SetOption(c.keyword, c.name);
        engine.SetOption("f", "wav");
        EXPECT_FALSE(engine.AddInputFile(dir.File("tone.wav")));
        EXPECT_EQ(engine.LastErrorText, c.message);
        EXPECT_EQ(engine.InputFileCount, 0);
        EXPECT_FALSE(engine.VideoCodecName || engine.AudioCodecName || engine.SubtitleCodecName);
        EXPECT_EQ(engine.InputFormat, nullptr);
    }
    engine.SetOption("acodec", "pcm_s16le");
    ASSERT_TRUE(engine.AddInputFile(dir.File("tone.wav"))) << engine.LastErrorText;
    EXPECT_EQ(engine.InputFiles[0]->audio_codec_id, AV_CODEC_ID_PCM_S16LE);
    EXPECT_FALSE(engine.AudioCodecName);
}

TEST_F(InputFilesTest, FilesThatCannotBeOpenedLeaveNothingBehind)
{
    std::ofstream(dir.File("noise.wav"), std::ios::binary) << std::string(4096, '\x5a');
    std::ofstream(dir.File("empty.wav")).close();
    WriteSineWav(dir.File("tone.wav"), 0.1);
    WriteSineWav(dir.File("locked.wav"), 0.1);
    chmod(dir.File("locked.wav").c_str(), 0200);
    const std::string tooLong = dir.File(std::string(300, 'n') + ".wav");
    std::vector<std::pair<std::string, std::string>> cases = {
        {dir.File("missing.wav"), dir.File("missing.wav") + ": no such file or directory"},
        {dir.File("no/such/folder/in.wav"), dir.File("no/such/folder/in.wav") + ": no such file or directory"},
        {dir.File("noise.wav"), dir.File("noise.wav") + ": Unknown format"},
        {dir.File("empty.wav"), dir.File("empty.wav") + ": Unknown format"},
        // Codes without a text of their own keep the general one and add the system's reason.
        {dir.Path().string() + "/", dir.Path().string() + "/: Error while opening file (Is a directory)"},
        {tooLong, tooLong + ": Error while opening file (File name too long)"},
        {dir.File("tone.wav/in.wav"), dir.File("tone.wav/in.wav") + ": Error while opening file (Not a directory)"},
    };
    if (geteuid() != 0) // root reads any file
        cases.push_back(
            {dir.File("locked.wav"), dir.File("locked.wav") + ": Error while opening file (Permission denied)"});
    for (const auto &[file, message] : cases) {
        engine.SetOption("vcodec", "mpeg4");
        engine.SetOption("re", "");
        EXPECT_FALSE(engine.AddInputFile(file)) << file;
        EXPECT_EQ(engine.LastErrorText, message);
        EXPECT_EQ(engine.InputFileCount, 0);
        EXPECT_EQ(engine.InputFiles[0], nullptr);
        EXPECT_FALSE(engine.VideoCodecName);
        EXPECT_EQ(engine.RateEmu, 0);
    }
    engine.SetOption("f", "mpegts");
    EXPECT_FALSE(engine.AddInputFile(dir.File("tone.wav")));
    EXPECT_EQ(engine.LastErrorText, dir.File("tone.wav") + ": could not find codec parameters");
    EXPECT_EQ(engine.InputFileCount, 0);
}

TEST_F(InputFilesTest, FileAddressesOpenTheFileTheyName)
{
    WriteSineWav(dir.File("take:1.wav"), 0.1);
    avlib::CurrentDirectoryScope here(dir.Path());
    for (const std::string &name :
         {"file:" + dir.File("take:1.wav"), std::string("file:take:1.wav"), std::string("file:./take:1.wav")}) {
        engine.InitializeJob();
        ASSERT_TRUE(engine.AddInputFile(name)) << name << ": " << engine.LastErrorText;
        EXPECT_STREQ(engine.InputFiles[0]->url, name.c_str());
        EXPECT_EQ(engine.AudioSampleRate, 44100) << name;
    }
    engine.InitializeJob();
    EXPECT_FALSE(engine.AddInputFile("file:missing.wav"));
    EXPECT_EQ(engine.LastErrorText, "file:missing.wav: no such file or directory");
}

TEST_F(InputFilesTest, DisabledKindsAreDiscardedAndTheFormatIsDumped)
{
    const std::string path = Video("clip.avi", 160, 120);
    engine.SetOption("vn", "");
    engine.SetOption("an", "");
    LibraryLogCapture log;
    ASSERT_TRUE(engine.AddInputFile(path)) << engine.LastErrorText;
    EXPECT_EQ(engine.InputFiles[0]->streams[0]->discard, AVDISCARD_ALL);
    EXPECT_EQ(engine.InputFiles[0]->streams[1]->discard, AVDISCARD_ALL);
    bool dumped = false;
    for (const auto &[level, text] : log.Lines())
        dumped = dumped || text.find("Input #0, avi, from '" + path + "'") != std::string::npos;
    EXPECT_TRUE(dumped);
}

TEST_F(InputFilesTest, OnlyTheChosenProgramIsRead)
{
    MediaRecipe recipe;
    recipe.audio = AudioTrack{"mp2", 48000, 2};
    WriteMediaFile(dir.File("one.ts"), recipe);
    engine.SetOption("programid", "7");
    ASSERT_TRUE(engine.AddInputFile(dir.File("one.ts"))) << engine.LastErrorText;
    ASSERT_EQ(engine.InputFiles[0]->nb_programs, 1u);
    EXPECT_EQ(engine.InputFiles[0]->programs[0]->discard, AVDISCARD_ALL);
}
