// The probe's preview: seeking its own file and decoding single pictures into a BGR bitmap.
#include "engine/FFmpeg.h"
#include "engine/FFmpegThread.h"
#include "libs/AVDeleters.h"
#include "libs/AVEntryPoints.h"
#include "libs/LibraryLock.h"
#include "probe/AVProbe.h"
#include "tests/support/LibraryLogCapture.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

using namespace avlib;
using namespace testing_support;

namespace {

constexpr int kWidth = 160, kHeight = 120, kRate = 25;

VideoTrack Track(const std::string &codec)
{
    VideoTrack track;
    track.codec = codec;
    track.width = kWidth;
    track.height = kHeight;
    track.frameRate = kRate;
    return track;
}

class ProbePreviewTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureLibrariesLoaded(); }

    std::string Video(const std::string &name, const std::string &codec, VideoPattern pattern, double seconds = 4.0,
                      const std::string &format = "", const std::string &pixelFormat = "")
    {
        MediaRecipe recipe;
        recipe.format = format;
        recipe.seconds = seconds;
        recipe.video = Track(codec);
        recipe.video->pattern = pattern;
        recipe.video->pixelFormat = pixelFormat;
        const std::string path = dir.File(name);
        WriteMediaFile(path, recipe);
        return path;
    }

    std::string CounterVideo(const std::string &name, const std::string &codec = "mpeg4", double seconds = 4.0)
    {
        return Video(name, codec, VideoPattern::Counter, seconds);
    }

    TempDir dir;
    TAVProbe probe;
};

// The number a Counter picture shows, read from its middle row.
int Counter(const TBitmap24 &bitmap)
{
    if (bitmap.Empty())
        return -1;
    return ReadCounter(bitmap.ScanLine(bitmap.Height() / 2), bitmap.Width());
}

bool AllBlack(const TBitmap24 &bitmap)
{
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t *row = bitmap.ScanLine(y);
        if (std::any_of(row, row + bitmap.Width() * 3, [](uint8_t byte) { return byte != 0; }))
            return false;
    }
    return true;
}

bool Logged(const LibraryLogCapture &log, int level, const std::string &text)
{
    const auto lines = log.Lines();
    return std::find(lines.begin(), lines.end(), std::make_pair(level, text)) != lines.end();
}

int64_t Microseconds(double seconds) { return static_cast<int64_t>(seconds * 1e6 + 0.5); }

// Largest difference of any colour byte between a BGR bitmap and an RGB picture of the same size.
int LargestDifference(const TBitmap24 &bitmap, const DecodedVideo &video, size_t frame)
{
    int largest = 0;
    for (int y = 0; y < video.height; ++y)
        for (int x = 0; x < video.width; ++x) {
            const uint8_t *bgr = bitmap.ScanLine(y) + x * 3;
            const unsigned char *rgb = video.Pixel(frame, x, y);
            for (int c = 0; c < 3; ++c)
                largest = std::max(largest, std::abs(int(bgr[c]) - int(rgb[2 - c])));
        }
    return largest;
}

// The picture of the video that a BGR bitmap differs least from, on average.
size_t NearestFrame(const TBitmap24 &bitmap, const DecodedVideo &video)
{
    size_t nearest = 0;
    int64_t least = INT64_MAX;
    for (size_t frame = 0; frame < video.frames.size(); ++frame) {
        int64_t sum = 0;
        for (int y = 0; y < video.height; ++y)
            for (int x = 0; x < video.width; ++x)
                for (int c = 0; c < 3; ++c)
                    sum += std::abs(int(bitmap.ScanLine(y)[x * 3 + c]) - int(video.Pixel(frame, x, y)[2 - c]));
        if (sum < least) {
            least = sum;
            nearest = frame;
        }
    }
    return nearest;
}

