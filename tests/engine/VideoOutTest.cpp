// Video conversions from end to end: re-encoding, disc targets, crop/pad/scale, frame-rate
// conversion and the frame hooks, checked by decoding what was written.
#include "libs/TextFormat.h"
#include "tests/engine/OptionsFixture.h"
#include "tests/support/HookJournal.h"
#include "tests/support/MediaFixtures.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <stdexcept>

using avlib::FormatText;

using namespace avlib;
using namespace testing_support;

namespace {

class VideoOutTest : public OptionsTest {
protected:
    std::string MakeVideo(const std::string &name, VideoTrack track, double seconds = 2.0,
                          const std::string &format = "")
    {
        MediaRecipe recipe;
        recipe.format = format;
        recipe.seconds = seconds;
        recipe.video = track;
        WriteMediaFile(dir.File(name), recipe);
        return dir.File(name);
    }

    static double MeanLuma(const DecodedVideo &video, size_t frame)
    {
        double sum = 0;
        for (int y = 0; y < video.height; ++y)
            for (int x = 0; x < video.width; ++x) {
                const unsigned char *p = video.Pixel(frame, x, y);
                sum += 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
            }
        return sum / (static_cast<double>(video.width) * video.height);
    }

    static bool Near(const unsigned char *pixel, const unsigned char *rgb, int tolerance)
    {
        for (int c = 0; c < 3; ++c)
            if (std::abs(pixel[c] - rgb[c]) > tolerance)
                return false;
        return true;
    }

