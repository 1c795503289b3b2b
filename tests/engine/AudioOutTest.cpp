#include "libs/TextFormat.h"
#include "probe/AVProbe.h"
#include "tests/engine/OptionsFixture.h"
#include "tests/support/LibraryLogCapture.h"
#include "tests/support/MediaFixtures.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>

using namespace avlib;
using namespace testing_support;

namespace {

// Zero crossings per second and RMS level of one channel over [from, to) seconds.
struct ToneFigures {
    double frequency = 0;
    double rms = 0;
    int longestQuietRun = 0; // samples in a row below 1% of full scale
};

ToneFigures Measure(const DecodedAudio &audio, int channel, double from, double to)
{
    ToneFigures figures;
    const size_t first = static_cast<size_t>(from * audio.sampleRate);
    const size_t last = std::min(audio.Frames(), static_cast<size_t>(to * audio.sampleRate));
    int crossings = 0, quiet = 0;
    double sum = 0;
    for (size_t i = first; i < last; ++i) {
        const int16_t s = audio.samples[i * audio.channels + channel];
        sum += static_cast<double>(s) * s;
        if (i > first) {
            const int16_t previous = audio.samples[(i - 1) * audio.channels + channel];
            if ((previous < 0) != (s < 0))
                ++crossings;
        }
        quiet = std::abs(s) < 328 ? quiet + 1 : 0;
        figures.longestQuietRun = std::max(figures.longestQuietRun, quiet);
    }
    const double seconds = static_cast<double>(last - first) / audio.sampleRate;
    figures.frequency = crossings / 2.0 / seconds;
    figures.rms = std::sqrt(sum / static_cast<double>(last - first)) / 32768.0;
    return figures;
}

// The bytes of a WAV file's samples.
std::string WaveSamples(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const size_t data = bytes.find("data");
    return data == std::string::npos ? std::string() : bytes.substr(data + 8);
}

class AudioOutTest : public OptionsTest {
protected:
    std::string Wave(const std::string &name, double seconds, int rate, int channels, double amplitude = 0.5)
    {
        MediaRecipe recipe;
        recipe.seconds = seconds;
        recipe.audio = AudioTrack{"pcm_s16le", rate, channels, 440.0, amplitude};
        const std::string path = dir.File(name);
        WriteMediaFile(path, recipe);
        return path;
    }

    // Two one-second MP2 streams of different shapes, a.mp2 then b.mp2, joined into one file.
    std::string JoinedMp2(int firstRate, int firstChannels, int secondRate, int secondChannels)
    {
        MediaRecipe first, second;
        first.format = second.format = "mp2";
        first.seconds = second.seconds = 1.0;
        first.audio = AudioTrack{"mp2", firstRate, firstChannels};
        second.audio = AudioTrack{"mp2", secondRate, secondChannels};
        WriteMediaFile(dir.File("a.mp2"), first);
        WriteMediaFile(dir.File("b.mp2"), second);
        std::ofstream joined(dir.File("joined.mp2"), std::ios::binary);
        for (const char *part : {"a.mp2", "b.mp2"}) {
            std::ifstream in(dir.File(part), std::ios::binary);
            joined << in.rdbuf();
        }
        return dir.File("joined.mp2");
    }

    TempDir dir;
};

constexpr double kSineRms = 0.5 / 1.41421356; // a sine at half of full scale

} // namespace

TEST_F(AudioOutTest, AWaveBecomesAnMp3WithTheSameSound)
{
    const std::string input = Wave("in.wav", 3.0, 44100, 2);
    ASSERT_TRUE(Convert(input, dir.File("out.mp3"), "", "ab=128000")) << engine.ErrorMessage;
    EXPECT_EQ(engine.ErrorOccurred, 0);

    const DecodedAudio out = DecodeAudio(dir.File("out.mp3"));
    // The same tone given to the encoder directly: what the encoder itself does to the level.
    WriteSineMp3(dir.File("direct.mp3"), 3.0);
    const double reference = Measure(DecodeAudio(dir.File("direct.mp3")), 0, 0.5, 2.5).rms;
    EXPECT_EQ(out.sampleRate, 44100);
    EXPECT_EQ(out.channels, 2);
    for (int channel = 0; channel < 2; ++channel) {
        const ToneFigures figures = Measure(out, channel, 0.5, 2.5);
        EXPECT_NEAR(figures.frequency, 440.0, 1.0);
        EXPECT_NEAR(figures.rms, reference, reference * 0.01);
        EXPECT_NEAR(figures.rms, kSineRms, kSineRms * 0.06); // within half a decibel of the input
        EXPECT_LE(figures.longestQuietRun, 3) << "a gap in the sound";
    }
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(dir.File("out.mp3")));
    TAVFormatInfo info;
    probe.GetFormatInfo(info);
    EXPECT_NEAR(info.BitRate, 128000, 4000);
    EXPECT_STREQ(probe.FormatContext()->streams[0]->codecpar->codec_id == AV_CODEC_ID_MP3 ? "mp3" : "other", "mp3");
}