// Copies the first stream of each input into one output, packets in time order.
void MuxTogether(const std::vector<std::string> &inputs, const std::string &output)
{
    std::vector<InputFormatContextPtr> files;
    AVFormatContext *raw = nullptr;
    ASSERT_GE(avformat.avformat_alloc_output_context2(&raw, nullptr, nullptr, output.c_str()), 0);
    OutputFormatContextPtr out(raw);
    for (const std::string &input : inputs) {
        AVFormatContext *in = nullptr;
        ASSERT_GE(avformat.avformat_open_input(&in, input.c_str(), nullptr, nullptr), 0) << input;
        files.emplace_back(in);
        ASSERT_GE(avformat.avformat_find_stream_info(in, nullptr), 0);
        AVStream *stream = avformat.avformat_new_stream(out.get(), nullptr);
        ASSERT_NE(stream, nullptr);
        ASSERT_GE(avcodec.avcodec_parameters_copy(stream->codecpar, in->streams[0]->codecpar), 0);
        stream->codecpar->codec_tag = 0;
        stream->time_base = in->streams[0]->time_base;
    }
    ASSERT_GE(avformat.avio_open2(&out->pb, output.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr), 0);
    ASSERT_GE(avformat.avformat_write_header(out.get(), nullptr), 0);
    std::vector<AVPacketPtr> next;
    for (size_t i = 0; i < files.size(); ++i)
        next.emplace_back(avcodec.av_packet_alloc());
    std::vector<bool> more(files.size(), true);
    const auto read = [&](size_t i) {
        do
            more[i] = avformat.av_read_frame(files[i].get(), next[i].get()) >= 0;
        while (more[i] && next[i]->stream_index != 0 && (avcodec.av_packet_unref(next[i].get()), true));
    };
    for (size_t i = 0; i < files.size(); ++i)
        read(i);
    for (;;) {
        int earliest = -1;
        for (size_t i = 0; i < files.size(); ++i)
            if (more[i] &&
                (earliest < 0 || avutil.av_compare_ts(next[i]->dts, files[i]->streams[0]->time_base,
                                                      next[earliest]->dts, files[earliest]->streams[0]->time_base) < 0))
                earliest = static_cast<int>(i);
        if (earliest < 0)
            break;
        AVPacket *packet = next[earliest].get();
        avcodec.av_packet_rescale_ts(packet, files[earliest]->streams[0]->time_base, out->streams[earliest]->time_base);
        packet->stream_index = earliest;
        packet->pos = -1;
        ASSERT_GE(avformat.av_interleaved_write_frame(out.get(), packet), 0);
        read(earliest);
    }
    ASSERT_GE(avformat.av_write_trailer(out.get()), 0);
}

} // namespace

TEST_F(ProbePreviewTest, ASeekGivesThePictureAtOrJustBeforeTheTimeAndTheNextCallTheOneAfter)
{
    // Key pictures every 12 pictures; H.264 reorders pictures; Matroska gives no picture durations;
    // an MPEG-TS seek lands on any picture, not only on key ones.
    const std::pair<std::string, std::string> sources[] = {{"mpeg4.avi", "mpeg4"},  {"mpeg4.mp4", "mpeg4"},
                                                           {"h264.mp4", "libx264"}, {"h264.mkv", "libx264"},
                                                           {"h264.ts", "libx264"},  {"mpeg4.ts", "mpeg4"}};
    struct Case {
        double seconds;
        int picture; // shown at that time, 25 per second
    };
    const Case cases[] = {{2.0, 50}, {2.039, 50}, {2.04, 51}, {0.5, 12}, {3.0, 75},
                          {1.0, 25}, {0.01, 0},   {3.96, 99}, {0.2, 5}};
    for (const auto &[name, codec] : sources) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(probe.LoadFile(CounterVideo(name, codec))) << probe.LastErrMsg;
        for (const Case &c : cases) {
            SCOPED_TRACE(c.seconds);
            ASSERT_TRUE(probe.Seek(-1, Microseconds(c.seconds)));
            EXPECT_EQ(Counter(probe.DecodeFrame(-1)), c.picture);
            const TBitmap24 &after = probe.DecodeFrame(0);
            if (c.picture == 99)
                EXPECT_TRUE(AllBlack(after)) << "the end after the last picture";
            else
                EXPECT_EQ(Counter(after), c.picture + 1) << "the picture after it";
        }
    }
}

