#include "engine/Mp3BitRate.h"
#include "engine/Mp3Frames.h"
#include "libs/TextFormat.h"
#include "probe/AVProbe.h"
#include "tests/engine/OptionsFixture.h"
#include "tests/support/MediaFixtures.h"

#include <cstring>
#include <fstream>
#include <regex>
#include <thread>

using avlib::FormatText;

using namespace avlib;
using namespace testing_support;

namespace {

class TranscodeTest : public OptionsTest {
protected:
    // Packets per stream of a file, and their total duration in seconds.
    struct Contents {
        std::vector<int> packets;
        std::vector<double> seconds;
        std::vector<AVCodecID> codecs;
    };
    static Contents Read(const std::string &path)
    {
        Contents contents;
        AVFormatContext *raw = nullptr;
        if (avformat.avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
            ADD_FAILURE() << "cannot open " << path;
            return contents;
        }
        InputFormatContextPtr file(raw);
        avformat.avformat_find_stream_info(raw, nullptr);
        contents.packets.assign(raw->nb_streams, 0);
        contents.seconds.assign(raw->nb_streams, 0.0);
        for (unsigned i = 0; i < raw->nb_streams; ++i)
            contents.codecs.push_back(raw->streams[i]->codecpar->codec_id);
        AVPacketPtr packet(avcodec.av_packet_alloc());
        while (avformat.av_read_frame(raw, packet.get()) >= 0) {
            ++contents.packets[packet->stream_index];
            contents.seconds[packet->stream_index] +=
                packet->duration * av_q2d(raw->streams[packet->stream_index]->time_base);
            avcodec.av_packet_unref(packet.get());
        }
        return contents;
    }

    // Stereo PCM in Matroska whose timestamps jump ahead by gapSamples at gapAt seconds.
    std::string PcmWithAJump(const std::string &name, double seconds, double gapAt, int64_t gapSamples)
    {
        MediaRecipe recipe;
        recipe.format = "matroska";
        recipe.seconds = seconds;
        recipe.audio = AudioTrack{"pcm_s16le", 44100, 2};
        recipe.audio->gapAt = gapAt;
        recipe.audio->gapSamples = gapSamples;
        WriteMediaFile(dir.File(name), recipe);
        return dir.File(name);
    }

    TempDir dir;
};

} // namespace

TEST_F(TranscodeTest, AnMp3CopiedIntoANewMp3KeepsItsFrames)
{
    const std::string input = dir.File("in.mp3");
    WriteSineMp3(input, 3.0);
    ASSERT_TRUE(Convert(input, dir.File("out.mp3"), "", "acodec=copy")) << engine.ErrorMessage;
    const Contents in = Read(input), out = Read(dir.File("out.mp3"));
    ASSERT_EQ(out.packets.size(), 1u);
    EXPECT_EQ(out.codecs[0], AV_CODEC_ID_MP3);
    EXPECT_EQ(out.packets[0], in.packets[0]);
    EXPECT_NEAR(out.seconds[0], in.seconds[0], 1e-6);
    EXPECT_EQ(engine.ErrorOccurred, 0);
}

namespace {

std::string VideoWithAudio(const TempDir &dir, const std::string &name, double seconds = 1.0)
{
    MediaRecipe recipe;
    recipe.seconds = seconds;
    recipe.video = VideoTrack{"mpeg4", 160, 120, 25};
    recipe.audio = AudioTrack{"mp2", 44100, 2};
    const std::string path = dir.File(name);
    WriteMediaFile(path, recipe);
    return path;
}

} // namespace

TEST_F(TranscodeTest, AVideoFileIsRemuxedIntoAnotherContainer)
{
    const std::string input = VideoWithAudio(dir, "in.avi");
    ASSERT_TRUE(Convert(input, dir.File("out.mkv"), "", "vcodec=copy\nacodec=copy")) << engine.ErrorMessage;
    const Contents in = Read(input), out = Read(dir.File("out.mkv"));
    ASSERT_EQ(out.packets.size(), 2u);
    EXPECT_EQ(out.codecs, (std::vector<AVCodecID>{AV_CODEC_ID_MPEG4, AV_CODEC_ID_MP2}));
    EXPECT_EQ(out.packets, in.packets);

    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(dir.File("out.mkv")));
    TAVFormatInfo info;
    probe.GetFormatInfo(info);
    EXPECT_NEAR(info.Duration / 1e6, 1.0, 0.05);
    TAVStreamInfo video;
    probe.GetStreamInfo(-1, video);
    EXPECT_EQ(video.Width, 160);
    EXPECT_EQ(video.Height, 120);
}