// Every length decodes to itself, around the encoder's frame boundaries too, and the header names the
// encoder as the decoders that honour its delay and padding look for.
TEST_F(AudioOutTest, AnMp3DecodesToExactlyTheLengthOfItsSource)
{
    for (const int samples : {4608, 4609, 4654, 4655, 4656, 5759, 115205}) {
        const std::string input = Wave("in.wav", samples / 44100.0, 44100, 2);
        ASSERT_EQ(ConvertAlone(input, dir.File("out.mp3")), "");
        EXPECT_EQ(DecodeAudio(dir.File("out.mp3")).Frames(), static_cast<size_t>(samples)) << samples;
        std::ifstream file(dir.File("out.mp3"), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        const size_t header = bytes.find("Info");
        ASSERT_NE(header, std::string::npos);
        // After the flags, the frame count, the byte count, the seek table and the quality.
        EXPECT_TRUE(std::regex_match(bytes.substr(header + 4 + 4 + 4 + 4 + 100 + 4, 9), std::regex("LAME\\d\\.\\d+")))
            << bytes.substr(header + 120, 9);
    }
}

TEST_F(AudioOutTest, CommonSoundFormatsBecomeWaves)
{
    struct Case {
        const char *file;
        const char *codec;
        int sampleRate;
        int delay;          // samples a decoder may add or drop at either end
        const char *output; // the WAV's codec and samples: the source's, 16-bit from a lossy one
        int bits;
    };
    const Case cases[] = {
        {"u8.wav", "pcm_u8", 22050, 0, "pcm_u8, 22050 Hz, stereo, u8", 8},
        {"s24.wav", "pcm_s24le", 96000, 0, "pcm_s24le, 96000 Hz, stereo, s32", 24},
        {"float.wav", "pcm_f32le", 44100, 0, "pcm_f32le, 44100 Hz, stereo, flt", 32},
        {"lossless.flac", "flac", 44100, 0, "pcm_s16le, 44100 Hz, stereo, s16", 16},
        {"sound.m4a", "aac", 44100, 2048, "pcm_s16le, 44100 Hz, stereo, s16", 16},
        {"sound.ogg", "libvorbis", 44100, 2048, "pcm_s16le, 44100 Hz, stereo, s16", 16},
        {"speech.opus", "libopus", 48000, 960, "pcm_s16le, 48000 Hz, stereo, s16", 16},
        {"music.mp3", "libmp3lame", 32000, 1152 + 1105, "pcm_s16le, 32000 Hz, stereo, s16", 16},
        {"phone.mka", "pcm_alaw", 8000, 0, "pcm_s16le, 8000 Hz, stereo, s16", 16},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        MediaRecipe recipe;
        recipe.seconds = 1.0;
        recipe.audio = AudioTrack{c.codec, c.sampleRate, 2};
        WriteMediaFile(dir.File(c.file), recipe);
        TCustomFFmpeg e;
        e.InitializeJob();
        ASSERT_TRUE(e.AddInputFile(dir.File(c.file))) << e.LastErrorText;
        ASSERT_TRUE(e.AddOutputFile(dir.File("out.wav"))) << e.LastErrorText;
        LibraryLogCapture log;
        e.Start(false, tpNormal);
        ASSERT_EQ(e.ErrorMessage, "");
        // The output listing describes the stream being written.
        const std::string described = FormatText("Audio: %s, %d kb/s", c.output, c.sampleRate * 2 * c.bits / 1000);
        std::string listing;
        for (const auto &[level, text] : log.Lines())
            listing += text;
        EXPECT_NE(listing.find(described), std::string::npos) << listing;
        // A WAV of a WAV of the same kind holds the very same samples.
        if (std::string(c.output).rfind(c.codec, 0) == 0) {
            EXPECT_TRUE(WaveSamples(dir.File("out.wav")) == WaveSamples(dir.File(c.file)));
        }
        const DecodedAudio out = DecodeAudio(dir.File("out.wav"));
        EXPECT_EQ(out.sampleRate, c.sampleRate);
        EXPECT_EQ(out.channels, 2);
        EXPECT_NEAR(static_cast<double>(out.Frames()), c.sampleRate, c.delay + 1.0);
        for (int channel = 0; channel < 2; ++channel) {
            const ToneFigures figures = Measure(out, channel, 0.2, 0.8);
            EXPECT_NEAR(figures.frequency, 440.0, 2.0);
            EXPECT_NEAR(figures.rms, kSineRms, kSineRms * 0.06);
            EXPECT_LE(figures.longestQuietRun, 3) << "a gap in the sound";
        }
    }
}

// A sample of a WAV's data at a position, as a fraction of full scale.
double Sample(const std::string &bytes, size_t index, const std::string &kind)
{
    const auto byte = [&](size_t at) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])); };
    if (kind == "f32") {
        const uint32_t bits =
            byte(4 * index) | byte(4 * index + 1) << 8 | byte(4 * index + 2) << 16 | byte(4 * index + 3) << 24;
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    const size_t width = kind == "s16" ? 2 : kind == "s24" ? 3 : 4;
    uint32_t word = 0;
    for (size_t b = 0; b < width; ++b)
        word |= byte(width * index + b) << (8 * (4 - width + b));
    return static_cast<int32_t>(word) / 2147483648.0;
}

