#include "probe/AVProbe.h"
#include "libs/AVEntryPoints.h"
#include "libs/AVLibLoader.h"
#include "tests/support/LibraryLogCapture.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

using namespace avlib;
using namespace testing_support;

namespace {

class AVProbeTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureLibrariesLoaded(); }

    TempDir dir;
    TAVProbe probe;
};

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + "<no CR LF>");
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

} // namespace

std::string SizeText(const std::string &path)
{
    return FormatFileSize(static_cast<int64_t>(std::filesystem::file_size(path)));
}

// Each line against an exact text or, where the encoder decides the figures, a pattern.
void ExpectLines(const std::string &text, const std::vector<std::string> &expected)
{
    const std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), expected.size()) << text;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string &want = expected[i];
        if (want.rfind("re:", 0) == 0)
            EXPECT_TRUE(std::regex_match(lines[i], std::regex(want.substr(3)))) << lines[i] << "\n  !~ " << want;
        else
            EXPECT_EQ(lines[i], want);
    }
}

TEST_F(AVProbeTest, DescribesAWaveFile)
{
    const std::string path = dir.File("tone.wav");
    WriteSineWav(path, 2.0);
    ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg;
    ExpectLines(probe.GetInfoText(),
                {"File Name: " + path, "Format Name: wav", "Format Long Name: WAV / WAVE (Waveform Audio)",
                 "File Size: " + SizeText(path), "Duration: 00:00:02.000", "Bit Rate: 1411 Kbps",
                 "Stream #0, 1/44100: Audio: pcm_s16le ([1][0][0][0] / 0x0001), 44100 Hz, 2 channels, s16, 1411 "
                 "kb/s, Duration: 00:00:02.000"});
    EXPECT_EQ(probe.StreamCount, 1);
    EXPECT_EQ(probe.AudioCount, 1);
    EXPECT_EQ(probe.VideoCount, 0);
    EXPECT_EQ(probe.FirstAudio, 0);
    EXPECT_EQ(probe.FirstVideo, -1);
    EXPECT_EQ(probe.ProgramCount, 0);
    EXPECT_EQ(probe.FormatName(), "wav");
    EXPECT_EQ(probe.FileName(), path);
    EXPECT_EQ(probe.FileSize(), static_cast<int64_t>(std::filesystem::file_size(path)));
    EXPECT_TRUE(probe.OwnsContext());
}

TEST_F(AVProbeTest, DescribesAnMp3WithItsTags)
{
    const std::string path = dir.File("tagged.mp3");
    WriteSineMp3(path, 3.0,
                 {{"title", "Song"},
                  {"artist", "Band"},
                  {"album", "Record"},
                  {"genre", "Rock"},
                  {"comment", "Nice"},
                  {"date", "2009-06-01"},
                  {"track", "3/12"},
                  {"copyright", "(c) us"}});
    ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg;
    ExpectLines(probe.GetInfoText(),
                {"File Name: " + path, "Format Name: mp3", "Format Long Name: MP2/3 (MPEG audio layer 2/3)",
                 "File Size: " + SizeText(path), R"(re:StartTime: 0\.0\d{5})", R"(re:Duration: 00:00:03\.0\d\d)",
                 R"(re:Bit Rate: 1[23]\d Kbps)", "Title: Song", "Author: Band", "Copyright: (c) us", "Comment: Nice",
                 "Album: Record", "Genre: Rock", "Year: 2009", "Track: #3",
                 R"(re:Stream #0, 1/14112000: Audio: mp3, 44100 Hz, stereo, fltp, 128 kb/s, StartTime: 0\.0\d{5}, )"
                 R"(Duration: 00:00:03\.0\d\d)"});

    TAVFormatInfo info;
    probe.GetFormatInfo(info);
    EXPECT_EQ(info.Title, "Song");
    EXPECT_EQ(info.Author, "Band");
    EXPECT_EQ(info.Album, "Record");
    EXPECT_EQ(info.Genre, "Rock");
    EXPECT_EQ(info.Comment, "Nice");
    EXPECT_EQ(info.Copyright, "(c) us");
    EXPECT_EQ(info.Year, 2009);
    EXPECT_EQ(info.Track, 3);
    EXPECT_GT(info.Duration, 3000000);
    EXPECT_LT(info.Duration, 3100000);
}