    TempDir dir;
};

struct ReencodeCase {
    const char *name;
    const char *inputFormat;
    const char *inputCodec;
    const char *outputName;
    const char *options;
    int width, height;
    double rate;
    double frameTolerance; // a changed rate may lag the input by up to 1.1 frames before a duplicate
};

TEST_F(VideoOutTest, ATestPatternReencodedOpensAgainWithTheExpectedFramesSizeAndRate)
{
    const ReencodeCase cases[] = {
        {"mpeg4 avi to mpeg4 avi", "avi", "mpeg4", "out.avi", "vcodec=mpeg4", 320, 240, 25, 1.0},
        {"h264 mp4 to mpeg4 avi", "mp4", "libx264", "out2.avi", "vcodec=mpeg4", 320, 240, 25, 1.0},
        {"to pal-vcd", "avi", "mpeg4", "out.mpg", "target=pal-vcd", 352, 288, 25, 1.0},
        {"to ntsc-dvd", "mp4", "libx264", "out.vob", "target=ntsc-dvd", 720, 480, 30000.0 / 1001, 2.0},
    };
    for (const ReencodeCase &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        VideoTrack track;
        track.codec = c.inputCodec;
        track.width = 320;
        track.height = 240;
        const std::string input = MakeVideo(std::string("in.") + c.inputFormat, track, 5.0, c.inputFormat);
        ASSERT_TRUE(Convert(input, dir.File(c.outputName), "", c.options)) << engine.ErrorMessage;
        const DecodedVideo in = DecodeVideo(input), out = DecodeVideo(dir.File(c.outputName));
        EXPECT_EQ(out.width, c.width);
        EXPECT_EQ(out.height, c.height);
        ASSERT_FALSE(out.seconds.empty());
        ASSERT_FALSE(in.seconds.empty());
        const double inputSpan = in.seconds.back() - in.seconds.front() + 1.0 / 25;
        EXPECT_NEAR(static_cast<double>(out.frames.size()), inputSpan * c.rate, c.frameTolerance);
        const double outputSpan = out.seconds.back() - out.seconds.front() + 1.0 / c.rate;
        EXPECT_NEAR(outputSpan, inputSpan, c.frameTolerance / c.rate);
        if (out.frameRate > 0)
            EXPECT_NEAR(out.frameRate, c.rate, 0.01);
        engine.ReleaseJob();
    }
}

TEST_F(VideoOutTest, CropPadAndScalePutTheColourBandsWhereTheyBelong)
{
    VideoTrack track;
    track.width = 320;
    track.height = 240;
    track.pattern = VideoPattern::Bands;
    const std::string input = MakeVideo("bands.avi", track, 0.4, "avi");
    // Crop 8 on every side, pad 16 in blue ($BBGGRR): 304x224 inside a 336x256 picture.
    ASSERT_TRUE(Convert(input, dir.File("padded.avi"), "",
                        "croptop=8\ncropbottom=8\ncropleft=8\ncropright=8\npadtop=16\npadbottom=16\npadleft=16\n"
                        "padright=16\npadcolor=$FF0000\nvcodec=mpeg4\nqscale=2"))
        << engine.ErrorMessage;
    const DecodedVideo padded = DecodeVideo(dir.File("padded.avi"));
    ASSERT_EQ(padded.width, 336);
    ASSERT_EQ(padded.height, 256);
    ASSERT_FALSE(padded.frames.empty());
    const unsigned char blue[3] = {0, 0, 255};
    for (const auto &[x, y] : {std::pair{4, 128}, {331, 128}, {168, 4}, {168, 251}})
        EXPECT_TRUE(Near(padded.Pixel(0, x, y), blue, 40)) << "border at " << x << "," << y;
    // Band k ran over columns 40k..40k+39; cropping moves it 8 left, padding 16 right.
    for (int k = 0; k < kBandCount; ++k) {
        const int x = 40 * k + 28;
        for (int y : {24, 128, 230})
            EXPECT_TRUE(Near(padded.Pixel(0, x, y), kBandColours[k], 40)) << "band " << k << " row " << y;
    }

    SetUp();
    ASSERT_TRUE(Convert(input, dir.File("scaled.avi"), "", "s=160x120\nvcodec=mpeg4\nqscale=2")) << engine.ErrorMessage;
    const DecodedVideo scaled = DecodeVideo(dir.File("scaled.avi"));
    ASSERT_EQ(scaled.width, 160);
    ASSERT_EQ(scaled.height, 120);
    for (int k = 0; k < kBandCount; ++k)
        EXPECT_TRUE(Near(scaled.Pixel(0, 20 * k + 10, 60), kBandColours[k], 40)) << "scaled band " << k;
}

struct SyncCase {
    int inputRate;
    const char *options;
    int expectedFrames;
    double frameTolerance;
    bool dupsExpected, dropsExpected;
    bool stampsFollowInput; // each output frame sits at its input frame's time
};

TEST_F(VideoOutTest, FrameRateConversionDuplicatesDropsOrFollowsTheInputByTheSyncMethod)
{
    const SyncCase cases[] = {
        {25, "r=30\nvsync=-1", 60, 2, true, false, false},
        {25, "r=30\nvsync=1", 60, 2, true, false, false},
        {25, "r=30\nvsync=0", 50, 0, false, false, true},
        {25, "r=30\nvsync=2", 50, 0, false, false, true},
        {30, "r=25\nvsync=1", 50, 2, false, true, false},
        {30, "r=25\nvsync=-1", 50, 2, false, true, false},
        // Two pictures on one tick: the encoder takes the first.
        {30, "r=25\nvsync=0", 50, 0, false, true, true},
        {25, "r=90000\nvsync=-1\nvcodec=libx264", 50, 0, false, false, true},
    };
    for (const SyncCase &c : cases) {
        SCOPED_TRACE(c.options);
        SetUp();
        VideoTrack track;
        track.frameRate = c.inputRate;
        track.pattern = VideoPattern::Counter;
        const std::string input = MakeVideo(FormatText("in%d.mkv", c.inputRate), track, 2.0, "matroska");
        const std::string output = dir.File("out.mkv");
        std::string options = c.options;
        if (options.find("vcodec") == std::string::npos)
            options += "\nvcodec=mpeg4\nqscale=2";
        ASSERT_TRUE(Convert(input, output, "", options)) << engine.ErrorMessage;
        const DecodedVideo out = DecodeVideo(output);
        EXPECT_NEAR(static_cast<double>(out.frames.size()), c.expectedFrames, c.frameTolerance);
        EXPECT_EQ(engine.FramesDup > 0, c.dupsExpected) << engine.FramesDup;
        EXPECT_EQ(engine.FramesDrop > 0, c.dropsExpected) << engine.FramesDrop;
        if (c.dupsExpected) {
            // Each duplicate counts the picture's two emissions, and a picture never repeats more.
            EXPECT_EQ(engine.FramesDup % 2, 0);
            EXPECT_NEAR(engine.FramesDup / 2.0, c.expectedFrames - 2.0 * c.inputRate, c.frameTolerance);
        }
        if (c.dropsExpected)
            EXPECT_NEAR(engine.FramesDrop, 2.0 * c.inputRate - c.expectedFrames, c.frameTolerance);
        int previous = -1;
        for (size_t i = 0; i < out.frames.size(); ++i) {
            const int shown =
                ReadCounter(&out.frames[i][static_cast<size_t>(out.width) * 3 * (out.height / 2)], out.width);
            EXPECT_GE(shown, previous) << "frame " << i; // pictures keep their order
            previous = shown;
            if (c.stampsFollowInput)
                EXPECT_NEAR(out.seconds[i], static_cast<double>(shown) / c.inputRate, 1.0 / 30 + 1e-3) << "frame " << i;
        }
    }
}

TEST_F(VideoOutTest, AStopDuringALongDuplicationEndsItAfterTheCurrentFrame)
{
    VideoTrack track;
    track.frameRate = 1;
    const std::string input = MakeVideo("slow.mkv", track, 5.0, "matroska");
    engine.ParseOptionLines(std::string("vhook=") + RECORDING_HOOK + " -mul 1");
    int pictures = 0;
    engine.BeforeHookCallback = [&](TCustomFFmpeg *running, THookAction &, int64_t) {
        if (++pictures == 3)
            running->RequestStop();
    };
    EXPECT_FALSE(Convert(input, dir.File("fast.mkv"), "", "r=50\nvsync=1\nvcodec=mpeg4"));
    EXPECT_EQ(pictures, 3);
    // The first picture once, the second 49 times to fill its second; the third, due 50 times,
    // is stopped before its first frame is out.
    EXPECT_EQ(DecodeVideo(dir.File("fast.mkv")).frames.size(), 50u);
}

TEST_F(VideoOutTest, AnEncoderThatRefusesToOpenFailsTheRunAndSaysWhy)
{
    const std::string input = MakeVideo("in.mkv", VideoTrack{}, 0.4, "matroska");
    // The JPEG encoder takes limited-range pictures only when told to be lax.
    EXPECT_FALSE(Convert(input, dir.File("out.mkv"), "", "vcodec=mjpeg"));
    EXPECT_NE(engine.ErrorMessage.find("Error while opening codec for output stream #0.0"), std::string::npos)
        << engine.ErrorMessage;
}

// Frames whose picture is one flat grey: what the test plug-in's "-set" leaves.
std::vector<bool> FlatFrames(const DecodedVideo &video)
{
    std::vector<bool> flat;
    for (size_t f = 0; f < video.frames.size(); ++f) {
        const auto [low, high] = std::minmax_element(video.frames[f].begin(), video.frames[f].end());
        flat.push_back(*high - *low < 8);
    }
    return flat;
}

// Grey pictures, so that a plug-in that sets the luma plane leaves one flat grey.
VideoTrack GreyCounter()
{
    VideoTrack track;
    track.pattern = VideoPattern::Counter;
    return track;
}

TEST_F(VideoOutTest, PluginHooksActOnlyInsideTheTimeRangesAndStopAfterTheLast)
{
    const std::string input = MakeVideo("in.mkv", GreyCounter(), 2.0, "matroska");
    engine.ParseOptionLines(std::string("vhook=") + RECORDING_HOOK + " -set 200");
    engine.SetHookRanges({{0, 400000}, {1000000, 1400000}});
    ASSERT_TRUE(Convert(input, dir.File("out.mkv"), "", "vcodec=ffv1")) << engine.ErrorMessage;
    const std::vector<bool> flat = FlatFrames(DecodeVideo(dir.File("out.mkv")));
    ASSERT_EQ(flat.size(), 50u);
    for (size_t i = 0; i < flat.size(); ++i) {
        const double t = static_cast<double>(i) / 25;
        const bool inside = t <= 0.4 + 1e-9 || (t >= 1.0 - 1e-9 && t <= 1.4 + 1e-9);
        EXPECT_EQ(flat[i], inside) << "frame " << i;
    }
    EXPECT_EQ(engine.HookAction, haStop);
    EXPECT_EQ(engine.UsingVhook, 0);
}

TEST_F(VideoOutTest, TheBeforeHookDecidesFrameByFrameUntilItStopsOrRaises)
{
    const std::string input = MakeVideo("in.mkv", GreyCounter(), 1.0, "matroska");
    struct Case {
        const char *name;
        bool raises;
    };
    for (const Case c : {Case{"ignore odd frames, stop at 10", false}, Case{"raises at 10", true}}) {
        SCOPED_TRACE(c.name);
        SetUp();
        engine.ParseOptionLines(std::string("vhook=") + RECORDING_HOOK + " -set 200");
        int calls = 0;
        std::vector<THookAction> seenOnEntry;
        engine.BeforeHookCallback = [&](TCustomFFmpeg *, THookAction &action, int64_t) {
            seenOnEntry.push_back(action);
            const int frame = calls++;
            if (frame == 10) {
                if (c.raises)
                    throw std::runtime_error("no more");
                action = haStop;
            } else {
                action = frame % 2 ? haIgnore : haContinue;
            }
        };
        ASSERT_TRUE(Convert(input, dir.File("out.mkv"), "", "vcodec=ffv1")) << engine.ErrorMessage;
        const std::vector<bool> flat = FlatFrames(DecodeVideo(dir.File("out.mkv")));
        ASSERT_EQ(flat.size(), 25u);
        for (size_t i = 0; i < flat.size(); ++i)
            EXPECT_EQ(flat[i], i < 10 && i % 2 == 0) << "frame " << i;
        EXPECT_EQ(calls, 11); // never asked again once stopped
        ASSERT_GE(seenOnEntry.size(), 3u);
        EXPECT_EQ(seenOnEntry[0], haContinue);
        EXPECT_EQ(seenOnEntry[2], haIgnore); // the previous frame's answer
        EXPECT_EQ(recorder.HasLine("Error occurs OnBeforeHook: no more"), c.raises);
    }
}

TEST_F(VideoOutTest, TheCustomHookPaintsKeepsOrStopsByItsAnswers)
{
    VideoTrack track;
    track.pattern = VideoPattern::Counter;
    const std::string input = MakeVideo("in.mkv", track, 1.0, "matroska");
    enum Mode { Paint, NoUpdate, Raise, StopAt5 };
    for (const Mode mode : {Paint, NoUpdate, Raise, StopAt5}) {
        SCOPED_TRACE(mode);
        SetUp();
        int calls = 0;
        std::vector<int> frameNumbers;
        engine.CustomHookCallback = [&](TCustomFFmpeg *, TBitmap24 *bitmap, int frameNumber, int64_t, bool &update,
                                        bool &stop) {
            ++calls;
            frameNumbers.push_back(frameNumber);
            EXPECT_TRUE(update);
            EXPECT_FALSE(stop);
            if (mode == Raise)
                throw std::runtime_error("boom");
            // Red in blue-green-red order, on every pixel.
            for (int y = 0; y < bitmap->Height(); ++y)
                for (int x = 0; x < bitmap->Width(); ++x) {
                    uint8_t *pixel = bitmap->ScanLine(y) + 3 * x;
                    pixel[0] = 0, pixel[1] = 0, pixel[2] = 255;
                }
            update = mode != NoUpdate;
            stop = mode == StopAt5 && calls == 5;
        };
        const size_t linesBefore = recorder.Lines().size();
        ASSERT_TRUE(Convert(input, dir.File("out.mkv"), "", "vcodec=ffv1")) << engine.ErrorMessage;
        const DecodedVideo out = DecodeVideo(dir.File("out.mkv"));
        ASSERT_EQ(out.frames.size(), 25u);
        const unsigned char red[3] = {255, 0, 0};
        for (size_t i = 0; i < out.frames.size(); ++i) {
            const bool painted = mode == Paint || (mode == StopAt5 && i < 5);
            const unsigned char *middle = out.Pixel(i, out.width / 2, out.height / 2);
            EXPECT_EQ(Near(middle, red, 12), painted) << "frame " << i;
            if (!painted)
                EXPECT_EQ(ReadCounter(&out.frames[i][static_cast<size_t>(out.width) * 3 * (out.height / 2)], out.width),
                          static_cast<int>(i));
        }
        EXPECT_EQ(calls, mode == StopAt5 ? 5 : 25);
        ASSERT_FALSE(frameNumbers.empty());
        EXPECT_EQ(frameNumbers.front(), 1);
        size_t raisedLines = 0;
        const auto lines = recorder.Lines();
        for (size_t i = linesBefore; i < lines.size(); ++i)
            raisedLines += lines[i].level == 0 && lines[i].text == "Error occurs OnCustomHook: boom";
        EXPECT_EQ(raisedLines, mode == Raise ? 25u : 0u);
        EXPECT_EQ(static_cast<bool>(engine.CustomHookCallback), mode != StopAt5);
    }
}

// The subtitle packets of a file: presentation times and durations in seconds.
struct SubtitlePackets {
    std::vector<double> starts, durations;
};
SubtitlePackets ReadSubtitlePackets(const std::string &path)
{
    SubtitlePackets result;
    AVFormatContext *opened = nullptr;
    if (avformat.avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << path;
        return result;
    }
    InputFormatContextPtr file(opened);
    avformat.avformat_find_stream_info(opened, nullptr);
    AVPacketPtr packet(avcodec.av_packet_alloc());
    while (avformat.av_read_frame(opened, packet.get()) >= 0) {
        const AVStream *stream = opened->streams[packet->stream_index];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) {
            const double base = static_cast<double>(stream->time_base.num) / stream->time_base.den;
            result.starts.push_back(static_cast<double>(packet->pts) * base);
            result.durations.push_back(static_cast<double>(packet->duration) * base);
        }
        avcodec.av_packet_unref(packet.get());
    }
    return result;
}