// Reductions are dithered with triangular noise and rounded: the error averages out instead of the
// half-step bias of cutting the low bits off.
TEST_F(AudioOutTest, AReductionIsDitheredNotCut)
{
    const struct {
        const char *source, *kind, *target, *targetKind;
        int targetBits;
    } cases[] = {{"pcm_s24le", "s24", "pcm_s16le", "s16", 16},
                 {"pcm_f32le", "f32", "pcm_s16le", "s16", 16},
                 {"pcm_f32le", "f32", "pcm_s24le", "s24", 24},
                 {"pcm_s32le", "s32", "pcm_s24le", "s24", 24}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.source) + " to " + c.target);
        MediaRecipe recipe;
        recipe.audio = AudioTrack{c.source, 44100, 2, 440.0, 0.5};
        WriteMediaFile(dir.File("in.wav"), recipe);
        ASSERT_EQ(ConvertAlone(dir.File("in.wav"), dir.File("out.wav"), {{"acodec", c.target}}), "");
        const std::string in = WaveSamples(dir.File("in.wav")), out = WaveSamples(dir.File("out.wav"));
        const size_t count = out.size() / (c.targetBits / 8);
        const double step = std::ldexp(1.0, c.targetBits - 1);
        double error = 0;
        size_t changed = 0;
        for (size_t i = 0; i < count; ++i) {
            const double source = Sample(in, i, c.kind) * step, reduced = Sample(out, i, c.targetKind) * step;
            error += reduced - source;
            changed += reduced != std::floor(source); // what cutting off the low bits would give
        }
        EXPECT_LT(std::fabs(error / count), 0.06) << "a bias of " << error / count << " steps";
        EXPECT_GT(static_cast<double>(changed), count / 4.0) << "cut, not dithered";
    }
}

TEST_F(AudioOutTest, ResamplingStartsWithTheFirstBlock)
{
    const std::string input = Wave("in.wav", 2.0, 48000, 2);
    ASSERT_TRUE(Convert(input, dir.File("out.mp3"), "", "acodec=libmp3lame\nar=44100")) << engine.ErrorMessage;
    const DecodedAudio out = DecodeAudio(dir.File("out.mp3"));
    EXPECT_EQ(out.sampleRate, 44100);
    EXPECT_NEAR(static_cast<double>(out.Frames()), 2.0 * 44100, 1152 + 1105);
    const ToneFigures start = Measure(out, 0, 0.01, 0.2);
    EXPECT_NEAR(start.frequency, 440.0, 8.0);
    EXPECT_NEAR(start.rms, kSineRms, kSineRms * 0.07);
    EXPECT_NEAR(Measure(out, 1, 0.5, 1.5).frequency, 440.0, 1.0);
}

TEST_F(AudioOutTest, VolumeScalesAndClips)
{
    struct Case {
        int volume;
        double amplitude;
    };
    // 200000 takes loud samples past the range of a 32-bit product of sample and volume.
    for (const Case &c : {Case{512, 0.75}, Case{200000, 0.5}, Case{128, 0.5}}) {
        SCOPED_TRACE(c.volume);
        const std::string input = Wave("in.wav", 0.5, 44100, 2, c.amplitude);
        engine.InitializeJob();
        ASSERT_TRUE(Convert(input, dir.File("scaled.wav"), "", FormatText("vol=%d", c.volume))) << engine.ErrorMessage;
        const DecodedAudio in = DecodeAudio(input), out = DecodeAudio(dir.File("scaled.wav"));
        ASSERT_EQ(out.samples.size(), in.samples.size());
        int clipped = 0;
        for (size_t i = 0; i < in.samples.size(); ++i) {
            const int64_t expected = std::clamp<int64_t>((int64_t{in.samples[i]} * c.volume + 128) >> 8, -32768, 32767);
            ASSERT_EQ(out.samples[i], expected) << "sample " << i;
            clipped += out.samples[i] == 32767 || out.samples[i] == -32768;
        }
        if (c.volume > 256)
            EXPECT_GT(clipped, 1000);
        else
            EXPECT_EQ(clipped, 0);
    }
}

