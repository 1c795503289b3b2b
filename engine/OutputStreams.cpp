// Output streams: codec look-up, and one video, audio or subtitle stream made from the pending options.
#include "engine/FFmpeg.h"

#include "engine/AudioShape.h"
#include "engine/Rational.h"
#include "engine/Saturating.h"
#include "engine/ScopeExit.h"
#include "libs/AVEntryPoints.h"
#include "libs/TextFormat.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace avlib;

namespace {

constexpr float kQualityPerQuantiser = FF_QP2LAMBDA; // 118

// A table that a refused matrix option left partly read holds zeros, which the encoder divides by:
// the encoder keeps its own table instead.
bool UsableMatrix(const std::optional<std::array<uint16_t, 64>> &matrix)
{
    return matrix && std::all_of(matrix->begin(), matrix->end(), [](uint16_t c) { return c >= 1 && c <= 255; });
}

// Entries "start,end,q" separated by "/". q > 0 is a quantiser, q <= 0 a quality factor of -q/100.
std::vector<RcOverride> ParseRateControlOverrides(const std::string &text)
{
    std::vector<RcOverride> entries;
    const char *p = text.c_str();
    for (;;) {
        int values[3];
        for (int k = 0; k < 3; ++k) {
            char *end = nullptr;
            errno = 0;
            const long value = std::strtol(p, &end, 10);
            if (end == p || errno == ERANGE || value < INT_MIN || value > INT_MAX)
                throw FFMpegException("error parsing rc_override");
            values[k] = static_cast<int>(value);
            p = end;
            if (k < 2) {
                if (!*p)
                    throw FFMpegException("error parsing rc_override");
                ++p; // the separator
            }
        }
        RcOverride entry{};
        entry.start_frame = values[0];
        entry.end_frame = values[1];
        if (values[2] > 0) {
            entry.qscale = values[2];
            entry.quality_factor = 1.0f;
        } else {
            entry.qscale = 0;
            entry.quality_factor = static_cast<float>(-static_cast<double>(values[2]) / 100.0);
        }
        entries.push_back(entry);
        p = std::strchr(p, '/');
        if (!p)
            return entries;
        ++p;
    }
}

// A copy the codec context owns and frees.
template <typename T>
T *LibraryCopy(const T *data, size_t count)
{
    auto *copy = static_cast<T *>(avutil.av_malloc(sizeof(T) * count));
    if (!copy)
        throw FFMpegException("av_malloc fail");
    std::memcpy(copy, data, sizeof(T) * count);
    return copy;
}

// The stream's sample aspect ratio for a display aspect over a size (4:3 pictures when no size).
AVRational SampleAspectRatio(float aspect, int width, int height)
{
    const double ratio = width != 0 && height != 0 ? aspect * static_cast<double>(height) / width : aspect * 3.0 / 4.0;
    return RationalFromDouble(ratio, 255);
}

} // namespace

bool TCustomFFmpeg::LookupCodec(const std::optional<std::string> &name, AVMediaType type, bool encoder, AVCodecID &id)
{
    id = AV_CODEC_ID_NONE;
    if (!name)
        return true;
    const AVCodec *codec = encoder ? avcodec.avcodec_find_encoder_by_name(name->c_str())
                                   : avcodec.avcodec_find_decoder_by_name(name->c_str());
    const char *role = encoder ? "encoder" : "decoder";
    if (!codec) {
        LastErrorText = FormatText("Unknown %s '%s'", role, name->c_str());
        return false;
    }
    if (codec->type != type) {
        LastErrorText = FormatText("Invalid %s type '%s'", role, name->c_str());
        return false;
    }
    id = codec->id;
    return true;
}