TEST_F(ProbePreviewTest, SeeksToTheStartAndBeyondTheEnd)
{
    ASSERT_TRUE(probe.LoadFile(CounterVideo("counter.mp4", "libx264"))) << probe.LastErrMsg;
    const std::pair<double, int> cases[] = {{3.0, 75},  {0.0, 0},  {2.0, 50}, {-5.0, 0},
                                            {10.0, 99}, {1e6, 99}, {4.0, 99}, {0.0, 0}};
    for (const auto &[seconds, picture] : cases) {
        ASSERT_TRUE(probe.Seek(-1, Microseconds(seconds)));
        EXPECT_EQ(Counter(probe.DecodeFrame()), picture) << seconds << " s";
    }
}

TEST_F(ProbePreviewTest, APictureAfterASeekIsTheOneAFullDecodeGives)
{
    // A moving picture, so that the encoder uses pictures no other refers to (left undecoded
    // when they come before the target).
    const std::string path = Video("moving.mp4", "libx264", VideoPattern::Gradient, 4.0);
    const DecodedVideo reference = DecodeVideo(path);
    ASSERT_EQ(reference.frames.size(), 100u);
    ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg;
    const std::pair<double, size_t> cases[] = {{2.0, 50},  {0.43, 10}, {3.97, 99}, {3.3, 82},
                                               {60.0, 99}, {4.0, 99},  {0.0, 0},   {1.1, 27}};
    for (const auto &[seconds, frame] : cases) {
        ASSERT_TRUE(probe.Seek(-1, Microseconds(seconds)));
        const TBitmap24 &bitmap = probe.DecodeFrame();
        ASSERT_EQ(bitmap.Width(), kWidth);
        EXPECT_EQ(NearestFrame(bitmap, reference), frame) << seconds << " s";
        EXPECT_LE(LargestDifference(bitmap, reference, frame), 6) << seconds << " s";
    }
}

TEST_F(ProbePreviewTest, AfterTheLastPictureTheBitmapIsBlackAndTheEndIsLogged)
{
    ASSERT_TRUE(probe.LoadFile(CounterVideo("counter.avi", "mpeg4", 1.0))) << probe.LastErrMsg;
    ASSERT_TRUE(probe.Seek(-1, Microseconds(0.9)));
    EXPECT_EQ(Counter(probe.DecodeFrame()), 22);
    EXPECT_EQ(Counter(probe.DecodeFrame()), 23);
    EXPECT_EQ(Counter(probe.DecodeFrame()), 24);
    LibraryLogCapture log;
    for (int call = 0; call < 2; ++call) {
        const TBitmap24 &bitmap = probe.DecodeFrame();
        EXPECT_EQ(bitmap.Width(), kWidth);
        EXPECT_EQ(bitmap.Height(), kHeight);
        EXPECT_TRUE(AllBlack(bitmap));
    }
    EXPECT_TRUE(Logged(log, AV_LOG_DEBUG, "stream eof reached.\n"));
    // The last picture stays the last one decoded; a seek starts over.
    EXPECT_EQ(Counter(probe.LastFrame()), 24);
    ASSERT_TRUE(probe.Seek(-1, 0));
    EXPECT_EQ(Counter(probe.DecodeFrame()), 0);
}