TEST_F(AudioOutTest, AnAudioFrameLimitEndsAnEncodedStream)
{
    const std::string input = Wave("long.wav", 10.0, 44100, 2);
    ASSERT_TRUE(Convert(input, dir.File("short.mp3"), "", "aframes=5")) << engine.ErrorMessage;
    const size_t frames = DecodeAudio(dir.File("short.mp3")).Frames();
    EXPECT_GE(frames, 4u * 1152u);
    EXPECT_LE(frames, 10u * 1152u); // five frames, plus what the encoder and the FIFO still held
}

TEST_F(AudioOutTest, ARateChangeInMidStreamLosesNoSamples)
{
    ASSERT_TRUE(Convert(JoinedMp2(32000, 1, 24000, 1), dir.File("out.wav"), "", "ar=48000\nac=1"))
        << engine.ErrorMessage;
    // Each part alone, resampled to 48000 Hz: nothing of either may go missing at the change.
    const double expected = DecodeAudio(dir.File("a.mp2")).Frames() * 48000.0 / 32000 +
                            DecodeAudio(dir.File("b.mp2")).Frames() * 48000.0 / 24000;
    const DecodedAudio out = DecodeAudio(dir.File("out.wav"));
    EXPECT_NEAR(static_cast<double>(out.Frames()), expected, 2.0);
    EXPECT_NEAR(Measure(out, 0, 0.2, 0.8).frequency, 440.0, 2.0);
    EXPECT_NEAR(Measure(out, 0, 1.3, 1.8).frequency, 440.0, 2.0);
}

TEST_F(AudioOutTest, PcmOutputGetsOnePacketPerBlock)
{
    MediaRecipe recipe;
    recipe.format = "matroska";
    recipe.seconds = 1.0;
    recipe.audio = AudioTrack{"pcm_s16le", 44100, 2, 440.0, 0.5, 0, 1000};
    WriteMediaFile(dir.File("in.mka"), recipe);
    ASSERT_TRUE(Convert(dir.File("in.mka"), dir.File("out.mka"), "", "acodec=pcm_s16le")) << engine.ErrorMessage;
    const auto count = [](const std::string &path) {
        AVFormatContext *raw = nullptr;
        avformat.avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
        InputFormatContextPtr file(raw);
        AVPacketPtr packet(avcodec.av_packet_alloc());
        std::vector<int> sizes;
        while (avformat.av_read_frame(raw, packet.get()) >= 0) {
            sizes.push_back(packet->size);
            avcodec.av_packet_unref(packet.get());
        }
        return sizes;
    };
    const std::vector<int> in = count(dir.File("in.mka")), out = count(dir.File("out.mka"));
    EXPECT_EQ(out, in);
    EXPECT_EQ(out.front(), 4000);
}

TEST_F(AudioOutTest, AsyncFillsALateStartWithSilence)
{
    MediaRecipe recipe;
    recipe.format = "matroska";
    recipe.seconds = 1.0;
    recipe.audio = AudioTrack{"pcm_s16le", 44100, 2};
    recipe.muxerOptions = {{"output_ts_offset", "0.5"}};
    WriteMediaFile(dir.File("late.mka"), recipe);
    ASSERT_TRUE(Convert(dir.File("late.mka"), dir.File("out.wav"), "copyts=", "async=1\nv=3")) << engine.ErrorMessage;
    engine.SetVerbose(1);
    const auto lines = recorder.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), LogLine{1, "adding 22050 audio samples of silence"}), lines.end());
    const DecodedAudio out = DecodeAudio(dir.File("out.wav"));
    EXPECT_EQ(out.Frames(), 22050u + 44100u);
    for (size_t i = 0; i < 22050 * 2; ++i)
        ASSERT_EQ(out.samples[i], 0) << i;
    EXPECT_NEAR(Measure(out, 0, 0.6, 1.4).frequency, 440.0, 1.0);
}

TEST_F(AudioOutTest, SmallDriftsAreLeftOrCompensated)
{
    const struct {
        int gap; // samples the timestamps jump
        const char *async;
        bool compensates;
    } cases[] = {{40, "1", false}, {200, "100", true}};
    for (const auto &c : cases) {
        MediaRecipe recipe;
        recipe.format = "matroska";
        recipe.seconds = 2.0;
        recipe.audio = AudioTrack{"pcm_s16le", 44100, 2};
        recipe.audio->gapAt = 1.0;
        recipe.audio->gapSamples = c.gap;
        recipe.muxerOptions = {{"output_ts_offset", "0.1"}}; // a late start clears the start state first
        const std::string input = dir.File("drift" + std::to_string(c.gap) + ".mka");
        WriteMediaFile(input, recipe);
        engine.InitializeJob();
        const size_t from = recorder.Lines().size();
        ASSERT_TRUE(Convert(input, dir.File("drift.wav"), "copyts=", std::string("async=") + c.async + "\nv=3"))
            << engine.ErrorMessage;
        engine.SetVerbose(1);
        int compensations = 0, insertions = 0;
        const auto lines = recorder.Lines();
        for (const LogLine &line : std::vector<LogLine>(lines.begin() + from, lines.end())) {
            if (std::regex_match(line.text,
                                 std::regex(R"(compensating audio timestamp drift:[0-9.]+ compensation:100 in:44100)")))
                ++compensations;
            if (line.text.rfind("adding ", 0) == 0)
                ++insertions;
        }
        EXPECT_EQ(insertions, 1) << c.gap; // the late start only
        if (c.compensates)
            EXPECT_GE(compensations, 1);
        else
            EXPECT_EQ(compensations, 0);
    }
}