TEST_F(VideoOutTest, TextSubtitlesAreReencodedOnePacketEachWithTheirTimes)
{
    const std::string input = dir.File("in.srt");
    std::ofstream(input) << "1\n00:00:01,000 --> 00:00:02,500\nfirst line\n\n"
                         << "2\n00:00:03,000 --> 00:00:04,000\nsecond line\n\n"
                         << "3\n00:00:05,250 --> 00:00:06,000\nthird line\n";
    ASSERT_TRUE(Convert(input, dir.File("out.ass"), "", "scodec=ass")) << engine.ErrorMessage;
    const SubtitlePackets out = ReadSubtitlePackets(dir.File("out.ass"));
    ASSERT_EQ(out.starts.size(), 3u);
    const double starts[] = {1.0, 3.0, 5.25}, durations[] = {1.5, 1.0, 0.75};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(out.starts[i], starts[i], 0.011) << i;
        EXPECT_NEAR(out.durations[i], durations[i], 0.011) << i;
    }
}

TEST_F(VideoOutTest, DvbSubtitlesGetAPacketToShowAndOneToClear)
{
    // Three bitmap subtitles one second apart, shown for 800 ms, written with the DVB encoder.
    const std::string input = dir.File("in.ts");
    {
        AVFormatContext *raw = nullptr;
        ASSERT_GE(avformat.avformat_alloc_output_context2(&raw, nullptr, "mpegts", input.c_str()), 0);
        OutputFormatContextPtr output(raw);
        const AVCodec *codec = avcodec.avcodec_find_encoder(AV_CODEC_ID_DVB_SUBTITLE);
        ASSERT_NE(codec, nullptr);
        AVCodecContextPtr encoder(avcodec.avcodec_alloc_context3(codec));
        encoder->time_base = AVRational{1, 90000};
        encoder->width = 720;
        encoder->height = 576;
        ASSERT_GE(avcodec.avcodec_open2(encoder.get(), codec, nullptr), 0);
        AVStream *stream = avformat.avformat_new_stream(raw, nullptr);
        ASSERT_GE(avcodec.avcodec_parameters_from_context(stream->codecpar, encoder.get()), 0);
        stream->time_base = AVRational{1, 90000};
        ASSERT_GE(avformat.avio_open2(&raw->pb, input.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr), 0);
        ASSERT_GE(avformat.avformat_write_header(raw, nullptr), 0);
        uint8_t pixels[16 * 8];
        for (size_t i = 0; i < sizeof pixels; ++i)
            pixels[i] = static_cast<uint8_t>(i % 4);
        uint32_t palette[4] = {0x00000000, 0xFFFFFFFF, 0xFF000000, 0xFFFF0000};
        for (int k = 0; k < 3; ++k) {
            AVSubtitleRect rect{};
            rect.x = 100, rect.y = 400, rect.w = 16, rect.h = 8, rect.nb_colors = 4;
            rect.type = SUBTITLE_BITMAP;
            rect.data[0] = pixels;
            rect.linesize[0] = 16;
            rect.data[1] = reinterpret_cast<uint8_t *>(palette);
            rect.linesize[1] = 16;
            AVSubtitleRect *rects[1] = {&rect};
            AVSubtitle subtitle{};
            subtitle.start_display_time = 0;
            subtitle.end_display_time = 800;
            subtitle.num_rects = 1;
            subtitle.rects = rects;
            subtitle.pts = (k + 1) * int64_t{AV_TIME_BASE};
            uint8_t buffer[65536];
            const int size = avcodec.avcodec_encode_subtitle(encoder.get(), buffer, sizeof buffer, &subtitle);
            ASSERT_GT(size, 0);
            AVPacketPtr packet(avcodec.av_packet_alloc());
            ASSERT_GE(avcodec.av_new_packet(packet.get(), size), 0);
            std::copy_n(buffer, size, packet->data);
            packet->pts = packet->dts = (k + 1) * int64_t{90000};
            packet->stream_index = 0;
            ASSERT_GE(avformat.av_interleaved_write_frame(raw, packet.get()), 0);
        }
        ASSERT_GE(avformat.av_write_trailer(raw), 0);
    }
    ASSERT_TRUE(Convert(input, dir.File("out.ts"), "", "scodec=dvbsub")) << engine.ErrorMessage;
    const SubtitlePackets in = ReadSubtitlePackets(input), out = ReadSubtitlePackets(dir.File("out.ts"));
    ASSERT_EQ(in.starts.size(), 3u);
    // Each page stays up until its time-out (30 s here), so the next page replaces it before its
    // clearing packet would be due: shown three times, cleared once after the last.
    ASSERT_EQ(out.starts.size(), 4u);
    // (The muxer may move the whole stream by a constant.)
    for (size_t k = 1; k < 3; ++k)
        EXPECT_NEAR(out.starts[k] - out.starts[0], in.starts[k] - in.starts[0], 1e-3) << k;
    EXPECT_NEAR(out.starts[3], out.starts[2] + 30.0, 1e-3);
}

