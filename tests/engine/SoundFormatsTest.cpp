// Lossless outputs decode to their source's very samples at its depth; lossy ones to its length, at
// the rate asked.
#include "libs/TextFormat.h"
#include "tests/engine/OptionsFixture.h"
#include "tests/support/MediaFixtures.h"

#include <climits>
#include <cmath>

using namespace avlib;
using namespace testing_support;

namespace {

// A sound file's only stream as the libraries decode it, every sample a double (exact for 32-bit integers and
// floats), up to the end its packets give where they are timed in samples: the MP4 reader trims the
// encoder's delay by the edit list but leaves the last frame whole.
struct Sound {
    int rate = 0, channels = 0, bits = 0;         // bits: the decoder's bits_per_raw_sample, else the codec's
    AVSampleFormat format = AV_SAMPLE_FMT_NONE;   // packed
    int64_t bitRate = 0, duration = 0, bytes = 0; // the stream's own rate and length (0: none); its packets'
    int smallest = INT_MAX, largest = 0;          // packet
    std::vector<double> samples;
    int64_t Frames() const { return static_cast<int64_t>(samples.size()) / std::max(channels, 1); }
};

Sound Decode(const std::string &path)
{
    AVFormatContext *raw = nullptr;
    if (avformat.avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        throw std::runtime_error("cannot open " + path);
    InputFormatContextPtr file(raw);
    const AVStream *stream = avformat.avformat_find_stream_info(raw, nullptr) >= 0 ? raw->streams[0] : nullptr;
    const AVCodec *codec = stream ? avcodec.avcodec_find_decoder(stream->codecpar->codec_id) : nullptr;
    AVCodecContextPtr decoder(avcodec.avcodec_alloc_context3(codec));
    if (!codec || avcodec.avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0)
        throw std::runtime_error("cannot decode " + path);
    decoder->pkt_timebase = stream->time_base;
    if (avcodec.avcodec_open2(decoder.get(), codec, nullptr) < 0)
        throw std::runtime_error("cannot decode " + path);
    const bool timed = stream->time_base.num == 1 && stream->time_base.den == decoder->sample_rate;
    Sound sound;
    sound.rate = decoder->sample_rate;
    sound.channels = decoder->ch_layout.nb_channels;
    sound.bitRate = stream->codecpar->bit_rate;
    sound.duration = timed ? std::max<int64_t>(stream->duration, 0) : 0;
    int64_t end = 0;
    AVPacketPtr packet(avcodec.av_packet_alloc());
    AVFramePtr frame(avutil.av_frame_alloc());
    for (bool more = true; more;) {
        more = avformat.av_read_frame(raw, packet.get()) >= 0;
        if (more) {
            end = std::max(end, packet->pts + packet->duration);
            sound.bytes += packet->size;
            sound.smallest = std::min(sound.smallest, packet->size);
            sound.largest = std::max(sound.largest, packet->size);
        }
        avcodec.avcodec_send_packet(decoder.get(), more ? packet.get() : nullptr);
        avcodec.av_packet_unref(packet.get());
        while (avcodec.avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
            const auto format = static_cast<AVSampleFormat>(frame->format);
            const bool planar = avutil.av_sample_fmt_is_planar(format);
            sound.format = avutil.av_get_packed_sample_fmt(format);
            for (int i = 0; i < frame->nb_samples * sound.channels; ++i) {
                const uint8_t *p = frame->extended_data[planar ? i % sound.channels : 0];
                const int at = planar ? i / sound.channels : i;
                const auto f = sound.format;
                sound.samples.push_back(f == AV_SAMPLE_FMT_U8    ? (p[at] - 128) / 128.0
                                        : f == AV_SAMPLE_FMT_S16 ? reinterpret_cast<const int16_t *>(p)[at] / 32768.0
                                        : f == AV_SAMPLE_FMT_S32
                                            ? reinterpret_cast<const int32_t *>(p)[at] / 2147483648.0
                                            : reinterpret_cast<const float *>(p)[at]);
            }
            avutil.av_frame_unref(frame.get());
        }
    }
    sound.bits =
        decoder->bits_per_raw_sample ? decoder->bits_per_raw_sample : avcodec.av_get_bits_per_sample(decoder->codec_id);
    if (timed && end > 0 && sound.Frames() > end)
        sound.samples.resize(static_cast<size_t>(end * sound.channels));
    return sound;
}

class SoundFormatsTest : public OptionsTest {
protected:
    // Stereo music-like sound of the codec's kind ("pcm_s24le" in 32-bit words), made once.
    std::string Source(const std::string &codec, int rate, int64_t frames, double accents = 0.0)
    {
        const std::string path =
            dir.File(FormatText("%s-%d-%lld-%g.wav", codec.c_str(), rate, static_cast<long long>(frames), accents));
        MediaRecipe recipe;
        recipe.seconds = static_cast<double>(frames) / rate;
        recipe.audio = AudioTrack{codec, rate, 2};
        recipe.audio->music = true;
        recipe.audio->accentEvery = accents;
        recipe.audio->sampleFormat = codec == "pcm_s24le" ? "s32" : "";
        if (!std::filesystem::exists(path))
            WriteMediaFile(path, recipe);
        return path;
    }

    TempDir dir;
};

} // namespace

TEST_F(SoundFormatsTest, LosslessOutputsKeepTheSourcesSamplesAndDepth)
{
    constexpr auto s16 = AV_SAMPLE_FMT_S16, s32 = AV_SAMPLE_FMT_S32, flt = AV_SAMPLE_FMT_FLT;
    const struct {
        const char *output, *encoder, *source;
        AVSampleFormat format; // as decoded, packed
        int bits;
        bool dithered; // to 24 bits: within one and a half steps of the source, with no bias
    } cases[] = {
        {"out.flac", "flac", "pcm_s16le", s16, 16, false},  {"out.flac", "flac", "pcm_s24le", s32, 24, false},
        {"out.flac", "flac", "pcm_s32le", s32, 24, true},   {"out.flac", "flac", "pcm_f32le", s32, 24, true},
        {"out.m4a", "alac", "pcm_s16le", s16, 16, false},   {"out.m4a", "alac", "pcm_s24le", s32, 24, false},
        {"out.m4a", "alac", "pcm_f32le", s32, 24, true},    {"out.wv", "wavpack", "pcm_s16le", s16, 16, false},
        {"out.wv", "wavpack", "pcm_s24le", s32, 24, false}, {"out.wv", "wavpack", "pcm_f32le", flt, 32, false},
        {"out.aiff", nullptr, "pcm_s16le", s16, 16, false}, {"out.aiff", nullptr, "pcm_s24le", s32, 24, false},
        {"out.aiff", nullptr, "pcm_f32le", flt, 32, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(FormatText("%s from %s", c.encoder ? c.encoder : c.output, c.source));
        const std::string source = Source(c.source, 44100, 88207); // two seconds and an odd end
        std::map<std::string, std::string> options;
        if (c.encoder)
            options["acodec"] = c.encoder;
        ASSERT_EQ(ConvertAlone(source, dir.File(c.output), options), "");
        const Sound in = Decode(source), out = Decode(dir.File(c.output));
        EXPECT_EQ(out.format, c.format);
        EXPECT_EQ(out.bits, c.bits);
        ASSERT_EQ(out.samples.size(), in.samples.size());
        double bias = 0, worst = 0; // in steps of 24 bits
        for (size_t i = 0; i < in.samples.size(); ++i) {
            ASSERT_TRUE(c.dithered || out.samples[i] == in.samples[i]) << "sample " << i;
            bias += (out.samples[i] - in.samples[i]) * 0x1p23;
            worst = std::max(worst, std::fabs(out.samples[i] - in.samples[i]) * 0x1p23);
        }
        EXPECT_LT(worst, 1.5);
        EXPECT_LT(std::fabs(bias / static_cast<double>(in.samples.size())), 0.05) << "cut, not dithered";
    }
}

// Lossy outputs decode to the source's length where the container keeps the encoder's delay and
// padding (Opus and Vorbis in Ogg, AAC in M4A); Opus at 48 kHz to the samples whose instants fall
// within the source. Raw AAC, AC3 and MP2 keep both; the libraries' WMA decoder drops its first
// frame. A rate asked is met, a constant one in every packet.
TEST_F(SoundFormatsTest, LossyOutputsKeepTheSourcesLengthAndTheRateAsked)
{
    const struct {
        const char *output, *encoder, *option, *value;
        int rate;
        double accents;
        int64_t lost, added;   // at most, at either end
        bool stated, constant; // the container keeps the rate; every packet holds as much
    } cases[] = {
        {"out.opus", "libopus", "ab", "128000", 48000, 0, 0, 0, false, false},
        {"out.opus", "libopus", "ab", "128000", 44100, 0, 0, 0, false, false},
        {"out.ogg", "libvorbis", "aq", "5", 44100, 0, 0, 0, false, false},
        {"out.m4a", "aac", "ab", "96000", 44100, 0, 0, 0, true, false},
        {"out.m4a", "aac", "ab", "192000", 48000, 0, 0, 0, true, false},
        {"out.m4a", "aac", "ab", "320000", 44100, 0.125, 0, 0, true, false},
        {"out.aac", "aac", "ab", "192000", 44100, 0, 0, 2 * 1024, false, false},
        {"out.ac3", "ac3", "ab", "192000", 44100, 0, 0, 2 * 1536, true, true},
        {"out.mp2", "mp2", "ab", "192000", 48000, 0, 0, 2 * 1152, true, true},
        {"out.wma", "wmav2", "ab", "128000", 44100, 0, 2048, 2048, true, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(FormatText("%s %s=%s from %d Hz", c.encoder, c.option, c.value, c.rate));
        const int64_t frames = 4 * c.rate + 7;
        const std::string source = Source("pcm_s16le", c.rate, frames, c.accents);
        ASSERT_EQ(ConvertAlone(source, dir.File(c.output), {{"acodec", c.encoder}, {c.option, c.value}}), "");
        const Sound out = Decode(dir.File(c.output));
        const int rate = std::string(c.encoder) == "libopus" ? 48000 : c.rate;
        const auto length = static_cast<int64_t>(std::ceil(static_cast<double>(frames) * rate / c.rate));
        EXPECT_EQ(out.rate, rate);
        EXPECT_EQ(out.channels, 2);
        EXPECT_GE(out.Frames(), length - c.lost);
        EXPECT_LE(out.Frames(), length + c.added);
        EXPECT_EQ(c.stated && out.duration > 0 ? out.duration : length, length) << "as the stream says";
        if (std::string(c.option) != "ab")
            continue;
        const double asked = std::stod(c.value), seconds = static_cast<double>(frames) / c.rate;
        EXPECT_NEAR(static_cast<double>(out.bytes) * 8 / seconds, asked, asked * 0.05);
        EXPECT_NEAR(c.stated ? static_cast<double>(out.bitRate) : asked, asked, asked * 0.05) << "as the stream says";
        EXPECT_LE(c.constant ? out.largest - out.smallest : 0, 2) << "a padding slot at most";
    }
}
