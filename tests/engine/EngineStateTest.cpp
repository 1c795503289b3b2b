#include "engine/FFmpeg.h"
#include "libs/AVLibLoader.h"
#include "libs/LibraryLog.h"
#include "tests/engine/ScriptedEngine.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace avlib;

namespace {

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { testing_support::EnsureLibrariesLoaded(); }
};

// Every documented reset value, checked on one engine.
void ExpectResetValues(const TCustomFFmpeg &e)
{
    EXPECT_EQ(e.InputFileCount, 0);
    EXPECT_EQ(e.OutputFileCount, 0);
    EXPECT_EQ(e.StreamMapCount, 0);
    EXPECT_EQ(e.MetaDataMapCount, 0);
    for (const auto &file : e.InputFiles)
        EXPECT_EQ(file, nullptr);
    for (const auto &scales : e.InputTsScales)
        for (double scale : scales)
            EXPECT_EQ(scale, 0.0);
    for (int64_t offset : e.InputTsOffsets)
        EXPECT_EQ(offset, 0);
    EXPECT_EQ(e.InputFormat, nullptr);
    EXPECT_EQ(e.OutputFormat, nullptr);
    EXPECT_EQ(e.FrameWidth, 0);
    EXPECT_EQ(e.FrameHeight, 0);
    EXPECT_EQ(e.FrameAspectRatio, 0.0f);
    EXPECT_EQ(e.FramePixFmt, -1);
    EXPECT_EQ(e.AudioSampleFmt, -1);
    EXPECT_EQ(e.PadColor, (std::array<int32_t, 3>{16, 128, 128}));
    EXPECT_EQ(e.MaxFrames, (std::array<int32_t, 4>{2147483647, 2147483647, 2147483647, 2147483647}));
    EXPECT_EQ((std::array{e.PadTop, e.PadBottom, e.PadLeft, e.PadRight}), (std::array{0, 0, 0, 0}));
    EXPECT_EQ((std::array{e.CropTop, e.CropBottom, e.CropLeft, e.CropRight}), (std::array{0, 0, 0, 0}));
    EXPECT_EQ(e.FrameRate.num, 0);
    EXPECT_EQ(e.FrameRate.den, 0);
    EXPECT_EQ(e.VideoQScale, 0.0f);
    EXPECT_EQ(e.VideoCodecTag, 0u);
    EXPECT_EQ(e.AudioCodecTag, 0u);
    EXPECT_EQ(e.CopyTs, 0);
    EXPECT_EQ(e.InputTsOffset, 0);
    EXPECT_EQ(e.RecTimestamp, 0);
    EXPECT_EQ(e.Title + e.Author + e.Copyright + e.Comment + e.Genre + e.Album, "");
    EXPECT_EQ(e.Year + e.Track, 0);
    EXPECT_EQ(e.AudioLanguage + e.SubtitleLanguage + e.PassLogFilePrefix + e.VideoFilters, "");
    EXPECT_EQ(e.DoPass, 0);
    EXPECT_EQ(e.UsingVhook, 0);
    EXPECT_EQ(e.LastErrorText, "");
    EXPECT_FALSE(e.VstatsFileName);
    EXPECT_TRUE(e.VhookList.Empty());
    EXPECT_FALSE(e.IntraMatrix);
    EXPECT_FALSE(e.InterMatrix);
    EXPECT_FALSE(e.VideoRcOverride);
    EXPECT_FALSE(e.VideoCodecName);
    EXPECT_FALSE(e.AudioCodecName);
    EXPECT_FALSE(e.SubtitleCodecName);
    EXPECT_EQ(e.TopFieldFirst, -1);
    EXPECT_EQ(e.IntraDcPrecision, 8);
    EXPECT_EQ(e.LoopOutput, -1);
    EXPECT_EQ(e.AudioSampleRate, 44100);
    EXPECT_EQ(e.AudioQScale, -99999.0f);
    EXPECT_EQ(e.AudioChannels, 2);
    EXPECT_EQ(e.MuxPreload, 0.5f);
    EXPECT_EQ(e.MuxMaxDelay, 0.7f);
    EXPECT_EQ(e.RecordingTime, INT64_MAX);
    EXPECT_EQ(e.StartTime, 0);
    EXPECT_EQ(e.VideoSyncMethod, -1);
    EXPECT_EQ(e.AudioSyncMethod, 0);
    EXPECT_EQ(e.AudioDriftThreshold, 0.1f);
    EXPECT_EQ(e.DtsDeltaThreshold, 10.0f);
    EXPECT_EQ(e.AudioVolume, 256);
    EXPECT_EQ(e.Verbose, 1);
    EXPECT_EQ(e.ThreadCount, 1);
    EXPECT_EQ(e.SwsFlags, 4);
    EXPECT_EQ(e.BitBufferSize, 262144);
    EXPECT_EQ(e.ProgramId, 0);
    EXPECT_EQ(e.LimitFileSize, 0);
    EXPECT_EQ(e.VideoSize + e.AudioSize + e.ExtraSize, 0);
    EXPECT_EQ(e.FramesDup + e.FramesDrop, 0);
    EXPECT_TRUE(e.GenericOptionNames.empty());
    EXPECT_TRUE(e.VideoBitstreamFilters.empty());
    EXPECT_TRUE(e.HookRanges.empty());
    EXPECT_EQ(e.HookRangeIndex, 0);
    EXPECT_EQ(e.HookRangeCount, 0);
    EXPECT_EQ(e.HookAction, haContinue);
    EXPECT_EQ(e.ErrorOccurred, 0);
    EXPECT_EQ(e.ErrorMessage, "");
    EXPECT_EQ(e.TotalDuration, -1);
    EXPECT_EQ(e.Worker(), nullptr);
}

} // namespace