TEST_F(AudioOutTest, AVideoFileToMp3KeepsOnlyItsSound)
{
    const struct {
        const char *input, *videoCodec, *audioCodec, *output;
    } cases[] = {
        {"clip.avi", "mpeg4", "mp2", "sound.mp3"},
        {"phone.mp4", "libx264", "aac", "sound.mp3"},
        {"phone.mp4", "libx264", "aac", "sound.wav"},
        {"web.webm", "libvpx", "libopus", "sound.mp3"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.input) + " -> " + c.output);
        MediaRecipe recipe;
        recipe.seconds = 1.0;
        recipe.video = VideoTrack{c.videoCodec};
        recipe.audio = AudioTrack{c.audioCodec, std::string(c.audioCodec) == "libopus" ? 48000 : 44100, 2};
        WriteMediaFile(dir.File(c.input), recipe);
        engine.InitializeJob();
        ASSERT_TRUE(Convert(dir.File(c.input), dir.File(c.output))) << engine.ErrorMessage;
        ASSERT_EQ(engine.ErrorMessage, "");
        TAVProbe probe;
        ASSERT_TRUE(probe.LoadFile(dir.File(c.output)));
        EXPECT_EQ(probe.StreamCount, 1);
        EXPECT_EQ(probe.AudioCount, 1);
        const DecodedAudio sound = DecodeAudio(dir.File(c.output));
        EXPECT_NEAR(static_cast<double>(sound.Frames()) / sound.sampleRate, 1.0, 0.1);
        EXPECT_NEAR(Measure(sound, 0, 0.2, 0.8).frequency, 440.0, 2.0);
        EXPECT_NEAR(Measure(sound, 0, 0.2, 0.8).rms, kSineRms, kSineRms * 0.06);
    }
}

TEST_F(AudioOutTest, AVideoOnlyInputHasNothingForAnMp3)
{
    MediaRecipe recipe;
    recipe.seconds = 0.2;
    recipe.video = VideoTrack{};
    WriteMediaFile(dir.File("silent.avi"), recipe);
    ASSERT_TRUE(engine.AddInputFile(dir.File("silent.avi")));
    ASSERT_TRUE(engine.AddOutputFile(dir.File("out.mp3"))) << engine.LastErrorText;
    engine.Start(false, tpNormal);
    EXPECT_EQ(engine.ErrorMessage, "Output file does not contain any stream");
}

TEST_F(AudioOutTest, DamagedInputsConvertAsFarAsTheyGo)
{
    const std::string wave = Wave("cut.wav", 2.0, 44100, 2);
    std::filesystem::resize_file(wave, std::filesystem::file_size(wave) / 2);
    ASSERT_TRUE(Convert(wave, dir.File("cut.mp3"))) << engine.ErrorMessage;
    EXPECT_NEAR(static_cast<double>(DecodeAudio(dir.File("cut.mp3")).Frames()), 44100.0, 2000.0);

    WriteSineMp3(dir.File("whole.mp3"), 3.0);
    std::ifstream in(dir.File("whole.mp3"), std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), {}};
    for (size_t i = bytes.size() / 3; i < bytes.size() / 3 + 2000; ++i)
        bytes[i] = static_cast<char>(i * 31);
    std::ofstream(dir.File("broken.mp3"), std::ios::binary) << bytes;
    engine.InitializeJob();
    ASSERT_TRUE(Convert(dir.File("broken.mp3"), dir.File("repaired.wav")));
    EXPECT_EQ(engine.ErrorMessage, "");
    const DecodedAudio repaired = DecodeAudio(dir.File("repaired.wav"));
    EXPECT_GT(repaired.Frames(), 2u * 44100u);
    const double end = static_cast<double>(repaired.Frames()) / repaired.sampleRate;
    EXPECT_NEAR(Measure(repaired, 0, end - 0.6, end - 0.1).frequency, 440.0, 2.0);
}