TEST_F(ProbePreviewTest, PicturesComeOutInBgrOrderWithTheTopRowFirst)
{
    struct Source {
        std::string name, codec, pixelFormat;
        VideoPattern pattern;
        int tolerance; // of the colour conversions and the codec
    };
    const Source sources[] = {
        {"gradient.nut", "rawvideo", "yuv420p", VideoPattern::Gradient, 3},
        {"gradient.avi", "mpeg4", "", VideoPattern::Gradient, 3},
        {"gradient-rgb.nut", "rawvideo", "rgb24", VideoPattern::Gradient, 0},
        {"bands.avi", "mpeg4", "", VideoPattern::Bands, 4},
        {"bands.mp4", "libx264", "", VideoPattern::Bands, 4},
        {"bands.nut", "rawvideo", "yuv420p", VideoPattern::Bands, 4},
    };
    for (const Source &source : sources) {
        SCOPED_TRACE(source.name);
        const std::string path = Video(source.name, source.codec, source.pattern, 0.2, "", source.pixelFormat);
        const DecodedVideo reference = DecodeVideo(path);
        ASSERT_EQ(reference.frames.size(), 5u);
        ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg;
        for (size_t frame = 0; frame < reference.frames.size(); ++frame) {
            const TBitmap24 &bitmap = probe.DecodeFrame();
            ASSERT_EQ(bitmap.Width(), kWidth);
            ASSERT_EQ(bitmap.Height(), kHeight);
            // The same picture as the library's own conversion to RGB gives ...
            EXPECT_LE(LargestDifference(bitmap, reference, frame), source.tolerance) << "picture " << frame;
            if (source.pattern != VideoPattern::Bands)
                continue;
            // ... and the band colours themselves.
            for (int band = 0; band < kBandCount; ++band) {
                const int x = (2 * band + 1) * kWidth / (2 * kBandCount);
                for (const int y : {2, kHeight / 2, kHeight - 3})
                    for (int c = 0; c < 3; ++c)
                        EXPECT_NEAR(bitmap.ScanLine(y)[x * 3 + c], kBandColours[band][2 - c], source.tolerance)
                            << "band " << band << " row " << y << " byte " << c;
            }
        }
    }
}

TEST_F(ProbePreviewTest, ABgr24SourceIsCopiedWithoutConversion)
{
    for (const std::string name : {"bgr.avi", "bgr.nut"}) {
        SCOPED_TRACE(name);
        const std::string path = Video(name, "rawvideo", VideoPattern::Gradient, 0.2, "", "bgr24");
        ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg;
        for (int frame = 0; frame < 3; ++frame) {
            const TBitmap24 &bitmap = probe.DecodeFrame();
            ASSERT_EQ(bitmap.Width(), kWidth);
            ASSERT_EQ(bitmap.Height(), kHeight);
            // Exactly the painted gradient: blue x + y, green 2y, red x + 3n, top row first.
            int wrong = 0;
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x) {
                    const uint8_t *pixel = bitmap.ScanLine(y) + x * 3;
                    wrong +=
                        pixel[0] != uint8_t(x + y) || pixel[1] != uint8_t(2 * y) || pixel[2] != uint8_t(x + 3 * frame);
                }
            EXPECT_EQ(wrong, 0) << "picture " << frame;
        }
        EXPECT_EQ(probe.PictureBufferSize(), 0u) << "a conversion buffer was made";
    }
}

TEST_F(ProbePreviewTest, AStillImageIsDecodedOnceAndCannotBeSought)
{
    struct Still {
        std::string name, codec, pixelFormat;
        int tolerance;
    };
    for (const Still &still : {Still{"still.png", "png", "rgb24", 0}, Still{"still.jpg", "mjpeg", "", 4}}) {
        SCOPED_TRACE(still.name);
        const std::string path = dir.File(still.name);
        MediaRecipe recipe;
        recipe.format = "image2";
        recipe.seconds = 1.0 / kRate;
        recipe.video = Track(still.codec);
        recipe.video->pattern = VideoPattern::Bands;
        recipe.video->pixelFormat = still.pixelFormat;
        WriteMediaFile(path, recipe);
        ASSERT_TRUE(probe.LoadFile(path, "image2")) << probe.LastErrMsg;
        ASSERT_EQ(probe.FormatName(), "image2");

        const TBitmap24 first = probe.DecodeFrame();
        ASSERT_EQ(first.Width(), kWidth);
        ASSERT_EQ(first.Height(), kHeight);
        for (int band = 0; band < kBandCount; ++band) {
            const uint8_t *pixel = first.ScanLine(kHeight / 2) + ((2 * band + 1) * kWidth / (2 * kBandCount)) * 3;
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(pixel[c], kBandColours[band][2 - c], still.tolerance) << "band " << band;
        }
        LibraryLogCapture log;
        EXPECT_TRUE(probe.Seek(-1, Microseconds(0.5)));
        EXPECT_TRUE(probe.Seek(0, 0));
        EXPECT_TRUE(Logged(log, AV_LOG_INFO, "\"image2\" format cannot to be seeked.\n"));
        for (int call = 0; call < 2; ++call) {
            const TBitmap24 &again = probe.DecodeFrame();
            ASSERT_EQ(again.Width(), kWidth);
            EXPECT_TRUE(std::equal(first.Bits(), first.Bits() + first.BytesPerLine() * kHeight, again.Bits()))
                << "call " << call;
        }
        EXPECT_FALSE(Logged(log, AV_LOG_DEBUG, "stream eof reached.\n"));
    }
}