TEST_F(EngineTest, ANewEngineHasTheResetValues)
{
    TCustomFFmpeg engine;
    ExpectResetValues(engine);
    EXPECT_EQ(engine.ProgressInterval, 500000);
    EXPECT_EQ(engine.Running, 0);
    EXPECT_EQ(engine.StopRequested, 0);
    EXPECT_EQ(engine.Finished, 0);
    EXPECT_EQ(engine.Terminated, 0);
    EXPECT_TRUE(engine.OpenEncoders.Empty());
    EXPECT_TRUE(engine.OpenDecoders.Empty());
    for (const auto &context : engine.CodecDefaults)
        EXPECT_EQ(context, nullptr);
}

TEST_F(EngineTest, ResetOptionsRestoresFieldsButKeepsCallbacksIntervalAndRunFlags)
{
    TCustomFFmpeg engine;
    bool logged = false;
    engine.LogCallback = [&](TCustomFFmpeg *, int, const std::string &) { logged = true; };
    int terminations = 0;
    engine.TerminateCallback = [&](TCustomFFmpeg *) { ++terminations; };
    engine.ProgressInterval = 100000;
    engine.Terminated = 1;
    engine.StopRequested = 1;
    engine.Running = 1;
    engine.Finished = 1;
    engine.PadTop = engine.CropLeft = 8;
    engine.VideoQScale = 3;
    engine.VideoCodecTag = engine.AudioCodecTag = 1;
    engine.CopyTs = 1;
    engine.InputTsOffset = engine.RecTimestamp = 5;
    engine.Title = engine.Album = engine.AudioLanguage = engine.VideoFilters = "x";
    engine.Year = engine.Track = engine.DoPass = 2;
    engine.UsingVhook = 1;
    engine.LastErrorText = "failed";
    engine.VstatsFileName = "stats.log";
    engine.AudioChannels = 6;
    engine.AudioSampleRate = 8000;
    engine.PadColor = {235, 128, 128};
    engine.MaxFrames[1] = 10;
    engine.VideoCodecName = "mpeg4";
    engine.IntraMatrix.emplace();
    engine.GenericOptionNames.push_back("b");
    engine.ErrorOccurred = 1;
    engine.ErrorMessage = "failed";
    engine.TotalDuration = 5000;
    engine.SetHookRanges({{1, 2}});

    engine.ResetOptions();

    ExpectResetValues(engine);
    EXPECT_EQ(engine.ProgressInterval, 100000);
    EXPECT_EQ(engine.Terminated, 1);
    EXPECT_EQ(engine.StopRequested, 1);
    EXPECT_EQ(engine.Running, 1);
    EXPECT_EQ(engine.Finished, 1);
    ASSERT_TRUE(engine.LogCallback);
    engine.Log(1, "still wired");
    EXPECT_TRUE(logged);
    ASSERT_TRUE(engine.TerminateCallback);
    engine.TerminateCallback(&engine);
    EXPECT_EQ(terminations, 1);
    engine.Running = 0;
}

TEST(EngineWithoutLibrariesTest, InitializeJobLeavesTheEngineUnchanged)
{
    UnloadAll();
    TCustomFFmpeg engine;
    engine.AudioChannels = 6;
    engine.Terminated = 1;
    engine.TotalDuration = 1234;
    engine.ErrorOccurred = 1;

    engine.InitializeJob();

    EXPECT_EQ(engine.AudioChannels, 6);
    EXPECT_EQ(engine.Terminated, 1);
    EXPECT_EQ(engine.TotalDuration, 1234);
    EXPECT_EQ(engine.ErrorOccurred, 1);
    for (const auto &context : engine.CodecDefaults)
        EXPECT_EQ(context, nullptr);
    EXPECT_EQ(engine.FormatDefaults, nullptr);
    EXPECT_EQ(engine.ScalerDefaults, nullptr);
}

