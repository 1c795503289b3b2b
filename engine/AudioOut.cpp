// The audio output path: sync to the input's timestamps, channel and rate conversion, framing, encoding.
#include "engine/FFmpeg.h"

#include "engine/AudioShape.h"
#include "libs/AVEntryPoints.h"
#include "libs/TextFormat.h"

#include <cmath>
#include <cstring>
#include <vector>

using namespace avlib;

namespace {

constexpr int kMaxAudioBlock = 131072; // bytes handled at once

uint64_t NativeMask(const AVChannelLayout &layout)
{
    return layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
}

bool TakesAnyFrameSize(const AVCodecContext *encoder)
{
    return encoder->frame_size <= 1 || (encoder->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
}

// Mono into a layout without a front centre goes to front left and right at full level, as a
// recording heard on both speakers; the library's own mix would lower it by 3 dB.
bool SetMonoMatrix(SwrContext *resampler, const AVChannelLayout &in, const AVChannelLayout &out)
{
    constexpr uint64_t kFront = AV_CH_FRONT_LEFT | AV_CH_FRONT_RIGHT;
    if (in.nb_channels != 1 || out.order != AV_CHANNEL_ORDER_NATIVE || (out.u.mask & kFront) != kFront ||
        (out.u.mask & AV_CH_FRONT_CENTER))
        return true;
    std::vector<double> matrix(static_cast<size_t>(out.nb_channels), 0.0);
    // Native order: the channels are the set bits of the mask, lowest first.
    int index = 0;
    for (uint64_t bit = 1; bit != 0; bit <<= 1) {
        if (!(out.u.mask & bit))
            continue;
        if (bit & kFront)
            matrix[static_cast<size_t>(index)] = 1.0;
        ++index;
    }
    return swresample.swr_set_matrix(resampler, matrix.data(), 1) >= 0;
}

std::string ResampleError(int inChannels, int inRate, int outChannels, int outRate)
{
    return FormatText("Can not resample %d channels @ %d Hz to %d channels @ %d Hz", inChannels, inRate, outChannels,
                      outRate);
}

} // namespace

void TCustomFFmpeg::DoAudioOut(TOutputStreamRec &output, TInputStreamRec &input, const uint8_t *data, int size)
{
    AVCodecContext *encoder = output.Encoder;
    // The shape of this block as decoded, which may change in mid-stream.
    const int decChannels =
        input.DecodedChannels > 0 ? input.DecodedChannels : input.Stream->codecpar->ch_layout.nb_channels;
    const int decRate = input.DecodedRate > 0 ? input.DecodedRate : input.Stream->codecpar->sample_rate;
    const int encChannels = encoder->ch_layout.nb_channels;
    const int encRate = encoder->sample_rate;
    if (encChannels != decChannels || encRate != decRate)
        output.AudioResample = 1;
    // The samples come as their source carries them, in one format from the first block on.
    if (output.CarriedFormat < 0)
        ChooseSampleHandling(output, input);
    const auto carried = static_cast<AVSampleFormat>(output.CarriedFormat);
    const int bytesPerSample = avutil.av_get_bytes_per_sample(carried);
    const uint64_t decMask =
        input.DecodedChannels > 0 ? input.DecodedLayoutMask : NativeMask(input.Stream->codecpar->ch_layout);
    if (output.Resample && (output.ResampleInChannels != decChannels || output.ResampleInRate != decRate ||
                            output.ResampleInMask != decMask)) {
        DrainResampler(output); // what it still holds comes before the new shape's samples
        output.Resample.reset();
    }
    if (output.AudioResample && !output.Resample) {
        if (decRate > audio_shape::kLargestSampleRate || encRate > audio_shape::kLargestSampleRate)
            throw FFMpegException(ResampleError(decChannels, decRate, encChannels, encRate) +
                                  FormatText(": rates above %d Hz are not supported", audio_shape::kLargestSampleRate));
        AVChannelLayout out = audio_shape::Usable(encoder->ch_layout, encChannels);
        AVChannelLayout in = audio_shape::Usable(audio_shape::FromMask(decMask), decChannels);
        SwrContext *raw = nullptr;
        const bool made =
            swresample.swr_alloc_set_opts2(&raw, &out, carried, encRate, &in, carried, decRate, 0, nullptr) >= 0;
        if (!made || !SetMonoMatrix(raw, in, out) || swresample.swr_init(raw) < 0) {
            swresample.swr_free(&raw);
            throw FFMpegException(ResampleError(decChannels, decRate, encChannels, encRate));
        }
        output.Resample.reset(raw);
        output.ResampleInChannels = decChannels;
        output.ResampleInRate = decRate;
        output.ResampleInMask = decMask;
    }
    const int pair = encoder->sample_fmt + 16 * carried;
    if (encoder->sample_fmt != carried && pair != output.ReformatPair)
        MakeReformatter(output);

    // Keep the output in step with the input's timestamps.
    const int fifoSamples = output.Fifo ? avutil.av_audio_fifo_size(output.Fifo.get()) : 0;
    if (AudioSyncMethod != 0) {
        const double delta = GetSyncIpts(output) * encRate - static_cast<double>(output.SyncOpts) - fifoSamples;
        const double idelta = delta * decRate / encRate;
        const int sampleBytes = bytesPerSample * decChannels;
        int64_t byteDelta = static_cast<int64_t>(idelta) * sampleBytes;
        if (std::fabs(delta) > 50) {
            if (input.IsStart || std::fabs(delta) > encRate * static_cast<double>(AudioDriftThreshold)) {
                if (byteDelta < 0) {
                    byteDelta = std::max<int64_t>(byteDelta, -size);
                    data -= byteDelta;
                    size += static_cast<int>(byteDelta);
                    if (Verbose > 2 && LogCallback)
                        Log(1, FormatText("discarding %lld audio samples", static_cast<long long>(-delta)));
                    if (size <= 0)
                        return;
                    input.IsStart = 0;
                } else {
                    if (size + byteDelta <= kMaxAudioBlock)
                        input.IsStart = 0;
                    else // whole samples only, so no channel slips
                        byteDelta = std::max(0, kMaxAudioBlock - size) / sampleBytes * sampleBytes;
                    SilenceBuffer.resize(static_cast<size_t>(size + byteDelta));
                    uint8_t *silence[] = {SilenceBuffer.data()};
                    avutil.av_samples_set_silence(silence, 0, static_cast<int>(byteDelta / sampleBytes), decChannels,
                                                  carried);
                    std::memcpy(SilenceBuffer.data() + byteDelta, data, static_cast<size_t>(size));
                    data = SilenceBuffer.data();
                    size += static_cast<int>(byteDelta);
                    if (Verbose > 2 && LogCallback)
                        Log(1, FormatText("adding %lld audio samples of silence", static_cast<long long>(delta)));
                }
            } else if (AudioSyncMethod > 1 && output.Resample) {
                const int compensation = static_cast<int>(
                    std::clamp<int64_t>(static_cast<int64_t>(delta), -AudioSyncMethod, AudioSyncMethod));
                if (Verbose > 2 && LogCallback)
                    Log(1, FormatText("compensating audio timestamp drift:%f compensation:%d in:%d", delta,
                                      compensation, encRate));
                if (swresample.swr_set_compensation(output.Resample.get(), compensation, encRate) < 0)
                    throw FFMpegException(ResampleError(decChannels, decRate, encChannels, encRate));
            }
        }
    } else {
        output.SyncOpts = std::llrint(GetSyncIpts(output) * encRate) - fifoSamples;
    }

    // Channels and rate.
    const uint8_t *samples = data;
    int sampleCount = size / (bytesPerSample * decChannels);
    if (output.AudioResample) {
        const int capacity = swresample.swr_get_out_samples(output.Resample.get(), sampleCount);
        ResampleBuffer.resize(static_cast<size_t>(std::max(capacity, 0)) * bytesPerSample * encChannels);
        uint8_t *out = ResampleBuffer.data();
        const uint8_t *in = data;
        sampleCount = swresample.swr_convert(output.Resample.get(), &out, capacity, &in, sampleCount);
        if (sampleCount < 0)
            throw FFMpegException(ResampleError(decChannels, decRate, encChannels, encRate));
        samples = ResampleBuffer.data();
    }
    QueueAudio(output, samples, sampleCount);
}

// How the carried samples meet the encoder, decided at the first block.
void TCustomFFmpeg::ChooseSampleHandling(TOutputStreamRec &output, const TInputStreamRec &input)
{
    const AVCodecContext *encoder = output.Encoder;
    const auto carried = static_cast<AVSampleFormat>(input.CarriedFormat);
    output.CarriedFormat = carried;
    const bool floats = carried == AV_SAMPLE_FMT_FLT || carried == AV_SAMPLE_FMT_DBL;
    const AVSampleFormat target = avutil.av_get_packed_sample_fmt(encoder->sample_fmt);
    const bool toIntegers = target != AV_SAMPLE_FMT_FLT && target != AV_SAMPLE_FMT_DBL;
    const bool pcm = audio_shape::IsPcm(encoder->codec_id);
    // Samples that are no numbers, or beyond any scale, from a damaged or hostile source: integers
    // would wrap round, and an encoder that models them (MP3's psychoacoustics) could fail. A float
    // WAV keeps them as they are.
    output.TameFloats = floats && (toIntegers || !pcm);
    // 24-bit samples (PCM, FLAC, ALAC, WavPack) are carried in 32-bit words whose low byte the
    // encoder cuts off: what holds more than 24 bits (a deeper source, a mix, a volume) is dithered
    // and rounded first.
    const int rawBits = input.Stream->codecpar->bits_per_raw_sample;
    output.SourceBits = floats ? 32 : rawBits > 0 ? rawBits : 8 * avutil.av_get_bytes_per_sample(carried);
    output.DitherTo24 = target == AV_SAMPLE_FMT_S32 && audio_shape::KeptBits(*encoder) == 24 &&
                        (output.SourceBits > 24 || AudioVolume != 256 || output.AudioResample);
}

// Carried samples to the encoder's format. A reduction to 16 bits or fewer is dithered with
// triangular noise, never cut; one to 24 bits is left whole here for the same to follow.
void TCustomFFmpeg::MakeReformatter(TOutputStreamRec &output)
{
    AVCodecContext *encoder = output.Encoder;
    const auto carried = static_cast<AVSampleFormat>(output.CarriedFormat);
    const int encChannels = encoder->ch_layout.nb_channels;
    AVChannelLayout layout = audio_shape::Usable(encoder->ch_layout, encChannels);
    const AVSampleFormat target = avutil.av_get_packed_sample_fmt(encoder->sample_fmt);
    const int targetBits = 8 * avutil.av_get_bytes_per_sample(target);
    const bool toIntegers = target != AV_SAMPLE_FMT_FLT && target != AV_SAMPLE_FMT_DBL;
    SwrContext *raw = nullptr;
    bool made = swresample.swr_alloc_set_opts2(&raw, &layout, encoder->sample_fmt, encoder->sample_rate, &layout,
                                               carried, encoder->sample_rate, 0, nullptr) >= 0;
    if (made && toIntegers && targetBits <= 16 && targetBits < output.SourceBits)
        made = avutil.av_opt_set(raw, "dither_method", "triangular", 0) >= 0;
    if (!made || swresample.swr_init(raw) < 0) {
        swresample.swr_free(&raw);
        const char *from = avutil.av_get_sample_fmt_name(carried);
        const char *to = avutil.av_get_sample_fmt_name(encoder->sample_fmt);
        throw FFMpegException(
            FormatText("Cannot convert %s sample format to %s sample format", from ? from : "none", to ? to : "none"));
    }
    output.ReformatCtx.reset(raw);
    output.ReformatPair = encoder->sample_fmt + 16 * carried;
}

// Whole encoder frames through the FIFO, or the whole block for encoders that take any size.
void TCustomFFmpeg::QueueAudio(TOutputStreamRec &output, const uint8_t *samples, int count)
{
    // The recording time ends the stream at its very sample; the rest of a block goes.
    count = static_cast<int>(std::min<int64_t>(count, output.SampleLimit - output.SamplesQueued));
    if (count <= 0)
        return;
    output.SamplesQueued += count;
    AVCodecContext *encoder = output.Encoder;
    if (TakesAnyFrameSize(encoder)) {
        EncodeAudioFrame(output, samples, count);
        return;
    }
    const auto carried = static_cast<AVSampleFormat>(output.CarriedFormat);
    const int channels = encoder->ch_layout.nb_channels;
    if (!output.Fifo) {
        output.Fifo.reset(avutil.av_audio_fifo_alloc(carried, channels, 1024));
        if (!output.Fifo)
            throw FFMpegException("av_fifo_init fail");
    }
    void *planes[] = {const_cast<uint8_t *>(samples)};
    if (avutil.av_audio_fifo_write(output.Fifo.get(), planes, count) < count)
        throw FFMpegException("av_fifo_realloc2() failed");
    const int frameSize = encoder->frame_size;
    FifoReadBuffer.resize(static_cast<size_t>(frameSize) * avutil.av_get_bytes_per_sample(carried) * channels);
    while (avutil.av_audio_fifo_size(output.Fifo.get()) >= frameSize) {
        void *out[] = {FifoReadBuffer.data()};
        avutil.av_audio_fifo_read(output.Fifo.get(), out, frameSize);
        EncodeAudioFrame(output, FifoReadBuffer.data(), frameSize);
    }
}

// Passes on the samples the resampler keeps back for its filter.
void TCustomFFmpeg::DrainResampler(TOutputStreamRec &output)
{
    if (!output.Resample)
        return;
    const int channels = output.Encoder->ch_layout.nb_channels;
    for (;;) {
        const int capacity = std::max(swresample.swr_get_out_samples(output.Resample.get(), 0), 0);
        if (capacity == 0)
            return;
        ResampleBuffer.resize(static_cast<size_t>(capacity) *
                              avutil.av_get_bytes_per_sample(static_cast<AVSampleFormat>(output.CarriedFormat)) *
                              channels);
        uint8_t *out = ResampleBuffer.data();
        const int produced = swresample.swr_convert(output.Resample.get(), &out, capacity, nullptr, 0);
        if (produced <= 0)
            return;
        QueueAudio(output, ResampleBuffer.data(), produced);
    }
}

void TCustomFFmpeg::EncodeAudioFrame(TOutputStreamRec &output, const uint8_t *samples, int count)
{
    AVCodecContext *encoder = output.Encoder;
    if (!output.AudioFrame)
        output.AudioFrame.reset(avutil.av_frame_alloc());
    AVFrame *frame = output.AudioFrame.get();
    if (!frame)
        throw FFMpegException("av_malloc failed");
    avutil.av_frame_unref(frame);
    if (output.TameFloats) {
        const size_t bytes = static_cast<size_t>(count) * encoder->ch_layout.nb_channels *
                             avutil.av_get_bytes_per_sample(static_cast<AVSampleFormat>(output.CarriedFormat));
        TameBuffer.assign(samples, samples + bytes);
        audio_shape::TameFloats(TameBuffer.data(), count * encoder->ch_layout.nb_channels,
                                static_cast<AVSampleFormat>(output.CarriedFormat));
        samples = TameBuffer.data();
    }
    frame->nb_samples = count;
    frame->format = encoder->sample_fmt;
    frame->sample_rate = encoder->sample_rate;
    if (avutil.av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout) < 0 ||
        avutil.av_frame_get_buffer(frame, 0) < 0)
        throw FFMpegException("av_malloc failed");
    if (output.ReformatCtx) {
        if (swresample.swr_convert(output.ReformatCtx.get(), frame->extended_data, count, &samples, count) < 0) {
            if (ExitOnError)
                throw FFMpegException("av_audio_convert() failed");
            if (LogCallback)
                Log(0, "av_audio_convert() failed");
            return;
        }
    } else {
        std::memcpy(frame->data[0], samples,
                    static_cast<size_t>(count) * avutil.av_get_bytes_per_sample(encoder->sample_fmt) *
                        encoder->ch_layout.nb_channels);
    }
    if (output.DitherTo24) {
        const int planes = avutil.av_sample_fmt_is_planar(encoder->sample_fmt) ? encoder->ch_layout.nb_channels : 1;
        for (int plane = 0; plane < planes; ++plane)
            audio_shape::DitherTo24Bits(reinterpret_cast<int32_t *>(frame->extended_data[plane]),
                                        count * encoder->ch_layout.nb_channels / planes, output.DitherState);
    }
    // Frames follow each other; SyncOpts is the position the sync logic reasons about.
    frame->pts = output.NextFramePts;
    output.NextFramePts += count;
    output.SyncOpts += count;
    if (output.Segmented) {
        output.Segmented->Send(*frame, [&](AVPacket *packet) { WriteEncodedPacket(output, packet); });
        return;
    }
    if (avcodec.avcodec_send_frame(encoder, frame) < 0)
        throw FFMpegException("Audio encoding failed");
    DrainEncoder(output);
}

void TCustomFFmpeg::FlushAudioFifo(TOutputStreamRec &output)
{
    AVCodecContext *encoder = output.Encoder;
    const int channels = encoder->ch_layout.nb_channels;
    DrainResampler(output); // what the resampler still holds belongs to the end of the stream too
    // Whole frames, then the rest as a short last frame: the library pads it for encoders that
    // need whole frames, so no sample at the end is lost.
    const int frameSize = encoder->frame_size > 1 ? encoder->frame_size : 0;
    while (output.Fifo && avutil.av_audio_fifo_size(output.Fifo.get()) > 0) {
        const int held = avutil.av_audio_fifo_size(output.Fifo.get());
        const int count = frameSize > 0 ? std::min(held, frameSize) : held;
        FifoReadBuffer.resize(static_cast<size_t>(count) *
                              avutil.av_get_bytes_per_sample(static_cast<AVSampleFormat>(output.CarriedFormat)) *
                              channels);
        void *out[] = {FifoReadBuffer.data()};
        avutil.av_audio_fifo_read(output.Fifo.get(), out, count);
        EncodeAudioFrame(output, FifoReadBuffer.data(), count);
    }
}
