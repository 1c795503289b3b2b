#include "engine/AudioShape.h"

#include "libs/AVEntryPoints.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

using namespace avlib;

namespace audio_shape {

AVChannelLayout FromMask(uint64_t mask)
{
    AVChannelLayout layout{};
    layout.order = AV_CHANNEL_ORDER_NATIVE;
    layout.nb_channels = std::popcount(mask);
    layout.u.mask = mask;
    return layout;
}

AVChannelLayout Usable(const AVChannelLayout &layout, int channels)
{
    if (layout.order == AV_CHANNEL_ORDER_NATIVE && layout.nb_channels == channels &&
        std::popcount(layout.u.mask) == channels)
        return FromMask(layout.u.mask);
    AVChannelLayout fallback{};
    avutil.av_channel_layout_default(&fallback, channels);
    return fallback;
}

std::string Describe(const AVChannelLayout &layout)
{
    char text[128] = "";
    if (avutil.av_channel_layout_describe(&layout, text, sizeof text) > 0 && text[0])
        return text;
    return std::to_string(layout.nb_channels) + " channels";
}

bool TakesRate(const AVCodec *encoder, int rate)
{
    if (!encoder || !encoder->supported_samplerates)
        return true;
    for (const int *listed = encoder->supported_samplerates; *listed; ++listed)
        if (*listed == rate)
            return true;
    return false;
}

int NearestRate(const AVCodec *encoder, int rate)
{
    if (!encoder || !encoder->supported_samplerates || !*encoder->supported_samplerates)
        return rate;
    int best = *encoder->supported_samplerates;
    for (const int *listed = encoder->supported_samplerates; *listed; ++listed) {
        const long distance = std::labs(long{*listed} - rate), bestDistance = std::labs(long{best} - rate);
        if (distance < bestDistance || (distance == bestDistance && *listed > best))
            best = *listed;
    }
    return best;
}

std::string ListRates(const AVCodec *encoder)
{
    std::string list;
    for (const int *listed = encoder->supported_samplerates; listed && *listed; ++listed)
        list += (list.empty() ? "" : ", ") + std::to_string(*listed);
    return list;
}

namespace {

bool SameLayout(const AVChannelLayout &a, const AVChannelLayout &b)
{
    if (a.order != b.order || a.nb_channels != b.nb_channels)
        return false;
    return a.order != AV_CHANNEL_ORDER_NATIVE || a.u.mask == b.u.mask;
}

} // namespace

bool TakesLayout(const AVCodec *encoder, const AVChannelLayout &layout)
{
    if (!encoder || !encoder->ch_layouts)
        return true;
    for (const AVChannelLayout *listed = encoder->ch_layouts; listed->nb_channels; ++listed)
        if (SameLayout(*listed, layout))
            return true;
    return false;
}

AVChannelLayout NearestLayout(const AVCodec *encoder, const AVChannelLayout &layout)
{
    if (!encoder || !encoder->ch_layouts || !encoder->ch_layouts[0].nb_channels)
        return layout;
    const int wanted = layout.nb_channels;
    const AVChannelLayout *best = nullptr;
    const auto better = [wanted](const AVChannelLayout &candidate, const AVChannelLayout &current) {
        const int c = candidate.nb_channels, b = current.nb_channels;
        if ((c <= wanted) != (b <= wanted))
            return c <= wanted; // below or equal beats above
        return c <= wanted ? c > b : c < b;
    };
    for (const AVChannelLayout *listed = encoder->ch_layouts; listed->nb_channels; ++listed)
        if (!best || better(*listed, *best))
            best = listed;
    return Usable(*best, best->nb_channels);
}

std::string ListLayouts(const AVCodec *encoder)
{
    std::string list;
    for (const AVChannelLayout *listed = encoder->ch_layouts; listed && listed->nb_channels; ++listed)
        list += (list.empty() ? "" : ", ") + Describe(*listed);
    return list;
}

AVSampleFormat CarriedFormat(AVSampleFormat decoded)
{
    const AVSampleFormat packed = avutil.av_get_packed_sample_fmt(decoded);
    return packed == AV_SAMPLE_FMT_S64 ? AV_SAMPLE_FMT_DBL : packed == AV_SAMPLE_FMT_NONE ? AV_SAMPLE_FMT_S16 : packed;
}

namespace {

template <class T>
void ScaleIntegers(T *sample, int count, int volume, int64_t offset = 0)
{
    for (int i = 0; i < count; ++i)
        sample[i] = static_cast<T>(std::clamp<int64_t>(((int64_t{sample[i]} - offset) * volume + 128) >> 8,
                                                       int64_t{std::numeric_limits<T>::min()} - offset,
                                                       int64_t{std::numeric_limits<T>::max()} - offset) +
                                   offset);
}

template <class T>
void ScaleFloats(T *sample, int count, int volume)
{
    for (int i = 0; i < count; ++i)
        sample[i] = static_cast<T>(sample[i] * volume / 256.0);
}

} // namespace

void ScaleVolume(uint8_t *data, int samples, AVSampleFormat format, int volume)
{
    switch (format) {
    case AV_SAMPLE_FMT_U8:
        ScaleIntegers(data, samples, volume, 128);
        break;
    case AV_SAMPLE_FMT_S16:
        ScaleIntegers(reinterpret_cast<int16_t *>(data), samples, volume);
        break;
    case AV_SAMPLE_FMT_S32:
        ScaleIntegers(reinterpret_cast<int32_t *>(data), samples, volume);
        break;
    case AV_SAMPLE_FMT_FLT:
        ScaleFloats(reinterpret_cast<float *>(data), samples, volume);
        break;
    case AV_SAMPLE_FMT_DBL:
        ScaleFloats(reinterpret_cast<double *>(data), samples, volume);
        break;
    default:
        break;
    }
}

AVCodecID PcmCodec(AVSampleFormat format, int bits, bool lossy, bool aiff)
{
    const AVCodecID s16 = aiff ? AV_CODEC_ID_PCM_S16BE : AV_CODEC_ID_PCM_S16LE;
    if (lossy || format == AV_SAMPLE_FMT_NONE)
        return s16;
    switch (CarriedFormat(format)) {
    case AV_SAMPLE_FMT_U8: // the codec of signed 8-bit samples takes them unsigned too
        return aiff ? AV_CODEC_ID_PCM_S8 : AV_CODEC_ID_PCM_U8;
    case AV_SAMPLE_FMT_S32:
        if (bits > 16 && bits <= 24)
            return aiff ? AV_CODEC_ID_PCM_S24BE : AV_CODEC_ID_PCM_S24LE;
        return aiff ? AV_CODEC_ID_PCM_S32BE : AV_CODEC_ID_PCM_S32LE;
    case AV_SAMPLE_FMT_FLT:
        return aiff ? AV_CODEC_ID_PCM_F32BE : AV_CODEC_ID_PCM_F32LE;
    case AV_SAMPLE_FMT_DBL:
        return aiff ? AV_CODEC_ID_PCM_F64BE : AV_CODEC_ID_PCM_F64LE;
    default:
        return s16;
    }
}

namespace {

// FLAC and ALAC write 24 bits at most: a deeper 32-bit word loses its low byte.
int DeepestBits(AVCodecID codec) { return codec == AV_CODEC_ID_FLAC || codec == AV_CODEC_ID_ALAC ? 24 : 32; }

} // namespace

LosslessDepth DepthFor(const AVCodec *encoder, AVSampleFormat format, int bits, bool lossy)
{
    if (!encoder)
        return {};
    const AVSampleFormat wanted = lossy || format == AV_SAMPLE_FMT_NONE ? AV_SAMPLE_FMT_S16 : CarriedFormat(format);
    const bool floats = wanted == AV_SAMPLE_FMT_FLT || wanted == AV_SAMPLE_FMT_DBL;
    const int depth = wanted == AV_SAMPLE_FMT_S32 && bits > 0 && bits < 32 ? bits
                      : floats                                             ? 32
                                                                           : 8 * avutil.av_get_bytes_per_sample(wanted);
    const int deepest = DeepestBits(encoder->id);
    if (const AVSampleFormat same = MatchingFormat(encoder, wanted);
        same != AV_SAMPLE_FMT_NONE && (floats || depth <= deepest))
        return {same, floats ? 0 : depth};
    if (const AVSampleFormat words = MatchingFormat(encoder, AV_SAMPLE_FMT_S32);
        depth > 16 && words != AV_SAMPLE_FMT_NONE)
        return {words, std::min(depth, deepest)};
    return {MatchingFormat(encoder, AV_SAMPLE_FMT_S16), 16};
}

int KeptBits(const AVCodecContext &encoder)
{
    if (const int pcm = avcodec.av_get_bits_per_sample(encoder.codec_id); pcm > 0)
        return pcm;
    return encoder.bits_per_raw_sample > 0 && encoder.bits_per_raw_sample < 32 ? encoder.bits_per_raw_sample : 32;
}

namespace {

template <class T>
void Tame(T *sample, int count)
{
    for (int i = 0; i < count; ++i)
        sample[i] = std::isnan(sample[i]) ? 0 : std::clamp<T>(sample[i], -1, 1);
}

} // namespace

void TameFloats(uint8_t *data, int samples, AVSampleFormat format)
{
    if (format == AV_SAMPLE_FMT_FLT)
        Tame(reinterpret_cast<float *>(data), samples);
    else if (format == AV_SAMPLE_FMT_DBL)
        Tame(reinterpret_cast<double *>(data), samples);
}

void DitherTo24Bits(int32_t *sample, int count, uint32_t &state)
{
    const auto next = [&state] { // xorshift: fast, and good enough for noise
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<int64_t>(state & 0xFF);
    };
    for (int i = 0; i < count; ++i) {
        const int64_t noise = next() + next() - 255; // triangular over one step either way
        const int64_t rounded = (int64_t{sample[i]} + noise + 128) & ~int64_t{0xFF};
        sample[i] = static_cast<int32_t>(std::clamp<int64_t>(rounded, INT32_MIN, INT32_MAX & ~0xFF));
    }
}

AVSampleFormat MatchingFormat(const AVCodec *encoder, AVSampleFormat carried)
{
    if (!encoder || !encoder->sample_fmts)
        return AV_SAMPLE_FMT_NONE;
    // Doubles go to floats where the encoder takes no doubles.
    for (const AVSampleFormat wanted : {carried, carried == AV_SAMPLE_FMT_DBL ? AV_SAMPLE_FMT_FLT : carried})
        for (const AVSampleFormat *format = encoder->sample_fmts; *format != AV_SAMPLE_FMT_NONE; ++format)
            if (avutil.av_get_packed_sample_fmt(*format) == wanted)
                return *format;
    return AV_SAMPLE_FMT_NONE;
}

} // namespace audio_shape