TEST_F(EngineTest, InitializeJobResetsTheJobAndCreatesTheDefaultContexts)
{
    TCustomFFmpeg engine;
    engine.AudioChannels = 1;
    engine.Terminated = 1;
    engine.Finished = 1;
    engine.TotalDuration = 99;

    engine.InitializeJob();

    ExpectResetValues(engine);
    EXPECT_EQ(engine.Terminated, 0);
    EXPECT_EQ(engine.Finished, 0);
    const AVMediaType kinds[] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA, AVMEDIA_TYPE_SUBTITLE,
                                 AVMEDIA_TYPE_ATTACHMENT};
    for (size_t i = 0; i < engine.CodecDefaults.size(); ++i) {
        ASSERT_NE(engine.CodecDefaults[i], nullptr);
        EXPECT_EQ(engine.CodecDefaults[i]->codec_type, kinds[i]);
    }
    EXPECT_NE(engine.FormatDefaults, nullptr);
    EXPECT_NE(engine.ScalerDefaults, nullptr);

    // A second job on the same engine frees the first job's contexts (the leak check sees it).
    engine.InitializeJob();
    ASSERT_NE(engine.FormatDefaults, nullptr);
    engine.ReleaseJob();
    EXPECT_EQ(engine.FormatDefaults, nullptr);
    EXPECT_EQ(engine.CodecDefaults[0], nullptr);
}

TEST_F(EngineTest, SetVerboseSetsTheLibraryLevelAndTheProcessThreshold)
{
    TCustomFFmpeg engine;
    const std::pair<int, int> cases[] = {
        {-1, AV_LOG_QUIET}, {0, AV_LOG_ERROR}, {1, AV_LOG_INFO}, {2, AV_LOG_DEBUG}, {3, AV_LOG_TRACE}};
    for (const auto &[verbose, level] : cases) {
        engine.SetVerbose(verbose);
        EXPECT_EQ(engine.Verbose, verbose);
        EXPECT_EQ(avutil.av_log_get_level(), level) << verbose;
        EXPECT_EQ(LogThreshold(), level) << verbose;
    }
    engine.SetVerbose(1);
}

TEST_F(EngineTest, SetHookRangesSortsByEndAndRestartsTheIndex)
{
    struct Case {
        std::vector<THookRange> given;
        std::vector<int64_t> ends;
    };
    const Case cases[] = {
        {{}, {}},
        {{{0, 5}}, {5}},
        {{{10, 40}, {0, 5}, {20, 30}, {1, 2}}, {2, 5, 30, 40}},
        {{{5, 9}, {4, 8}, {3, 7}, {2, 6}, {1, 5}}, {5, 6, 7, 8, 9}},
        {{{0, 7}, {2, 7}, {1, 3}}, {3, 7, 7}},
    };
    TCustomFFmpeg engine;
    for (const Case &c : cases) {
        engine.HookRangeIndex = 3;
        engine.SetHookRanges(c.given);
        EXPECT_EQ(engine.HookRangeIndex, 0);
        EXPECT_EQ(engine.HookRangeCount, static_cast<int32_t>(c.given.size()));
        std::vector<int64_t> ends;
        for (const THookRange &range : engine.HookRanges)
            ends.push_back(range.End);
        EXPECT_EQ(ends, c.ends);
        // The pairs stay pairs: every given range is still there.
        for (const THookRange &range : c.given)
            EXPECT_NE(std::find_if(engine.HookRanges.begin(), engine.HookRanges.end(),
                                   [&](const THookRange &r) { return r.Start == range.Start && r.End == range.End; }),
                      engine.HookRanges.end());
    }
}

TEST_F(EngineTest, ReleaseJobDeletesEmptyOutputsAndKeepsTheOthers)
{
    testing_support::TempDir dir;
    const std::string empty = dir.File("empty.mp3");
    const std::string written = dir.File("written.mp3");
    const std::string notOpened = dir.File("not-opened.mp3"); // a deferred output's name, say
    std::ofstream(empty).close();
    std::ofstream(written) << "ID3";
    std::ofstream(notOpened).close();

    TCustomFFmpeg engine;
    engine.InitializeJob();
    for (const std::string &name : {empty, written, notOpened}) {
        AVFormatContext *output = avformat.avformat_alloc_context();
        ASSERT_NE(output, nullptr);
        output->url = avutil.av_strdup(name.c_str());
        engine.OutputOpenedByName[engine.OutputFileCount] = name != notOpened;
        engine.OutputFiles[engine.OutputFileCount++].reset(output);
    }
    AVFormatContext *input = avformat.avformat_alloc_context();
    ASSERT_NE(input, nullptr);
    engine.InputFiles[engine.InputFileCount++].reset(input);
    engine.VideoCodecName = "mpeg4";
    engine.AudioLanguage = "eng";
    engine.GenericOptionNames = {"b", "g"};

    engine.ReleaseJob();

    EXPECT_FALSE(std::filesystem::exists(empty));
    EXPECT_TRUE(std::filesystem::exists(written));
    EXPECT_TRUE(std::filesystem::exists(notOpened));
    EXPECT_EQ(engine.OutputFileCount, 0);
    EXPECT_EQ(engine.InputFileCount, 0);
    EXPECT_EQ(engine.OutputFiles[0], nullptr);
    EXPECT_EQ(engine.InputFiles[0], nullptr);
    EXPECT_FALSE(engine.VideoCodecName);
    EXPECT_EQ(engine.AudioLanguage, "");
    EXPECT_TRUE(engine.GenericOptionNames.empty());
}