TEST_F(TranscodeTest, StreamMapsMustMatchTheOutputStreams)
{
    const std::string input = VideoWithAudio(dir, "in.avi", 0.2);
    struct Case {
        std::string maps;
        std::string message;
    };
    const Case cases[] = {
        {"map=0.0", "Number of stream maps must match number of output streams"},
        {"map=0.0\nmap=0.1\nmap=0.1", "Number of stream maps must match number of output streams"},
        {"map=0.0\nmap=0.5", "Could not find input stream #0.5"},
        {"map=0.0\nmap=1.0", "Could not find input stream #1.0"},
        {"map=0.0\nmap=0.1:0.7", "Could not find sync stream #0.7"},
        {"map=0.1\nmap=0.0", "Codec type mismatch for mapping #0.1 -> #0.0"},
    };
    for (const Case &c : cases) {
        CallbackRecorder r;
        TCustomFFmpeg e;
        e.InitializeJob();
        r.Attach(e);
        e.ParseOptionLines(c.maps);
        ASSERT_TRUE(e.AddInputFile(input));
        e.ParseOptionLines("vcodec=copy\nacodec=copy");
        ASSERT_TRUE(e.AddOutputFile(dir.File("out.mkv")));
        e.Start(false, tpNormal);
        EXPECT_EQ(e.ErrorMessage, c.message) << c.maps;
        EXPECT_TRUE(e.OpenEncoders.Empty());
        EXPECT_TRUE(e.OpenDecoders.Empty());
        EXPECT_EQ(r.TerminateCount(), 1u);
        EXPECT_EQ(r.Lines().back(), (LogLine{-1, c.message}));
    }
}

TEST_F(TranscodeTest, ASyncPairGivesAnExtraMappingLine)
{
    const std::string input = VideoWithAudio(dir, "in.avi", 0.2);
    ASSERT_TRUE(Convert(input, dir.File("out.mkv"), "map=0.0\nmap=0.1:0.0", "vcodec=copy\nacodec=copy"))
        << engine.ErrorMessage;
    const auto lines = recorder.Lines();
    const auto mapping = std::find(lines.begin(), lines.end(), LogLine{1, "Stream mapping:"});
    ASSERT_NE(mapping, lines.end());
    ASSERT_GE(lines.end() - mapping, 4);
    EXPECT_EQ(mapping[1], (LogLine{1, "  Stream #0.0 -> #0.0"}));
    EXPECT_EQ(mapping[2], (LogLine{1, "  Stream #0.1 -> #0.1"}));
    EXPECT_EQ(mapping[3], (LogLine{1, " [sync #0.0]"}));
}