TEST_F(AVProbeTest, DescribesAVideoFileStreamByStream)
{
    const std::string path = dir.File("clip.avi");
    MediaRecipe recipe;
    recipe.video = VideoTrack{};
    recipe.audio = AudioTrack{"mp2", 44100, 2};
    WriteMediaFile(path, recipe);
    ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg;
    ExpectLines(
        probe.GetInfoText(),
        {"File Name: " + path, "Format Name: avi", "Format Long Name: AVI (Audio Video Interleaved)",
         "File Size: " + SizeText(path), "StartTime: 0.000000", R"(re:Duration: 00:00:01\.0\d\d)",
         R"(re:Bit Rate: \d+ Kbps)",
         "Stream #0, 1/25: Video: mpeg4 (Simple Profile) (FMP4 / 0x34504D46), yuv420p, 160x120 [SAR 1:1 DAR "
         "4:3], 25.00 tb(r), StartTime: 0.000000, Duration: 00:00:01.000",
         R"(re:Stream #1, 32/1225: Audio: mp2 \(P\[0\]\[0\]\[0\] / 0x0050\), 44100 Hz, stereo, s16p, 384 kb/s, )"
         R"(StartTime: 0\.000000, Duration: 00:00:01\.0\d\d)"});
    EXPECT_EQ(probe.StreamCount, 2);
    EXPECT_EQ(probe.FirstVideo, 0);
    EXPECT_EQ(probe.FirstAudio, 1);

    TAVStreamInfo info;
    probe.GetStreamInfo(-1, info);
    EXPECT_EQ(info.CodecName, "mpeg4");
    EXPECT_EQ(info.Width, 160);
    EXPECT_EQ(info.Height, 120);
    EXPECT_EQ(info.PixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_FLOAT_EQ(info.AspectRatio, 4.0f / 3.0f);
    EXPECT_EQ(info.FrameRateNum, 25);
    EXPECT_EQ(info.FrameRateDen, 1);
    EXPECT_EQ(info.StartTime, 0);
    EXPECT_EQ(info.StartTimeUS, 0);
    EXPECT_EQ(info.Duration, 25);
    EXPECT_EQ(info.DurationUS, 1000000);
}

TEST_F(AVProbeTest, ProgramsGroupTheirStreams)
{
    const std::string path = dir.File("clip.ts");
    MediaRecipe recipe;
    recipe.video = VideoTrack{};
    recipe.audio = AudioTrack{"mp2", 48000, 2};
    recipe.tags = {{"service_name", "Radio One"}, {"service_provider", "Station"}};
    WriteMediaFile(path, recipe);
    ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg;
    const std::vector<std::string> lines = Lines(probe.GetInfoText());
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[1], "Format Name: mpegts");
    EXPECT_EQ(lines[7], "Program 1 Radio One@Station");
    EXPECT_EQ(lines[8].rfind("Stream #0[0x100], 1/90000: Video: mpeg4", 0), 0u) << lines[8];
    EXPECT_EQ(lines[9].rfind("Stream #1[0x101], 1/90000: Audio: mp2", 0), 0u) << lines[9];
    EXPECT_EQ(probe.ProgramCount, 1);
}

TEST_F(AVProbeTest, UnknownDurationAndBitRateShowNA)
{
    const std::string path = dir.File("clip.m4v");
    MediaRecipe recipe;
    recipe.format = "m4v"; // a raw elementary stream: no container figures
    recipe.video = VideoTrack{};
    WriteMediaFile(path, recipe);
    ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg;
    ExpectLines(probe.GetInfoText(),
                {"File Name: " + path, "Format Name: m4v", "Format Long Name: raw MPEG-4 video",
                 "File Size: " + SizeText(path), "StartTime: 0.000000", "Duration: N/A", "Bit Rate: N/A",
                 "Stream #0, 1/1200000: Video: mpeg4 (Simple Profile), yuv420p, 160x120 [SAR 1:1 DAR 4:3], 25.00 "
                 "tb(r), StartTime: 0.000000, Duration: N/A"});
    TAVFormatInfo info;
    probe.GetFormatInfo(info);
    EXPECT_EQ(info.Duration, AV_NOPTS_VALUE);
    EXPECT_EQ(info.BitRate, 0);
}