TEST_F(ProbePreviewTest, InvalidStreamsGiveAnEmptyBitmapAndSaySo)
{
    MediaRecipe recipe;
    recipe.seconds = 0.5;
    recipe.video = Track("mpeg4");
    recipe.audio = AudioTrack{"mp2", 44100, 2};
    const std::string both = dir.File("both.avi");
    WriteMediaFile(both, recipe);
    ASSERT_TRUE(probe.LoadFile(both)) << probe.LastErrMsg;
    ASSERT_EQ(probe.StreamCount, 2);
    ASSERT_EQ(probe.FirstAudio, 1);
    struct Case {
        int index;
        std::string line;
    };
    for (const Case &c : {Case{7, "stream index #7 is invalid.\n"}, Case{2, "stream index #2 is invalid.\n"},
                          Case{1, "stream #1 is not video stream.\n"}}) {
        SCOPED_TRACE(c.index);
        ASSERT_FALSE(probe.DecodeFrame(0).Empty()) << "a picture to begin with";
        LibraryLogCapture log;
        const TBitmap24 &bitmap = probe.DecodeFrame(c.index);
        EXPECT_EQ(bitmap.Width(), 0);
        EXPECT_EQ(bitmap.Height(), 0);
        EXPECT_TRUE(Logged(log, AV_LOG_ERROR, c.line));
    }
    LibraryLogCapture log;
    EXPECT_FALSE(probe.Seek(7, Microseconds(0.2)));
    EXPECT_TRUE(Logged(log, AV_LOG_ERROR, "stream index #7 is invalid.\n"));
    EXPECT_TRUE(probe.Seek(1, Microseconds(0.2))) << "an audio stream may be sought";

    const std::string wav = dir.File("tone.wav");
    WriteSineWav(wav, 1.0);
    ASSERT_TRUE(probe.LoadFile(wav)) << probe.LastErrMsg;
    LibraryLogCapture audioLog;
    const TBitmap24 &bitmap = probe.DecodeFrame(-1);
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_TRUE(Logged(audioLog, AV_LOG_ERROR, "no video stream.\n"));
    EXPECT_TRUE(probe.Seek(-1, Microseconds(0.5))) << "the audio stream is the one sought";
    EXPECT_FALSE(Logged(audioLog, AV_LOG_ERROR, "could not seek to position 0.500\n"));
}

TEST_F(ProbePreviewTest, NothingLoadedGivesFalseAndAnEmptyBitmap)
{
    LibraryLogCapture log;
    EXPECT_FALSE(probe.Seek(-1, 0));
    EXPECT_EQ(probe.LastErrMsg, "file not loaded.");
    EXPECT_TRUE(Logged(log, AV_LOG_INFO, "file not loaded.\n"));
    EXPECT_TRUE(probe.DecodeFrame().Empty());
    EXPECT_TRUE(Logged(log, AV_LOG_ERROR, "file not loaded.\n"));
    EXPECT_TRUE(probe.LastFrame().Empty());

    // Closing empties the bitmap handed out before.
    ASSERT_TRUE(probe.LoadFile(CounterVideo("counter.avi", "mpeg4", 0.5))) << probe.LastErrMsg;
    const TBitmap24 &bitmap = probe.DecodeFrame();
    ASSERT_FALSE(bitmap.Empty());
    probe.Close();
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_EQ(probe.PictureBufferSize(), 0u);
}