// A run that cannot start says why; what it set up is freed (the leak checker sees the rest).
TEST_F(TranscodeTest, ARunThatCannotStartSaysWhy)
{
    VideoWithAudio(dir, "in.avi", 0.2);
    WriteSineWav(dir.File("in.wav"), 0.2);
    MediaRecipe radio;
    radio.audio = AudioTrack{"mp2", 48000, 2};
    radio.seconds = 0.2;
    WriteMediaFile(dir.File("radio.ts"), radio);
    std::ofstream(dir.File("stats-0.log")) << "statistics of a first pass\n";
    const struct {
        const char *input;
        std::string options;
        const char *output, *name, *value; // set before the input, or after the output: only the run sees it
        const char *message;
    } cases[] = {
        {"in.avi", "pass=2\nvcodec=mpeg4\nan=", "out.avi", "", "", "creat open fail: ffmpeg2pass-0.log"},
        {"in.wav", "passlogfile=" + dir.File("stats") + "\nflags=+pass2\nacodec=flac\nar=700001", "out.flac", "", "",
         "Error while opening codec for output stream #0.0 - maybe incorrect parameters such as bit_rate, rate, "
         "width or height"},
        {"in.avi", "vcodec=mpeg4\nvfilters=hflip\nan=", "out.avi", "croptop", "8",
         "Error opening filters: Cannot enable crop options and filters at the same time."},
        {"radio.ts", "acodec=copy", "out.mkv", "programid", "7",
         "Could not find input stream matching output stream #0.0"},
    };
    const std::string previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    for (const auto &c : cases) {
        SCOPED_TRACE(c.options);
        engine.InitializeJob();
        const bool before = std::string(c.name) == "programid";
        if (before)
            engine.SetOption(c.name, c.value);
        ASSERT_TRUE(engine.AddInputFile(dir.File(c.input))) << engine.LastErrorText;
        engine.ParseOptionLines(c.options);
        ASSERT_TRUE(engine.AddOutputFile(dir.File(c.output))) << engine.LastErrorText;
        if (*c.name && !before)
            engine.SetOption(c.name, c.value);
        engine.Start(false, tpNormal);
        EXPECT_EQ(engine.ErrorMessage, c.message);
        EXPECT_TRUE(engine.OpenEncoders.Empty());
    }
    std::filesystem::current_path(previous);
}

TEST_F(TranscodeTest, ShortestEndsWithTheFirstInput)
{
    MediaRecipe shortVideo;
    shortVideo.seconds = 0.4;
    shortVideo.video = VideoTrack{"mpeg4", 160, 120, 25};
    WriteMediaFile(dir.File("video.avi"), shortVideo);
    WriteSineMp3(dir.File("long.mp3"), 3.0);
    for (bool shortest : {false, true}) {
        TCustomFFmpeg e;
        e.InitializeJob();
        ASSERT_TRUE(e.AddInputFile(dir.File("video.avi")));
        ASSERT_TRUE(e.AddInputFile(dir.File("long.mp3")));
        e.ParseOptionLines(std::string("vcodec=copy\nacodec=copy\nmap=0.0\nmap=1.0") + (shortest ? "\nshortest=" : ""));
        const std::string output = dir.File(shortest ? "shortest.mkv" : "all.mkv");
        ASSERT_TRUE(e.AddOutputFile(output)) << e.LastErrorText;
        e.Start(false, tpNormal);
        ASSERT_EQ(e.ErrorMessage, "");
        EXPECT_EQ(e.Finished, 1);
        const Contents out = Read(output);
        ASSERT_EQ(out.seconds.size(), 2u);
        EXPECT_NEAR(out.seconds[0], 0.4, 0.05);
        if (shortest)
            EXPECT_LT(out.seconds[1], 1.0) << "audio went on after the video ended";
        else
            EXPECT_NEAR(out.seconds[1], 3.0, 0.1);
    }
}

TEST_F(TranscodeTest, FrameLimitsEndTheRun)
{
    const std::string input = VideoWithAudio(dir, "in.avi", 1.0);
    ASSERT_TRUE(Convert(input, dir.File("out.mkv"), "", "vcodec=copy\nacodec=copy\nvframes=5")) << engine.ErrorMessage;
    const Contents out = Read(dir.File("out.mkv"));
    EXPECT_EQ(out.packets[0], 5);
    EXPECT_LT(out.packets[1], Read(input).packets[1]);

    TCustomFFmpeg e;
    e.InitializeJob();
    WriteSineMp3(dir.File("in.mp3"), 2.0);
    ASSERT_TRUE(e.AddInputFile(dir.File("in.mp3")));
    e.ParseOptionLines("acodec=copy\naframes=10");
    ASSERT_TRUE(e.AddOutputFile(dir.File("out.mp3")));
    e.Start(false, tpNormal);
    EXPECT_EQ(e.Finished, 1);
    EXPECT_EQ(Read(dir.File("out.mp3")).packets[0], 10);
}