TEST_F(AVProbeTest, TheTimeStampIsShownInLocalStandardTime)
{
    const std::string path = dir.File("clip.mp4");
    MediaRecipe recipe;
    recipe.video = VideoTrack{};
    recipe.tags = {{"creation_time", "2009-06-01T12:00:00Z"}};
    WriteMediaFile(path, recipe);
    ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg;
    TAVFormatInfo info;
    probe.GetFormatInfo(info);
    EXPECT_EQ(info.Timestamp, 1243857600);

    const char *zone = std::getenv("TZ");
    const std::string saved = zone ? zone : "";
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1); // one hour east, summer time in June
    const std::string text = probe.GetInfoText();
    if (zone)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    // Standard time, not summer time: 13:00, not 14:00.
    EXPECT_NE(text.find("\r\nTime Stamp: 2009-06-01 13:00:00\r\n"), std::string::npos) << text;
}

TEST_F(AVProbeTest, AnMp3OfThreeMinutesShowsItsLength)
{
    const std::string path = dir.File("long.mp3");
    MediaRecipe recipe;
    recipe.seconds = 185.5;
    recipe.audio = AudioTrack{"libmp3lame", 8000, 1, 440.0, 0.5, 16000};
    WriteMediaFile(path, recipe);
    ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg;
    const std::string text = probe.GetInfoText();
    EXPECT_TRUE(std::regex_search(text, std::regex("\r\nDuration: 00:03:05\\.\\d{3}\r\n"))) << text;
}

TEST_F(AVProbeTest, OpenFailuresLeaveTheProbeClosedWithTheirMessage)
{
    std::vector<char> noise(4096);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 7919 + 13) % 251);
    std::ofstream(dir.File("noise.wav"), std::ios::binary)
        .write(noise.data(), static_cast<std::streamsize>(noise.size()));
    std::ofstream(dir.File("empty.wav")).close();
    WriteSineWav(dir.File("tone.wav"), 0.1);

    struct Case {
        std::string file;
        std::string format;
        std::string message;
    };
    const Case cases[] = {
        {dir.File("missing.wav"), "", dir.File("missing.wav") + ": no such file or directory"},
        {dir.File("noise.wav"), "", dir.File("noise.wav") + ": Unknown format"},
        {dir.File("empty.wav"), "", dir.File("empty.wav") + ": Unknown format"},
        {dir.Path().string() + "/", "", dir.Path().string() + "/: Error while opening file (Is a directory)"},
        {dir.File("tone.wav"), "nosuch", "Unknown input format: nosuch"},
        {dir.File("tone.wav"), "mpegts", dir.File("tone.wav") + ": could not find codec parameters"},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(probe.LoadFile(dir.File("tone.wav"))); // something open before
        EXPECT_FALSE(probe.LoadFile(c.file, c.format)) << c.file;
        EXPECT_EQ(probe.LastErrMsg, c.message);
        EXPECT_EQ(probe.FormatContext(), nullptr);
        EXPECT_EQ(probe.StreamCount, -1);
        EXPECT_EQ(probe.FirstAudio, -1);
        EXPECT_EQ(probe.ForcedFormat, "");
    }
    // A success keeps the last failure's text.
    EXPECT_TRUE(probe.LoadFile(dir.File("tone.wav"), "wav"));
    EXPECT_EQ(probe.ForcedFormat, "wav");
    EXPECT_EQ(probe.LastErrMsg, dir.File("tone.wav") + ": could not find codec parameters");
}

TEST_F(AVProbeTest, QueriesOnAClosedProbeLogAndReturnEmptyValues)
{
    LibraryLogCapture log;
    TAVFormatInfo format;
    probe.GetFormatInfo(format);
    TAVStreamInfo stream;
    probe.GetStreamInfo(0, stream);
    EXPECT_EQ(probe.GetInfoText(), "");
    EXPECT_EQ(probe.FileName(), "");
    EXPECT_EQ(probe.FormatName(), "");
    EXPECT_EQ(probe.FileSize(), -1);
    EXPECT_EQ(format.Duration, -1);
    EXPECT_EQ(format.BitRate, -1);
    EXPECT_EQ(format.Title, "");
    EXPECT_EQ(stream.Width, -1);
    const std::pair<int, std::string> notLoaded{AV_LOG_INFO, "file not loaded.\n"};
    const std::vector<std::pair<int, std::string>> expected(6, notLoaded);
    EXPECT_EQ(log.Lines(), expected);
}