TEST_F(AudioOutTest, AChannelChangeInMidStreamIsFollowed)
{
    ASSERT_TRUE(Convert(JoinedMp2(44100, 2, 44100, 1), dir.File("out.wav"), "", "ac=2")) << engine.ErrorMessage;
    const DecodedAudio out = DecodeAudio(dir.File("out.wav"));
    EXPECT_EQ(out.channels, 2);
    EXPECT_NEAR(static_cast<double>(out.Frames()), 2.0 * 44100, 3 * 1152);
    EXPECT_NEAR(Measure(out, 0, 0.2, 0.8).frequency, 440.0, 2.0);
    EXPECT_NEAR(Measure(out, 1, 1.2, 1.8).frequency, 440.0, 2.0);
}

TEST_F(AudioOutTest, SilenceForManyChannelsKeepsThemAligned)
{
    MediaRecipe recipe;
    recipe.format = "matroska";
    recipe.seconds = 1.0;
    recipe.audio = AudioTrack{"pcm_s16le", 44100, 6};
    recipe.muxerOptions = {{"output_ts_offset", "0.5"}};
    WriteMediaFile(dir.File("late6.mka"), recipe);
    ASSERT_TRUE(Convert(dir.File("late6.mka"), dir.File("out.wav"), "copyts=", "async=1")) << engine.ErrorMessage;
    const DecodedAudio out = DecodeAudio(dir.File("out.wav"));
    ASSERT_EQ(out.channels, 6);
    EXPECT_NEAR(static_cast<double>(out.Frames()), 22050.0 + 44100.0, 50.0);
    for (size_t frame = 0; frame < out.Frames(); ++frame)
        ASSERT_EQ(out.samples[frame * 6], out.samples[frame * 6 + 5]) << "channels slipped at frame " << frame;
}

TEST_F(AudioOutTest, AudioSyncedToAStreamNothingReadsStillPlays)
{
    MediaRecipe recipe;
    recipe.seconds = 1.0;
    recipe.video = VideoTrack{};
    recipe.audio = AudioTrack{"mp2", 44100, 2};
    WriteMediaFile(dir.File("clip.avi"), recipe);
    ASSERT_TRUE(Convert(dir.File("clip.avi"), dir.File("sound.mka"), "", "map=0.1:0.0\nacodec=pcm_s16le"))
        << engine.ErrorMessage;
    EXPECT_NEAR(static_cast<double>(DecodeAudio(dir.File("sound.mka")).Frames()), 44100.0, 1152.0);
}

TEST_F(AudioOutTest, BlocksAreCutIntoWholeEncoderFrames)
{
    struct Case {
        int blockSamples; // 1152 samples of stereo 16-bit audio are 4608 bytes, 1250 are 5000
        int blocks;
    };
    for (const Case &c : {Case{1152, 40}, Case{1250, 40}}) {
        MediaRecipe recipe;
        recipe.format = "matroska";
        recipe.seconds = static_cast<double>(c.blockSamples) * c.blocks / 44100.0;
        recipe.audio = AudioTrack{"pcm_s16le", 44100, 2, 440.0, 0.5, 0, c.blockSamples};
        const std::string input = dir.File("blocks" + std::to_string(c.blockSamples) + ".mka");
        WriteMediaFile(input, recipe);
        TCustomFFmpeg e;
        e.InitializeJob();
        ASSERT_TRUE(e.AddInputFile(input));
        e.SetOption("acodec", "mp2");
        ASSERT_TRUE(e.AddOutputFile(dir.File("out.mka")));
        e.Start(false, tpNormal);
        ASSERT_EQ(e.ErrorMessage, "");
        // Every 1152 samples make one frame; the rest at the end makes one more, padded.
        AVFormatContext *raw = nullptr;
        ASSERT_GE(avformat.avformat_open_input(&raw, dir.File("out.mka").c_str(), nullptr, nullptr), 0);
        InputFormatContextPtr output(raw);
        AVPacketPtr packet(avcodec.av_packet_alloc());
        int frames = 0;
        while (avformat.av_read_frame(raw, packet.get()) >= 0) {
            ++frames;
            avcodec.av_packet_unref(packet.get());
        }
        const int samples = c.blockSamples * c.blocks;
        EXPECT_EQ(frames, (samples + 1151) / 1152) << c.blockSamples;
    }
}