TEST_F(TranscodeTest, AStopRequestEndsTheRunWithAFinishedFile)
{
    WriteSineMp3(dir.File("in.mp3"), 20.0);
    engine.SetOption("re", ""); // read in real time, so the stop lands mid-run
    ASSERT_TRUE(engine.AddInputFile(dir.File("in.mp3")));
    engine.SetOption("acodec", "copy");
    ASSERT_TRUE(engine.AddOutputFile(dir.File("out.mp3")));
    engine.Start(true, tpNormal)->Resume();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    engine.RequestStop();
    ASSERT_TRUE(recorder.WaitForTerminate(1));
    EXPECT_EQ(engine.Finished, 0);
    EXPECT_EQ(engine.ErrorOccurred, 0);
    engine.ReleaseJob();
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(dir.File("out.mp3"))) << probe.LastErrMsg;
    const Contents out = Read(dir.File("out.mp3"));
    EXPECT_GT(out.seconds[0], 0.1);
    EXPECT_LT(out.seconds[0], 10.0);
}

TEST_F(TranscodeTest, AStopEndsARealTimeReadWaitingOutAJumpInTheTimestamps)
{
    const std::string input = PcmWithAJump("gap.mka", 1.0, 0.2, 60 * 44100); // a minute with no data
    engine.SetOption("re", "");
    engine.SetOption("copyts", ""); // else the jump is smoothed away
    ASSERT_TRUE(engine.AddInputFile(input));
    ASSERT_TRUE(engine.AddOutputFile(dir.File("out.wav")));
    engine.Start(true, tpNormal)->Resume();
    std::this_thread::sleep_for(std::chrono::milliseconds(600)); // well into the jump
    engine.RequestStop();
    EXPECT_TRUE(recorder.WaitForTerminate(1)) << "the stop waited for the minute to pass";
    EXPECT_EQ(engine.Finished, 0);
}

TEST_F(TranscodeTest, ATruncatedInputIsReadToWhereItBreaks)
{
    const std::string input = dir.File("in.mp3");
    WriteSineMp3(input, 4.0);
    std::filesystem::resize_file(input, std::filesystem::file_size(input) / 2);
    ASSERT_TRUE(Convert(input, dir.File("out.mp3"), "", "acodec=copy")) << engine.ErrorMessage;
    const Contents out = Read(dir.File("out.mp3"));
    EXPECT_NEAR(out.seconds[0], 2.0, 0.3);
}

TEST_F(TranscodeTest, AWriteFailureFailsTheRunNamingTheOutputAndTheReason)
{
    // A short output is still buffered when the trailer comes, so the full disk shows only there;
    // a long one fills the buffer while packets are written.
    for (const double seconds : {0.1, 3.0}) {
        WriteSineWav(dir.File("in.wav"), seconds);
        engine.InitializeJob();
        ASSERT_TRUE(engine.AddInputFile(dir.File("in.wav"))) << engine.LastErrorText;
        engine.SetOption("f", "wav");
        ASSERT_TRUE(engine.AddOutputFile("/dev/full")) << engine.LastErrorText;
        engine.Start(false, tpNormal);
        EXPECT_EQ(engine.Finished, 0) << seconds;
        EXPECT_EQ(engine.ErrorMessage, "Could not write to '/dev/full': No space left on device") << seconds;
    }
}

TEST_F(TranscodeTest, BitstreamFiltersHandTheirParametersToTheMuxer)
{
    // A filter that rewrites the codec's header data when it starts: the muxer must write the new one.
    MediaRecipe recipe;
    recipe.seconds = 0.4;
    recipe.video = VideoTrack{"libx264", 160, 120, 25};
    WriteMediaFile(dir.File("in.mp4"), recipe);
    ASSERT_TRUE(
        Convert(dir.File("in.mp4"), dir.File("out.nut"), "", "vcodec=copy\nvbsf=h264_mp4toannexb\nfflags=-autobsf"))
        << engine.ErrorMessage;
    TAVProbe in, out;
    ASSERT_TRUE(in.LoadFile(dir.File("in.mp4")));
    ASSERT_TRUE(out.LoadFile(dir.File("out.nut")));
    const AVCodecParameters *before = in.FormatContext()->streams[0]->codecpar;
    const AVCodecParameters *after = out.FormatContext()->streams[0]->codecpar;
    ASSERT_GT(before->extradata_size, 4);
    ASSERT_GT(after->extradata_size, 4);
    EXPECT_EQ(before->extradata[0], 1) << "the input keeps its header in the MP4 form";
    const uint8_t startCode[] = {0, 0, 0, 1};
    EXPECT_EQ(std::memcmp(after->extradata, startCode, 4), 0) << "the filter's header did not reach the muxer";
    EXPECT_EQ(Read(dir.File("out.nut")).packets, Read(dir.File("in.mp4")).packets);
}