TEST_F(AVProbeTest, StreamInfoIsForVideoStreamsOnly)
{
    WriteSineWav(dir.File("tone.wav"), 0.1);
    ASSERT_TRUE(probe.LoadFile(dir.File("tone.wav")));
    struct Case {
        int index;
        std::string log;
    };
    const Case cases[] = {{-1, "no video stream.\n"},
                          {0, "stream #0 is not video stream.\n"},
                          {1, "stream index #1 is invalid.\n"},
                          {7, "stream index #7 is invalid.\n"}};
    for (const Case &c : cases) {
        LibraryLogCapture log;
        TAVStreamInfo info;
        info.Width = 99;
        probe.GetStreamInfo(c.index, info);
        EXPECT_EQ(log.Lines(), (std::vector<std::pair<int, std::string>>{{AV_LOG_ERROR, c.log}})) << c.index;
        EXPECT_EQ(info.Width, -1);
        EXPECT_EQ(info.BitRate, -1);
        EXPECT_EQ(info.DurationUS, -1);
        EXPECT_EQ(info.FrameRateNum, -1);
        EXPECT_EQ(info.CodecName, "");
    }
}

TEST_F(AVProbeTest, FileSizeFallsBackToTheSizeOnDisk)
{
    const std::string path = dir.File("tone.wav");
    WriteSineWav(path, 0.5);
    // A context that names the file but has no I/O of its own reports no size.
    AVFormatContext *context = avformat.avformat_alloc_context();
    ASSERT_NE(context, nullptr);
    InputFormatContextPtr owner(context);
    context->url = avutil.av_strdup(path.c_str());
    probe.AttachContext(context);
    EXPECT_EQ(probe.FileSize(), static_cast<int64_t>(std::filesystem::file_size(path)));
    EXPECT_EQ(probe.StreamCount, 0);
    probe.Close();
}

TEST_F(AVProbeTest, AnAttachedInputIsNotClosedByTheProbe)
{
    const std::string path = dir.File("tone.wav");
    WriteSineWav(path, 0.5);
    AVFormatContext *raw = nullptr;
    ASSERT_GE(avformat.avformat_open_input(&raw, path.c_str(), nullptr, nullptr), 0);
    InputFormatContextPtr input(raw);
    ASSERT_GE(avformat.avformat_find_stream_info(raw, nullptr), 0);

    probe.AttachContext(raw);
    EXPECT_FALSE(probe.OwnsContext());
    EXPECT_EQ(probe.FormatContext(), raw);
    EXPECT_EQ(probe.AudioCount, 1);
    EXPECT_EQ(probe.FormatName(), "wav");
    probe.Close();
    EXPECT_EQ(probe.FormatContext(), nullptr);
    EXPECT_EQ(probe.StreamCount, -1);

    // The engine's input still reads.
    AVPacketPtr packet(avcodec.av_packet_alloc());
    EXPECT_GE(avformat.av_read_frame(raw, packet.get()), 0);
    avcodec.av_packet_unref(packet.get());

    // Loading another file forgets the attached one without closing it either.
    probe.AttachContext(raw);
    WriteSineWav(dir.File("other.wav"), 0.1);
    ASSERT_TRUE(probe.LoadFile(dir.File("other.wav")));
    EXPECT_GE(avformat.av_read_frame(raw, packet.get()), 0);
    avcodec.av_packet_unref(packet.get());
}

TEST(AVProbeWithoutLibrariesTest, OpeningRaisesTheNotLoadedText)
{
    UnloadAll();
    TAVProbe probe;
    EXPECT_EQ(probe.StreamCount, -1);
    try {
        probe.LoadFile("any.wav");
        FAIL();
    } catch (const LibraryNotLoadedError &e) {
        EXPECT_STREQ(e.what(), "LibAVCodec not loaded.");
    }
    EXPECT_THROW(probe.AttachContext(nullptr), LibraryNotLoadedError);
}