// The steps every kind of stream starts with; the codec context comes with the library's defaults.
static TOutputStreamCodec &AddStream(TCustomFFmpeg &e, AVFormatContext *output, int fileIndex, AVMediaType type,
                                     TBitstreamFilterChain &pendingFilters)
{
    if (output->nb_streams >= MAX_STREAMS && !pendingFilters.empty())
        throw FFMpegException(FormatText("stream index over MAX_STREAMS(%d)", MAX_STREAMS));
    AVStream *stream = avformat.avformat_new_stream(output, nullptr);
    if (!stream)
        throw FFMpegException("Could not alloc stream");
    stream->id = static_cast<int>(output->nb_streams) - 1;
    TOutputStreamCodec codec;
    codec.Context.reset(avcodec.avcodec_alloc_context3(nullptr));
    if (!codec.Context)
        throw FFMpegException("Could not alloc stream");
    codec.Context->codec_type = type;
    auto &codecs = e.OutputCodecs[fileIndex];
    codecs.resize(output->nb_streams);
    codecs[stream->index] = std::move(codec);
    if (stream->index < MAX_STREAMS)
        e.BitstreamFilters[fileIndex][stream->index] = std::move(pendingFilters);
    pendingFilters.clear();
    return codecs[stream->index];
}

void TCustomFFmpeg::NewVideoStream(AVFormatContext *output, int fileIndex)
{
    ScopeExit clearPending([this] {
        VideoDisable = 0;
        VideoCodecName.reset();
        VideoStreamCopy = 0;
        VideoBitstreamFilters.clear();
    });

    // What can be refused is settled before the stream exists: an output keeps no half-made stream.
    AVCodecID codecId = AV_CODEC_ID_NONE;
    std::vector<RcOverride> overrides;
    if (!VideoStreamCopy) {
        if (VideoCodecName) {
            if (!LookupCodec(VideoCodecName, AVMEDIA_TYPE_VIDEO, true, codecId))
                throw FFMpegException(LastErrorText);
        } else {
            codecId = avformat.av_guess_codec(output->oformat, nullptr, output->url, nullptr, AVMEDIA_TYPE_VIDEO);
        }
        if (VideoRcOverride)
            overrides = ParseRateControlOverrides(*VideoRcOverride);
    }

    TOutputStreamCodec &out = AddStream(*this, output, fileIndex, AVMEDIA_TYPE_VIDEO, VideoBitstreamFilters);
    AVStream *stream = output->streams[output->nb_streams - 1];
    SetVideoHeaderFlags(output, out.Context.get());
    if (VideoStreamCopy) {
        out.StreamCopy = true;
        stream->sample_aspect_ratio = SampleAspectRatio(FrameAspectRatio, FrameWidth, FrameHeight);
        return;
    }

    const AVCodec *encoder = avcodec.avcodec_find_encoder(codecId);
    if (encoder)
        UseEncoderDefaults(out, encoder);
    AVCodecContext *codec = out.Context.get();
    codec->codec_id = codecId;
    ApplyGenericOptions(codec, CodecDefaults[mkVideo].get(), AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    SetVideoTimeBase(codec, encoder);
    SetVideoPictureShape(codec, stream, encoder);
    SetVideoEncoderOptions(out, overrides);
}

void TCustomFFmpeg::SetVideoHeaderFlags(const AVFormatContext *output, AVCodecContext *codec)
{
    AVCodecContext *defaults = CodecDefaults[mkVideo].get();
    if (VideoCodecTag != 0)
        codec->codec_tag = VideoCodecTag;
    if ((VideoGlobalHeader & 1) || (VideoGlobalHeader == 0 && (output->oformat->flags & AVFMT_GLOBALHEADER))) {
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (defaults)
            defaults->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (VideoGlobalHeader & 2) {
        codec->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
        if (defaults)
            defaults->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    }
}

void TCustomFFmpeg::UseEncoderDefaults(TOutputStreamCodec &out, const AVCodec *encoder)
{
    // The encoder's own defaults: some encoders refuse the generic ones outright.
    AVCodecContextPtr own(avcodec.avcodec_alloc_context3(encoder));
    if (!own)
        throw FFMpegException("Could not alloc stream");
    own->codec_tag = out.Context->codec_tag;
    own->flags = out.Context->flags;
    own->flags2 = out.Context->flags2;
    out.Context = std::move(own);
}

void TCustomFFmpeg::SetVideoTimeBase(AVCodecContext *codec, const AVCodec *encoder) const
{
    const AVRational fps = FrameRate.num != 0 ? FrameRate : AVRational{25, 1};
    codec->time_base = AVRational{fps.den, fps.num};
    if (encoder && encoder->supported_framerates) {
        // The supported rate nearest to the requested one; the first of equals wins.
        AVRational best = encoder->supported_framerates[0];
        AVRational bestError{INT_MAX, 1};
        for (const AVRational *rate = encoder->supported_framerates; rate->num || rate->den; ++rate) {
            AVRational error = RationalSub(fps, *rate);
            error.num = std::abs(error.num);
            if (RationalCompare(error, bestError) < 0) {
                bestError = error;
                best = *rate;
            }
        }
        codec->time_base = AVRational{best.den, best.num};
    }
    codec->framerate = AVRational{codec->time_base.den, codec->time_base.num};
}

void TCustomFFmpeg::SetVideoPictureShape(AVCodecContext *codec, AVStream *stream, const AVCodec *encoder) const
{
    codec->width = SaturatingCast<int>(int64_t{FrameWidth} + PadLeft + PadRight);
    codec->height = SaturatingCast<int>(int64_t{FrameHeight} + PadTop + PadBottom);
    codec->sample_aspect_ratio = SampleAspectRatio(FrameAspectRatio, codec->width, codec->height);
    stream->sample_aspect_ratio = codec->sample_aspect_ratio;

    codec->pix_fmt = static_cast<AVPixelFormat>(FramePixFmt);
    if (encoder && encoder->pix_fmts) {
        const AVPixelFormat *format = encoder->pix_fmts;
        while (*format != AV_PIX_FMT_NONE && *format != codec->pix_fmt)
            ++format;
        if (*format == AV_PIX_FMT_NONE)
            codec->pix_fmt = encoder->pix_fmts[0];
    }
}

void TCustomFFmpeg::SetVideoEncoderOptions(TOutputStreamCodec &out, const std::vector<RcOverride> &overrides) const
{
    AVCodecContext *codec = out.Context.get();
    if (IntraOnly)
        codec->gop_size = 0;
    if (VideoQScale != 0.0f || SameQuality) {
        codec->flags |= AV_CODEC_FLAG_QSCALE;
        out.Quality = kQualityPerQuantiser * VideoQScale;
        codec->global_quality = SaturatingCast<int>(static_cast<double>(out.Quality));
    }
    if (UsableMatrix(IntraMatrix))
        codec->intra_matrix = LibraryCopy(IntraMatrix->data(), IntraMatrix->size());
    if (UsableMatrix(InterMatrix))
        codec->inter_matrix = LibraryCopy(InterMatrix->data(), InterMatrix->size());
    codec->thread_count = ThreadCount;

    if (VideoRcOverride) {
        codec->rc_override = LibraryCopy(overrides.data(), overrides.size());
        codec->rc_override_count = static_cast<int>(overrides.size());
    }
    if (codec->rc_initial_buffer_occupancy == 0)
        codec->rc_initial_buffer_occupancy = static_cast<int>(int64_t{codec->rc_buffer_size} * 3 / 4);
    codec->intra_dc_precision = SaturatingCast<int>(int64_t{IntraDcPrecision} - 8);
    if (DoPsnr)
        codec->flags |= AV_CODEC_FLAG_PSNR;
    if (DoPass == 1)
        codec->flags |= AV_CODEC_FLAG_PASS1;
    else if (DoPass == 2)
        codec->flags |= AV_CODEC_FLAG_PASS2;
}

void TCustomFFmpeg::NewAudioStream(AVFormatContext *output, int fileIndex)
{
    ScopeExit clearPending([this] {
        AudioDisable = 0;
        AudioCodecName.reset();
        AudioStreamCopy = 0;
        AudioLanguage.clear();
        AudioBitstreamFilters.clear();
    });

    // The stream takes the shape of the input stream it will be made from.
    if (const AVStream *source = NextAudioSource(output, fileIndex))
        InheritAudioShape(*source->codecpar);

    AVCodecID codecId = AV_CODEC_ID_NONE;
    if (!AudioStreamCopy) {
        codecId = avformat.av_guess_codec(output->oformat, nullptr, output->url, nullptr, AVMEDIA_TYPE_AUDIO);
        if (AudioCodecName && !LookupCodec(AudioCodecName, AVMEDIA_TYPE_AUDIO, true, codecId))
            throw FFMpegException(LastErrorText);
        // A WAV or an AIFF keeps the depth and kind of its source's samples unless a codec is asked for.
        const bool wave = codecId == AV_CODEC_ID_PCM_S16LE && std::strcmp(output->oformat->name, "wav") == 0;
        const bool aiff = codecId == AV_CODEC_ID_PCM_S16BE && std::strcmp(output->oformat->name, "aiff") == 0;
        if (!AudioCodecName && (wave || aiff))
            codecId = audio_shape::PcmCodec(static_cast<AVSampleFormat>(AudioSampleFmt), AudioSampleBits,
                                            AudioSourceLossy, aiff);
    }

    TOutputStreamCodec &out = AddStream(*this, output, fileIndex, AVMEDIA_TYPE_AUDIO, AudioBitstreamFilters);
    AVStream *stream = output->streams[output->nb_streams - 1];
    AVCodecContext *codec = out.Context.get();
    if (AudioCodecTag != 0)
        codec->codec_tag = AudioCodecTag;
    if (output->oformat->flags & AVFMT_GLOBALHEADER) {
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (CodecDefaults[mkAudio])
            CodecDefaults[mkAudio]->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }

    if (AudioStreamCopy) {
        out.StreamCopy = true;
        avutil.av_channel_layout_default(&codec->ch_layout, AudioChannels);
        codec->sample_rate = AudioSampleRate;
    } else {
        ApplyGenericOptions(codec, CodecDefaults[mkAudio].get(), AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        codec->codec_id = codecId;
        const AVCodec *encoder = avcodec.avcodec_find_encoder(codecId);
        if (AudioQScale > -99999.0f) {
            codec->flags |= AV_CODEC_FLAG_QSCALE;
            out.Quality = kQualityPerQuantiser * AudioQScale;
            codec->global_quality = SaturatingCast<int>(static_cast<double>(out.Quality));
        }
        codec->thread_count = ThreadCount;
        ChooseAudioShape(codec, encoder);
        codec->sample_fmt = static_cast<AVSampleFormat>(AudioSampleFmt);
        const AVCodecDescriptor *kind = avcodec.avcodec_descriptor_get(codecId);
        const bool pcm = audio_shape::IsPcm(codecId);
        if (kind && (kind->props & AV_CODEC_PROP_LOSSLESS) && !pcm) {
            const audio_shape::LosslessDepth depth = audio_shape::DepthFor(
                encoder, static_cast<AVSampleFormat>(AudioSampleFmt), AudioSampleBits, AudioSourceLossy);
            if (depth.format != AV_SAMPLE_FMT_NONE) {
                codec->sample_fmt = depth.format;
                codec->bits_per_raw_sample = depth.bits;
            }
        }
        if (encoder && encoder->sample_fmts) {
            const AVSampleFormat *format = encoder->sample_fmts;
            while (*format != AV_SAMPLE_FMT_NONE && *format != codec->sample_fmt)
                ++format;
            // The same samples planar or packed, else the encoder's own first choice.
            if (*format == AV_SAMPLE_FMT_NONE) {
                const AVSampleFormat same = audio_shape::MatchingFormat(
                    encoder, audio_shape::CarriedFormat(static_cast<AVSampleFormat>(AudioSampleFmt)));
                codec->sample_fmt = same != AV_SAMPLE_FMT_NONE ? same : encoder->sample_fmts[0];
            }
        }
    }
    codec->time_base = AVRational{1, codec->sample_rate};
    if (!AudioLanguage.empty())
        avutil.av_dict_set(&stream->metadata, "language", AudioLanguage.substr(0, 3).c_str(), 0);
}

void TCustomFFmpeg::ChooseAudioShape(AVCodecContext *codec, const AVCodec *encoder)
{
    using namespace audio_shape;
    const std::string encoderName = encoder ? encoder->name : "none";
    // A layout given as a library option ("ch_layout", or the older "channel_layout" and "channels")
    // is asked for too; the older ones are made the layout here, so that it is checked like the others.
    int64_t mask = 0, count = 0;
    avutil.av_opt_get_int(codec, "channel_layout", 0, &mask);
    avutil.av_opt_get_int(codec, "channels", 0, &count);
    bool layoutAsked = AudioChannelsGiven;
    if (mask != 0) {
        const AVChannelLayout asked = FromMask(static_cast<uint64_t>(mask));
        avutil.av_channel_layout_copy(&codec->ch_layout, &asked);
        layoutAsked = true;
    } else if (codec->ch_layout.nb_channels > 0) {
        layoutAsked = true;
    } else {
        avutil.av_channel_layout_default(&codec->ch_layout, count > 0 ? static_cast<int>(count) : AudioChannels);
        layoutAsked = layoutAsked || count > 0;
    }
    if (!TakesLayout(encoder, codec->ch_layout)) {
        if (layoutAsked)
            throw FFMpegException(FormatText("Channel layout '%s' is not supported by encoder '%s'; it supports %s",
                                             Describe(codec->ch_layout).c_str(), encoderName.c_str(),
                                             ListLayouts(encoder).c_str()));
        const AVChannelLayout chosen = NearestLayout(encoder, codec->ch_layout);
        if (Verbose >= 0)
            Log(1, FormatText("Channel layout '%s' is not supported by encoder '%s', using '%s'",
                              Describe(codec->ch_layout).c_str(), encoderName.c_str(), Describe(chosen).c_str()));
        avutil.av_channel_layout_copy(&codec->ch_layout, &chosen);
        avutil.av_opt_set_int(codec, "channel_layout", 0, 0);
        avutil.av_opt_set_int(codec, "channels", 0, 0);
    }

    codec->sample_rate = AudioSampleRate;
    if (!TakesRate(encoder, AudioSampleRate)) {
        if (AudioSampleRateGiven)
            throw FFMpegException(FormatText("Sample rate %d Hz is not supported by encoder '%s'; it supports %s",
                                             AudioSampleRate, encoderName.c_str(), ListRates(encoder).c_str()));
        codec->sample_rate = NearestRate(encoder, AudioSampleRate);
        if (Verbose >= 0)
            Log(1, FormatText("Sample rate %d Hz is not supported by encoder '%s', using %d Hz", AudioSampleRate,
                              encoderName.c_str(), codec->sample_rate));
    }
}

void TCustomFFmpeg::NewSubtitleStream(AVFormatContext *output, int fileIndex)
{
    ScopeExit clearPending([this] {
        SubtitleDisable = 0;
        SubtitleCodecName.reset();
        SubtitleStreamCopy = 0;
        SubtitleLanguage.clear();
        SubtitleBitstreamFilters.clear();
    });

    AVCodecID codecId = AV_CODEC_ID_NONE;
    if (!SubtitleStreamCopy && !LookupCodec(SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, true, codecId))
        throw FFMpegException(LastErrorText);

    TOutputStreamCodec &out = AddStream(*this, output, fileIndex, AVMEDIA_TYPE_SUBTITLE, SubtitleBitstreamFilters);
    AVStream *stream = output->streams[output->nb_streams - 1];
    if (SubtitleStreamCopy) {
        out.StreamCopy = true;
    } else {
        ApplyGenericOptions(out.Context.get(), CodecDefaults[mkSubtitle].get(),
                            AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        out.Context->codec_id = codecId;
    }
    if (!SubtitleLanguage.empty())
        avutil.av_dict_set(&stream->metadata, "language", SubtitleLanguage.substr(0, 3).c_str(), 0);
}