TEST_F(TranscodeTest, AdtsAudioCopiedIntoMp4KeepsEveryFrame)
{
    // AAC with a header on every frame becomes the form an MP4 file keeps once, in its header.
    MediaRecipe recipe;
    recipe.format = "adts";
    recipe.audio = AudioTrack{"aac", 44100, 2};
    WriteMediaFile(dir.File("in.aac"), recipe);
    ASSERT_TRUE(Convert(dir.File("in.aac"), dir.File("out.m4a"), "", "acodec=copy\nabsf=aac_adtstoasc"))
        << engine.ErrorMessage;
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(dir.File("out.m4a")));
    EXPECT_GT(probe.FormatContext()->streams[0]->codecpar->extradata_size, 0);
    EXPECT_EQ(Read(dir.File("out.m4a")).packets, Read(dir.File("in.aac")).packets);
    EXPECT_EQ(DecodeAudio(dir.File("out.m4a")).Frames(), DecodeAudio(dir.File("in.aac")).Frames());
}

TEST_F(TranscodeTest, ABitstreamFilterThatRefusesTheCodecIsSkippedOrFailsTheRun)
{
    WriteSineMp3(dir.File("in.mp3"), 1.0);
    const std::string refusal = "aac_adtstoasc failed for stream 0, codec copy: Error while parsing header";
    ASSERT_TRUE(Convert(dir.File("in.mp3"), dir.File("out.mp3"), "", "acodec=copy\nabsf=aac_adtstoasc"))
        << engine.ErrorMessage;
    const auto lines = recorder.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), LogLine{0, refusal}), lines.end());
    EXPECT_EQ(Read(dir.File("out.mp3")).packets, Read(dir.File("in.mp3")).packets);

    TCustomFFmpeg strict;
    strict.InitializeJob();
    ASSERT_TRUE(strict.AddInputFile(dir.File("in.mp3")));
    strict.ParseOptionLines("xerror=\nacodec=copy\nabsf=aac_adtstoasc");
    ASSERT_TRUE(strict.AddOutputFile(dir.File("strict.mp3")));
    strict.Start(false, tpNormal);
    EXPECT_EQ(strict.ErrorMessage, refusal);
    EXPECT_FALSE(std::filesystem::exists(dir.File("strict.mp3"))) << "a header-only file was left behind";
}

TEST_F(TranscodeTest, TheFinalReportAndSummary)
{
    WriteSineMp3(dir.File("in.mp3"), 1.0);
    ASSERT_TRUE(Convert(dir.File("in.mp3"), dir.File("out.mp3"), "", "acodec=copy")) << engine.ErrorMessage;
    const auto lines = recorder.Lines();
    ASSERT_GE(lines.size(), 2u);
    const std::string report = lines[lines.size() - 2].text;
    const std::string summary = lines.back().text;
    const auto size = std::filesystem::file_size(dir.File("out.mp3"));
    EXPECT_TRUE(std::regex_match(report, std::regex(R"(size= +\d+kB time=1\.0\d bitrate= +\d+\.\dkbits/s)"))) << report;
    EXPECT_NE(report.find(FormatText("size=%8.0fkB", size / 1024.0)), std::string::npos) << report;
    EXPECT_TRUE(std::regex_match(
        summary, std::regex(R"(video:0kB audio:\d+kB global headers:0kB muxing overhead \d+\.\d{6}%\r\n)")))
        << summary;
    engine.InitializeJob(); // nothing encoded shows no overhead
    ASSERT_TRUE(Convert(dir.File("in.mp3"), dir.File("out.mp3"), "", "acodec=copy\naframes=0")) << engine.ErrorMessage;
    EXPECT_EQ(recorder.Lines().back().text, "video:0kB audio:0kB global headers:0kB muxing overhead 0.000000%\r\n");
}