TEST_F(VideoOutTest, AFilterChainChangesThePicturesOnTheirWayToTheEncoder)
{
    VideoTrack track;
    track.pattern = VideoPattern::Bands;
    const std::string input = MakeVideo("bands.mkv", track, 0.4, "matroska");
    ASSERT_TRUE(Convert(input, dir.File("flipped.mkv"), "", "vfilters=hflip\nvcodec=ffv1")) << engine.ErrorMessage;
    const DecodedVideo flipped = DecodeVideo(dir.File("flipped.mkv"));
    ASSERT_EQ(flipped.frames.size(), 10u);
    for (size_t f : {size_t{0}, flipped.frames.size() - 1})
        for (int k = 0; k < kBandCount; ++k)
            EXPECT_TRUE(Near(flipped.Pixel(f, flipped.width - 1 - (20 * k + 10), 60), kBandColours[k], 24))
                << "frame " << f << " band " << k;
}

TEST_F(VideoOutTest, APictureSizeChangeInMidStreamIsScaledOrLeftOutButNeverOverruns)
{
    // Two H.264 streams of different sizes, one after the other in one elementary stream file.
    VideoTrack small, large;
    small.codec = large.codec = "libx264";
    small.width = 160, small.height = 120;
    large.width = 320, large.height = 240;
    const std::string first = MakeVideo("small.h264", small, 1.0, "h264");
    const std::string second = MakeVideo("large.h264", large, 1.0, "h264");
    const std::string joined = dir.File("joined.h264");
    {
        std::ofstream out(joined, std::ios::binary);
        out << std::ifstream(first, std::ios::binary).rdbuf() << std::ifstream(second, std::ios::binary).rdbuf();
    }
    ASSERT_TRUE(Convert(joined, dir.File("scaled.mkv"), "", "vcodec=ffv1")) << engine.ErrorMessage;
    const DecodedVideo scaled = DecodeVideo(dir.File("scaled.mkv"));
    EXPECT_EQ(scaled.width, 160);
    EXPECT_EQ(scaled.height, 120);
    EXPECT_NEAR(static_cast<double>(scaled.frames.size()), 50.0, 2.0);

    SetUp();
    ASSERT_TRUE(Convert(joined, dir.File("filtered.mkv"), "", "vfilters=hflip\nvcodec=ffv1")) << engine.ErrorMessage;
    EXPECT_NEAR(static_cast<double>(DecodeVideo(dir.File("filtered.mkv")).frames.size()), 25.0, 2.0);
    EXPECT_TRUE(
        recorder.HasLine("picture of 320x240 in a stream of 160x120 left out: the filter chain takes one size"));
}