TEST_F(ProbePreviewTest, AnAttachedProbeIsReadOnly)
{
    const std::string path = CounterVideo("counter.avi", "mpeg4", 0.5);
    AVFormatContext *raw = nullptr;
    ASSERT_GE(avformat.avformat_open_input(&raw, path.c_str(), nullptr, nullptr), 0);
    InputFormatContextPtr input(raw);
    ASSERT_GE(avformat.avformat_find_stream_info(raw, nullptr), 0);
    probe.AttachContext(raw);
    struct Case {
        std::function<void()> call;
        std::string text;
    };
    const Case cases[] = {{[&] { probe.Seek(-1, 0); }, "file cannot be seeked, handle is readonly."},
                          {[&] { probe.DecodeFrame(); }, "frame cannot be read, handle is readonly."}};
    for (const Case &c : cases) {
        LibraryLogCapture log;
        probe.LastErrMsg.clear();
        try {
            c.call();
            ADD_FAILURE() << "nothing raised for " << c.text;
        } catch (const EAVProbeError &e) {
            EXPECT_EQ(std::string(e.what()), c.text);
        }
        EXPECT_EQ(probe.LastErrMsg, c.text);
        EXPECT_TRUE(Logged(log, AV_LOG_INFO, c.text + "\n"));
    }
    // The engine's input was neither moved nor closed: its first packet is still the first.
    probe.Close();
    AVPacketPtr packet(avcodec.av_packet_alloc());
    ASSERT_GE(avformat.av_read_frame(raw, packet.get()), 0);
    EXPECT_EQ(packet->pts, 0);
}

TEST_F(ProbePreviewTest, ADecoderThatCannotBeFoundOrOpenedRaises)
{
    // No decoder for the codec: the stream's four-character code names none.
    const std::string unknown = CounterVideo("unknown.avi", "mpeg4", 0.5);
    PatchBytes(unknown, "FMP4", "ZQZQ");
    // A raw picture whose pixel layout (bits per pixel) names no format: the decoder refuses to open.
    const std::string unopenable = Video("unopenable.avi", "rawvideo", VideoPattern::Bands, 0.2, "", "bgr24");
    {
        std::fstream file(unopenable, std::ios::in | std::ios::out | std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const size_t format = bytes.find("strf");
        ASSERT_NE(format, std::string::npos);
        ASSERT_EQ(bytes[format + 22], 24) << "bits per pixel of the picture header";
        file.seekp(static_cast<std::streamoff>(format + 22));
        file.put(7);
    }
    struct Case {
        std::string path, text;
    };
    for (const Case &c : {Case{unknown, "Unsupported codec (id=0) for input file stream #0"},
                          Case{unopenable, "Error while opening codec for input file stream #0"}}) {
        SCOPED_TRACE(c.path);
        ASSERT_TRUE(probe.LoadFile(c.path)) << probe.LastErrMsg;
        ASSERT_EQ(probe.FirstVideo, 0);
        for (int call = 0; call < 2; ++call) {
            try {
                probe.DecodeFrame();
                ADD_FAILURE() << "nothing raised";
            } catch (const EAVProbeError &e) {
                EXPECT_EQ(std::string(e.what()), c.text);
            }
        }
    }
}

TEST_F(ProbePreviewTest, ATruncatedFileGivesWhatItHasThenTheEnd)
{
    for (const std::string name : {"cut.avi", "cut.mkv", "cut.ts", "cut.mp4"}) {
        SCOPED_TRACE(name);
        // AVI keeps no presentation times, which H.264 with reordered pictures needs.
        const std::string path = CounterVideo(name, name == "cut.avi" ? "mpeg4" : "libx264");
        std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2 + 7);
        if (!probe.LoadFile(path)) {
            // Without its index at the end an MP4 cannot be opened; that is said, nothing more.
            EXPECT_EQ(name, "cut.mp4") << probe.LastErrMsg;
            EXPECT_FALSE(probe.LastErrMsg.empty());
            continue;
        }
        std::vector<int> shown;
        LibraryLogCapture log;
        for (int call = 0; call < 120 && !Logged(log, AV_LOG_DEBUG, "stream eof reached.\n"); ++call)
            shown.push_back(Counter(probe.DecodeFrame()));
        ASSERT_TRUE(Logged(log, AV_LOG_DEBUG, "stream eof reached.\n"));
        ASSERT_GE(shown.size(), 11u);
        EXPECT_LT(shown.size(), 100u);
        EXPECT_TRUE(AllBlack(probe.DecodeFrame()));
        // Pictures in order up to where the file breaks, then black (the counter of black is 0).
        shown.pop_back();
        EXPECT_EQ(shown.front(), 0);
        for (size_t i = 1; i + 1 < shown.size(); ++i)
            EXPECT_EQ(shown[i], shown[i - 1] + 1) << i;
        // A seek into the missing part gives a picture or black, and nothing breaks.
        ASSERT_TRUE(probe.Seek(-1, Microseconds(3.5)));
        const TBitmap24 &bitmap = probe.DecodeFrame();
        EXPECT_EQ(bitmap.Width(), kWidth);
        ASSERT_TRUE(probe.Seek(-1, Microseconds(0.4)));
        EXPECT_EQ(Counter(probe.DecodeFrame()), 10);
    }
}