TEST_F(TranscodeTest, AudioOnlyProgressHasNoVideoFigures)
{
    WriteSineMp3(dir.File("in.mp3"), 2.0);
    struct Figures {
        int frame, fps, duration;
        float quality, bitRate;
        int64_t size;
        int total;
    };
    std::vector<Figures> reports;
    engine.ProgressCallback = [&](TCustomFFmpeg *, int frame, int fps, int duration, float quality, float bitRate,
                                  int64_t size, int total) {
        reports.push_back({frame, fps, duration, quality, bitRate, size, total});
    };
    ASSERT_TRUE(Convert(dir.File("in.mp3"), dir.File("out.mp3"), "", "acodec=copy")) << engine.ErrorMessage;
    ASSERT_FALSE(reports.empty());
    const Figures &last = reports.back();
    EXPECT_EQ(last.frame, -1);
    EXPECT_EQ(last.fps, -1);
    EXPECT_EQ(last.quality, -1.0f);
    EXPECT_NEAR(last.duration, 2000, 100);
    EXPECT_EQ(last.size, static_cast<int64_t>(std::filesystem::file_size(dir.File("out.mp3"))));
    EXPECT_EQ(last.total, engine.TotalDuration);
    EXPECT_NEAR(last.bitRate, last.size * 8 / (last.duration / 1000.0) / 1000.0, 1.0);
    // With a callback the report line is not logged.
    for (const LogLine &line : recorder.Lines())
        EXPECT_EQ(line.text.find("bitrate="), std::string::npos) << line.text;
}

TEST_F(TranscodeTest, AFilterChainIsBuiltForAReEncodedVideo)
{
    const std::string input = VideoWithAudio(dir, "in.avi", 0.2);
    const std::string padMessage = "Error opening filters: Cannot enable pad options and the filters which resize "
                                   "frame at the same time. (crop, rotate, scale, transpose, etc.)";
    struct Case {
        std::string options;
        int padTopAfter; // set after the output: only the run sees it
        std::string message;
    };
    const Case cases[] = {
        // The chain is built and the run goes through it.
        {"vfilters=hflip", 0, ""},
        {"vfilters=hflip\npadtop=8", 0, ""},
        {"vfilters=hflip", 8, padMessage}, // the picture would have to shrink to make room
        {"vfilters=scale=80:60", 8, padMessage},
        {"vfilters=nosuchfilter", 0, "Error opening filters!"},
    };
    for (const Case &c : cases) {
        TCustomFFmpeg e;
        e.InitializeJob();
        ASSERT_TRUE(e.AddInputFile(input));
        e.ParseOptionLines("vcodec=mpeg4\nan=\n" + c.options);
        ASSERT_TRUE(e.AddOutputFile(dir.File("out.avi"))) << e.LastErrorText;
        if (c.padTopAfter)
            e.PadTop = c.padTopAfter;
        e.Start(false, tpNormal);
        EXPECT_EQ(e.ErrorMessage, c.message) << c.options;
        EXPECT_TRUE(e.OpenEncoders.Empty());
        EXPECT_TRUE(e.OpenDecoders.Empty());
    }
}

TEST_F(TranscodeTest, ACopyTakesTheGivenAspectRatio)
{
    MediaRecipe recipe;
    recipe.seconds = 0.2;
    recipe.video = VideoTrack{"mpeg4", 720, 576, 25};
    WriteMediaFile(dir.File("pal.avi"), recipe);
    ASSERT_TRUE(Convert(dir.File("pal.avi"), dir.File("wide.mkv"), "", "aspect=16:9\nvcodec=copy"))
        << engine.ErrorMessage;
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(dir.File("wide.mkv")));
    const AVRational sar = probe.FormatContext()->streams[0]->sample_aspect_ratio;
    EXPECT_EQ(sar.num, 64);
    EXPECT_EQ(sar.den, 45);
}