TEST_F(VideoOutTest, DamagedVideoConvertsAsFarAsItGoesWithoutHarm)
{
    VideoTrack track;
    track.codec = "libx264";
    const std::string clean = MakeVideo("clean.mp4", track, 1.0, "mp4");
    std::ifstream in(clean, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 4096u);
    // Runs of overwritten bytes at spread positions, the header left intact so the file still opens.
    for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        SetUp();
        std::string damaged = bytes;
        unsigned state = seed * 2654435761u;
        for (int run = 0; run < 8; ++run) {
            state = state * 1103515245u + 12345u;
            const size_t at = 1024 + state % (damaged.size() - 1100);
            for (size_t i = 0; i < 24; ++i)
                damaged[at + i] = static_cast<char>((state >> (i % 24)) & 0xFF);
        }
        const std::string path = dir.File("damaged.mp4");
        std::ofstream(path, std::ios::binary | std::ios::trunc) << damaged;
        // Refused, finished or a stated failure; the sanitizers judge the rest.
        if (!engine.AddInputFile(path)) {
            EXPECT_FALSE(engine.LastErrorText.empty());
            continue;
        }
        engine.ParseOptionLines("vcodec=mpeg4\nvfilters=hflip");
        ASSERT_TRUE(engine.AddOutputFile(dir.File("out.mkv"))) << engine.LastErrorText;
        engine.Start(false, tpNormal);
        if (!engine.Finished)
            EXPECT_FALSE(engine.ErrorMessage.empty());
        engine.ReleaseJob();
    }
}

} // namespace

// The last picture is in the file whatever the container (an MP4's track ends at its last picture).
TEST_F(VideoOutTest, EveryPictureReachesTheContainer)
{
    const std::string input = MakeVideo("in.mkv", VideoTrack{}, 2.0, "matroska");
    for (const char *output : {"out.mp4", "out.avi", "out.mkv"}) {
        ASSERT_EQ(ConvertAlone(input, dir.File(output), {{"vcodec", "mpeg4"}}), "");
        EXPECT_EQ(DecodeVideo(dir.File(output)).frames.size(), 50u) << output;
    }
}