TEST_F(ProbePreviewTest, TheDecoderIsReplacedWhenAnotherStreamIsDecoded)
{
    const std::string both = dir.File("two.mkv");
    MuxTogether({CounterVideo("counter.avi", "mpeg4", 2.0), Video("bands.mp4", "libx264", VideoPattern::Bands, 2.0)},
                both);
    ASSERT_TRUE(probe.LoadFile(both)) << probe.LastErrMsg;
    ASSERT_EQ(probe.VideoCount, 2);
    const auto isBands = [](const TBitmap24 &bitmap) {
        return !bitmap.Empty() && std::abs(bitmap.ScanLine(60)[(kWidth / 16) * 3] - 255) < 8 &&
               bitmap.ScanLine(60)[(kWidth - 1) * 3] < 8;
    };
    EXPECT_EQ(Counter(probe.DecodeFrame(0)), 0);
    EXPECT_TRUE(isBands(probe.DecodeFrame(1)));
    ASSERT_TRUE(probe.Seek(0, Microseconds(1.0)));
    EXPECT_EQ(Counter(probe.DecodeFrame(0)), 25);
    ASSERT_TRUE(probe.Seek(1, Microseconds(1.5)));
    EXPECT_TRUE(isBands(probe.DecodeFrame(1)));
    ASSERT_TRUE(probe.Seek(-1, Microseconds(0.5)));
    EXPECT_EQ(Counter(probe.DecodeFrame(0)), 12);
    EXPECT_EQ(Counter(probe.DecodeFrame(0)), 13);
}

TEST_F(ProbePreviewTest, ThePictureMemoryIsKeptWhileThePictureSizeStays)
{
    ASSERT_TRUE(probe.LoadFile(CounterVideo("counter.mp4", "libx264"))) << probe.LastErrMsg;
    TBitmap24 &bitmap = probe.DecodeFrame();
    const uint8_t *pixels = bitmap.Bits();
    const uint8_t *lastPixels = probe.LastFrame().Bits();
    EXPECT_EQ(probe.PictureBufferSize(), size_t(kWidth) * kHeight * 3);
    EXPECT_NE(pixels, lastPixels);
    for (const double seconds : {3.0, 0.5, 10.0, 1.2}) {
        ASSERT_TRUE(probe.Seek(-1, Microseconds(seconds)));
        for (int call = 0; call < 3; ++call) {
            EXPECT_EQ(&probe.DecodeFrame(), &bitmap);
            EXPECT_EQ(bitmap.Bits(), pixels);
            EXPECT_EQ(probe.LastFrame().Bits(), lastPixels);
            EXPECT_EQ(probe.PictureBufferSize(), size_t(kWidth) * kHeight * 3);
        }
    }
}