TEST_F(TranscodeTest, ReportsBeforeAnyTimeHasPassedUseTheSmallestTime)
{
    WriteSineMp3(dir.File("in.mp3"), 1.0);
    std::vector<int> durations;
    engine.ProgressCallback = [&](TCustomFFmpeg *, int, int, int duration, float, float, int64_t, int) {
        durations.push_back(duration);
    };
    ASSERT_TRUE(Convert(dir.File("in.mp3"), dir.File("out.mp3"), "", "acodec=copy\naframes=0")) << engine.ErrorMessage;
    ASSERT_EQ(durations.size(), 1u);
    EXPECT_EQ(durations[0], 10);
}

TEST_F(TranscodeTest, TimestampJumpsAreSmoothedUnlessTimestampsAreCopied)
{
    const std::string input = PcmWithAJump("jump.mka", 2.0, 1.0, 20 * 44100);
    for (bool copyTimestamps : {false, true}) {
        CallbackRecorder r;
        TCustomFFmpeg e;
        e.InitializeJob();
        r.Attach(e);
        if (copyTimestamps)
            e.SetOption("copyts", "");
        ASSERT_TRUE(e.AddInputFile(input));
        e.ParseOptionLines("acodec=copy\nv=3");
        ASSERT_TRUE(e.AddOutputFile(dir.File(copyTimestamps ? "copied.mka" : "smooth.mka")));
        e.Start(false, tpNormal);
        e.SetVerbose(1);
        ASSERT_EQ(e.ErrorMessage, "");
        int jumps = 0;
        for (const LogLine &line : r.Lines())
            jumps += line.text.rfind("timestamp discontinuity ", 0) == 0;
        EXPECT_EQ(jumps, copyTimestamps ? 0 : 1);
        TAVProbe probe;
        ASSERT_TRUE(probe.LoadFile(dir.File(copyTimestamps ? "copied.mka" : "smooth.mka")));
        TAVFormatInfo info;
        probe.GetFormatInfo(info);
        EXPECT_NEAR(info.Duration / 1e6, copyTimestamps ? 22.0 : 2.0, 0.1);
    }
}

TEST_F(TranscodeTest, TwoOutputsOfOneKindShareTheLastInputStream)
{
    WriteSineWav(dir.File("in.wav"), 0.2);
    ASSERT_TRUE(engine.AddInputFile(dir.File("in.wav")));
    ASSERT_TRUE(engine.AddOutputFile(dir.File("out.mka")));
    engine.SetOption("acodec", "pcm_s16le");
    engine.SetOption("newaudio", "");
    engine.Start(false, tpNormal);
    ASSERT_EQ(engine.ErrorMessage, "");
    const auto lines = recorder.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), LogLine{1, "  Stream #0.0 -> #0.0"}), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), LogLine{1, "  Stream #0.0 -> #0.1"}), lines.end());
    EXPECT_EQ(Read(dir.File("out.mka")).packets.size(), 2u);
}

TEST_F(TranscodeTest, EncoderOptionsOfTheirOwnReachTheEncoder)
{
    WriteSineWav(dir.File("in.wav"), 0.3);
    for (const char *value : {"0", "maybe"}) {
        TCustomFFmpeg e;
        e.InitializeJob();
        ASSERT_TRUE(e.SetCodecOption("reservoir", value)); // an option of the MP3 encoder only
        EXPECT_EQ(e.CodecPrivateOptions, (std::vector<std::pair<std::string, std::string>>{{"reservoir", value}}));
        ASSERT_TRUE(e.AddInputFile(dir.File("in.wav")));
        ASSERT_TRUE(e.AddOutputFile(dir.File("out.mp3")));
        e.Start(false, tpNormal);
        EXPECT_EQ(e.ErrorMessage, "") << value; // a value the encoder refuses is left out
        EXPECT_EQ(e.Finished, 1);
    }
    TCustomFFmpeg svcd;
    svcd.InitializeJob();
    svcd.SetTarget("svcd", "pal", "ntsc");
    EXPECT_EQ(svcd.CodecPrivateOptions, (std::vector<std::pair<std::string, std::string>>{{"scan_offset", "1"}}));
}