// Layouts given as library options take effect when the encoder opens; everything after is sized
// from the opened encoder (the sanitizers catch any buffer sized from before). A source's shape the
// encoder lacks becomes its nearest, and is said; what was asked but cannot be taken is refused.
TEST_F(AudioOutTest, TheOutputTakesTheShapeAskedOrTheEncodersNearest)
{
    const struct {
        int rate, channels;
        const char *options, *output;
        int outRate, outChannels, sounding; // an upmix leaves the channels the source has no sound for silent
        const char *said;                   // the shape the encoder lacks; empty: none
    } cases[] = {
        {44100, 2, "channel_layout=mono", "mono.mp3", 44100, 1, 1, ""},
        {44100, 2, "ac=4\nchannel_layout=stereo", "stereo.mp3", 44100, 2, 2, ""},
        {44100, 2, "ch_layout=mono", "mono.wav", 44100, 1, 1, ""},
        {44100, 2, "ch_layout=quad", "quad.wav", 44100, 4, 2, ""},
        {44100, 2, "ac=1", "down.wav", 44100, 1, 1, ""},
        {96000, 2, "", "out.mp3", 48000, 2, 2, "Sample rate 96000 Hz"},
        {88200, 2, "", "out.mp3", 48000, 2, 2, "Sample rate 88200 Hz"},
        {44100, 6, "", "out.mp3", 44100, 2, 2, "Channel layout '5.1'"},
        {192000, 6, "", "out.mp3", 48000, 2, 2, "Sample rate 192000 Hz"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(FormatText("%d Hz, %d channels [%s] -> %s", c.rate, c.channels, c.options, c.output));
        engine.InitializeJob();
        ASSERT_TRUE(Convert(Wave("in.wav", 1.0, c.rate, c.channels), dir.File(c.output), "", c.options))
            << engine.ErrorMessage;
        const DecodedAudio out = DecodeAudio(dir.File(c.output));
        EXPECT_EQ(out.sampleRate, c.outRate);
        EXPECT_EQ(out.channels, c.outChannels);
        EXPECT_NEAR(static_cast<double>(out.Frames()), c.outRate, std::string(c.output).ends_with(".wav") ? 0 : 2400);
        for (int channel = 0; channel < out.channels; ++channel) {
            const ToneFigures figures = Measure(out, channel, 0.2, 0.8);
            EXPECT_NEAR(figures.frequency, channel < c.sounding ? 440.0 : 0.0, 2.0) << channel;
            EXPECT_GE(figures.rms, channel < c.sounding ? kSineRms * 0.5 : 0.0) << channel;
        }
        const bool rate = c.said[0] == 'S';
        if (*c.said) {
            EXPECT_TRUE(recorder.HasLine(FormatText("%s is not supported by encoder 'libmp3lame', using %s", c.said,
                                                    rate ? "48000 Hz" : "'stereo'")));
        }
    }
    const std::string lacks = " is not supported by encoder 'libmp3lame'; it supports ";
    const std::string layout = "Channel layout '5.1'" + lacks + "mono, stereo";
    for (const auto &[options, message] : std::map<std::string, std::string>{
             {"ar=96000",
              "Sample rate 96000 Hz" + lacks + "44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000"},
             {"ac=6", layout},
             {"channel_layout=5.1", layout}}) {
        engine.InitializeJob();
        ASSERT_TRUE(engine.AddInputFile(Wave("in.wav", 0.2, 44100, 2)));
        engine.ParseOptionLines(options);
        EXPECT_FALSE(engine.AddOutputFile(dir.File("out.mp3"))) << options;
        EXPECT_EQ(engine.LastErrorText, "new_audio_stream fail: " + message);
    }
}

TEST_F(AudioOutTest, MonoFillsStereoAtFullLevelAndSurroundFoldsDownWithoutClipping)
{
    const std::string mono = Wave("mono.wav", 1.0, 44100, 1);
    ASSERT_TRUE(Convert(mono, dir.File("stereo.wav"), "", "ac=2")) << engine.ErrorMessage;
    const DecodedAudio stereo = DecodeAudio(dir.File("stereo.wav"));
    ASSERT_EQ(stereo.channels, 2);
    EXPECT_EQ(stereo.Frames(), 44100u);
    for (int channel = 0; channel < 2; ++channel) {
        EXPECT_NEAR(Measure(stereo, channel, 0.1, 0.9).frequency, 440.0, 1.0);
        EXPECT_NEAR(Measure(stereo, channel, 0.1, 0.9).rms, kSineRms, kSineRms * 0.01) << "channel " << channel;
    }

    // Every channel of the 5.1 source near full scale: summed unscaled, the fold-down would clip.
    engine.InitializeJob();
    const std::string surround = Wave("surround.wav", 1.0, 44100, 6, 0.9);
    ASSERT_TRUE(Convert(surround, dir.File("folded.wav"), "", "ac=2")) << engine.ErrorMessage;
    const DecodedAudio folded = DecodeAudio(dir.File("folded.wav"));
    ASSERT_EQ(folded.channels, 2);
    int peak = 0;
    for (int16_t sample : folded.samples)
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    EXPECT_LE(peak, static_cast<int>(0.91 * 32768));
    for (int channel = 0; channel < 2; ++channel)
        EXPECT_NEAR(Measure(folded, channel, 0.1, 0.9).rms, 0.9 / 1.41421356, 0.9 / 1.41421356 * 0.02);
}

// A start (seeking the input or gating the output) and a recording time cut the sound to the
// sample: a WAV or Matroska PCM holds the source's very samples from the start on, and an MP3's
// header tells the padding so that it decodes to exactly as many.
TEST_F(AudioOutTest, AStartAndARecordingTimeCutToTheSample)
{
    const struct {
        const char *source; // a 3-second tone made by the codec its name says
        const char *output, *inputOptions, *outputOptions;
        size_t first, samples; // of the source, in the output
    } cases[] = {
        {"pcm_s16le.wav", "out.wav", "ss=0.5", "t=1", 22050, 44100},
        {"pcm_s16le.wav", "out.mp3", "ss=0.5", "t=1", 22050, 44100},
        {"pcm_s16le.wav", "out.wav", "", "ss=0.5\nt=1", 22050, 44100},
        {"flac.flac", "out.wav", "ss=0.7071", "t=1.234", 31183, 54419},          // the seek lands before the start
        {"pcm_s16le.wav", "out.mka", "", "acodec=pcm_s16le\nt=1.023", 0, 45114}, // times in whole milliseconds
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(FormatText("%s [%s] -> %s [%s]", c.source, c.inputOptions, c.output, c.outputOptions));
        const std::string input = dir.File(c.source);
        if (!std::filesystem::exists(input)) {
            MediaRecipe recipe;
            recipe.seconds = 3.0;
            recipe.audio = AudioTrack{std::filesystem::path(input).stem().string()};
            WriteMediaFile(input, recipe);
        }
        engine.InitializeJob();
        ASSERT_TRUE(Convert(input, dir.File(c.output), c.inputOptions, c.outputOptions)) << engine.ErrorMessage;
        const DecodedAudio source = DecodeAudio(input), out = DecodeAudio(dir.File(c.output));
        ASSERT_EQ(out.Frames(), c.samples);
        if (!std::string(c.output).ends_with(".mp3")) {
            EXPECT_TRUE(std::equal(out.samples.begin(), out.samples.end(), source.samples.begin() + c.first * 2));
        }
    }
}

// An output takes its depth, rate and channels from the stream it converts (the first audio stream
// of the inputs, or the one mapped), not from another stream; what is asked for still wins.
TEST_F(AudioOutTest, TheShapeFollowsTheStreamConverted)
{
    AudioTrack surround{"flac", 48000, 6}, opus{"libopus", 48000, 2, 1000.0}, flac48{"flac", 48000, 2},
        flac44{"flac", 44100, 1, 1000.0};
    surround.sampleFormat = "s32"; // 24-bit
    const struct {
        std::vector<AudioTrack> streams; // of one Matroska file
        const char *options, *output;
        AVCodecID codec;
        int rate, channels;
        double frequency; // of the stream converted
    } cases[] = {
        {{surround, opus}, "", "out.wav", AV_CODEC_ID_PCM_S24LE, 48000, 6, 440.0},
        {{surround, opus}, "map=0.1", "out.wav", AV_CODEC_ID_PCM_S16LE, 48000, 2, 1000.0},
        {{flac48, flac44}, "", "out.wav", AV_CODEC_ID_PCM_S16LE, 48000, 2, 440.0},
        {{flac44, surround}, "map=0.1\nac=2", "out.wav", AV_CODEC_ID_PCM_S24LE, 48000, 2, 440.0},
        {{flac48, flac44}, "", "out.mp3", AV_CODEC_ID_MP3, 48000, 2, 440.0},
        {{surround, opus}, "ar=32000\nac=1", "out.wav", AV_CODEC_ID_PCM_S24LE, 32000, 1, 440.0},
        {{surround, opus}, "sample_fmt=s16", "out.wav", AV_CODEC_ID_PCM_S16LE, 48000, 6, 440.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(FormatText("%s from %d streams [%s]", c.output, static_cast<int>(c.streams.size()), c.options));
        MediaRecipe recipe;
        recipe.format = "matroska";
        recipe.audio = c.streams[0];
        recipe.moreAudio.assign(c.streams.begin() + 1, c.streams.end());
        WriteMediaFile(dir.File("in.mka"), recipe);
        engine.InitializeJob();
        ASSERT_TRUE(Convert(dir.File("in.mka"), dir.File(c.output), "", c.options)) << engine.ErrorMessage;
        TAVProbe probe;
        ASSERT_TRUE(probe.LoadFile(dir.File(c.output)));
        const AVCodecParameters *shape = probe.FormatContext()->streams[0]->codecpar;
        EXPECT_EQ(shape->codec_id, c.codec);
        EXPECT_EQ(shape->sample_rate, c.rate);
        EXPECT_EQ(shape->ch_layout.nb_channels, c.channels);
        EXPECT_NEAR(Measure(DecodeAudio(dir.File(c.output)), 0, 0.2, 0.8).frequency, c.frequency, 3.0);
    }
}