namespace {

// Runs a video conversion on an engine thread and waits for its end.
class EngineRun {
public:
    EngineRun(const std::string &input, const std::string &output)
    {
        engine.InitializeJob();
        engine.TerminateCallback = [this](TCustomFFmpeg *) {
            std::lock_guard<std::mutex> lock(mutex_);
            ended_ = true;
            changed_.notify_all();
        };
        EXPECT_TRUE(engine.AddInputFile(input)) << engine.LastErrorText;
        engine.SetOption("vcodec", "mpeg4");
        engine.SetOption("acodec", "mp2");
        EXPECT_TRUE(engine.AddOutputFile(output)) << engine.LastErrorText;
        TFFmpegThread *thread = engine.Start(true, tpNormal);
        EXPECT_NE(thread, nullptr);
        if (thread)
            thread->Resume();
    }
    // The run ends before the members its callback uses go.
    ~EngineRun() { engine.StopAndWait(); }
    bool Ended()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return ended_;
    }
    bool WaitForEnd()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(120), [this] { return ended_; });
    }

    TCustomFFmpeg engine;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool ended_ = false;
};

} // namespace

TEST_F(ProbePreviewTest, TheProbeDecodesWhileAnEngineConverts)
{
    MediaRecipe recipe;
    recipe.seconds = 20.0;
    recipe.video = Track("mpeg4");
    recipe.audio = AudioTrack{"mp2", 44100, 2};
    const std::string source = dir.File("source.avi");
    WriteMediaFile(source, recipe);
    const std::string counter = CounterVideo("counter.mp4", "libx264");
    const std::string bands = Video("bands.avi", "mpeg4", VideoPattern::Bands, 1.0);

    EngineRun run(source, dir.File("out.mkv"));
    // Files are loaded, sought and decoded, and decoders opened and closed, while the engine runs.
    int rounds = 0, roundsWhileRunning = 0;
    do {
        ASSERT_TRUE(probe.LoadFile(counter)) << probe.LastErrMsg;
        ASSERT_TRUE(probe.Seek(-1, Microseconds(2.0)));
        EXPECT_EQ(Counter(probe.DecodeFrame()), 50);
        ASSERT_TRUE(probe.LoadFile(bands)) << probe.LastErrMsg;
        EXPECT_FALSE(probe.DecodeFrame().Empty());
        probe.Close();
        ++rounds;
        if (!run.Ended())
            roundsWhileRunning = rounds;
    } while (!run.Ended() || rounds < 3);
    EXPECT_GE(roundsWhileRunning, 2) << "the engine ended before the probe had worked beside it";
    ASSERT_TRUE(run.WaitForEnd());
    EXPECT_EQ(run.engine.Finished, 1) << run.engine.ErrorMessage;
    EXPECT_EQ(run.engine.ErrorOccurred, 0) << run.engine.ErrorMessage;
    TAVProbe result;
    ASSERT_TRUE(result.LoadFile(dir.File("out.mkv"))) << result.LastErrMsg;
    EXPECT_EQ(result.VideoCount, 1);
    EXPECT_EQ(result.AudioCount, 1);
}

TEST_F(ProbePreviewTest, DecoderOpensWaitForTheLibraryLock)
{
    ASSERT_TRUE(probe.LoadFile(CounterVideo("counter.avi", "mpeg4", 0.5))) << probe.LastErrMsg;
    std::promise<void> locked, release;
    std::thread holder([&] {
        std::lock_guard<std::recursive_mutex> lock(LibraryLock());
        locked.set_value();
        release.get_future().wait();
    });
    locked.get_future().wait();
    auto decoded = std::async(std::launch::async, [&] { return Counter(probe.DecodeFrame()); });
    // The decoder cannot open while another thread holds the lock.
    EXPECT_EQ(decoded.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    release.set_value();
    holder.join();
    EXPECT_EQ(decoded.get(), 0);
}