TEST_F(TranscodeTest, ARunThatWritesNoSoundFailsAndSaysWhy)
{
    // MP3 in a WAV file whose frames are all damaged: every packet fails to decode.
    MediaRecipe recipe;
    recipe.format = "wav";
    recipe.audio = AudioTrack{"libmp3lame", 44100, 2};
    WriteMediaFile(dir.File("damaged.wav"), recipe);
    {
        std::fstream file(dir.File("damaged.wav"), std::ios::in | std::ios::out | std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const size_t data = bytes.find("data");
        ASSERT_NE(data, std::string::npos);
        for (size_t i = data + 8; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>((i * 7919) >> 3);
        file.seekp(0);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    WriteSineWav(dir.File("tone.wav"), 1.0);

    struct Case {
        std::string input, inputOptions, output;
        std::string message;
        std::string outputOptions;
    };
    const Case cases[] = {
        {dir.File("damaged.wav"), "", "out.mp3", "no audio could be decoded from '" + dir.File("damaged.wav") + "'"},
        {dir.File("tone.wav"), "ss=5", "late.mp3",
         "no audio in '" + dir.File("tone.wav") + "' after the start time (5.000 s)"},
        {dir.File("tone.wav"), "ss=5", "late.wav",
         "no audio in '" + dir.File("tone.wav") + "' after the start time (5.000 s)"},
        {dir.File("tone.wav"), "", "gated.wav", // a start time given for the output
         "no audio in '" + dir.File("tone.wav") + "' after the start time (2.500 s)", "ss=2.5"},
        {dir.File("tone.wav"), "", "tiny.wav", // a size limit the header alone passes
         "no audio of '" + dir.File("tone.wav") + "' fits in the size limit of 40 bytes", "fs=40"},
    };
    for (const Case &c : cases) {
        engine.InitializeJob();
        EXPECT_FALSE(Convert(c.input, dir.File(c.output), c.inputOptions, c.outputOptions)) << c.output;
        EXPECT_EQ(engine.ErrorMessage, c.message);
    }
    // A start inside the file still converts what follows it.
    engine.InitializeJob();
    EXPECT_TRUE(Convert(dir.File("tone.wav"), dir.File("tail.wav"), "ss=0.5")) << engine.ErrorMessage;
    EXPECT_NEAR(static_cast<double>(DecodeAudio(dir.File("tail.wav")).Frames()), 22050.0, 1200.0);
}

namespace {

// The bit rate of an MP3 file's first frame after its header frame.
int WrittenKbps(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    std::span<const uint8_t> rest = std::span<const uint8_t>(bytes).subspan(mp3::LeadingTagSize(bytes));
    const std::optional<mp3::TFrameHeader> info = mp3::ParseHeader(rest);
    const std::optional<mp3::TFrameHeader> first = info ? mp3::ParseHeader(rest.subspan(info->FrameBytes)) : info;
    return first ? first->BitrateKbps : 0;
}

} // namespace

// The MP3 encoder writes only the constant rates of its MPEG version, the nearest to the one asked:
// the engine notes the rate its frames have. Variable and average rates take any value.
TEST_F(TranscodeTest, AnMp3RateItsMpegVersionLacksIsNotedWithTheRateWritten)
{
    WriteSineWav(dir.File("in.wav"), 0.5, 44100, 1);
    for (const int rate : {44100, 22050, 11025})
        for (const int asked : {8, 144, 150, 320}) {
            SCOPED_TRACE(FormatText("%d kbit/s at %d Hz", asked, rate));
            engine.InitializeJob();
            ASSERT_TRUE(
                Convert(dir.File("in.wav"), dir.File("out.mp3"), "", FormatText("ab=%d\nar=%d", asked * 1000, rate)));
            const int written = WrittenKbps(dir.File("out.mp3"));
            EXPECT_EQ(mp3::EncoderBitrateKbps(asked, rate), written);
            EXPECT_EQ(engine.SettingNotes,
                      written == asked ? std::vector<std::string>{}
                                       : std::vector<std::string>{FormatText(
                                             "%d kbit/s is not an MP3 rate at %d Hz; %d used", asked, rate, written)});
        }
    for (const char *anyRate : {"aq=2", "ab=144000\nabr=1"}) {
        engine.InitializeJob();
        ASSERT_TRUE(Convert(dir.File("in.wav"), dir.File("out.mp3"), "", anyRate));
        EXPECT_TRUE(engine.SettingNotes.empty()) << anyRate;
    }
}
