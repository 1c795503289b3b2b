#include "tests/support/MediaFixtures.h"

#include "libs/AVDeleters.h"
#include "libs/AVEntryPoints.h"
#include "libs/AVLibLoader.h"
#include "libs/StreamDecoding.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <vector>

using namespace avlib;

namespace testing_support {

namespace {

void Check(int result, const std::string &step)
{
    if (result < 0)
        throw std::runtime_error(step + " failed with code " + std::to_string(result));
}

struct OutputStream {
    AVCodecContextPtr encoder;
    AVStream *stream = nullptr;
    AVFramePtr frame;
    const AudioTrack *audio = nullptr; // what an audio stream sounds like
    int64_t nextPts = 0;               // in encoder time base
    int64_t totalUnits = 0;
    int64_t gap = 0; // timestamps run this far ahead of the samples
    bool done = false;
};

AVCodecContextPtr OpenEncoder(const std::string &name, AVFormatContext *output,
                              const std::function<void(AVCodecContext *, const AVCodec *)> &configure)
{
    const AVCodec *codec = avcodec.avcodec_find_encoder_by_name(name.c_str());
    if (!codec)
        throw std::runtime_error("no encoder " + name);
    AVCodecContextPtr encoder(avcodec.avcodec_alloc_context3(codec));
    if (!encoder)
        throw std::runtime_error("no memory for " + name);
    configure(encoder.get(), codec);
    if (output->oformat->flags & AVFMT_GLOBALHEADER)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    Check(avcodec.avcodec_open2(encoder.get(), codec, nullptr), "opening encoder " + name);
    return encoder;
}

void AddStream(AVFormatContext *output, OutputStream &out)
{
    out.stream = avformat.avformat_new_stream(output, nullptr);
    if (!out.stream)
        throw std::runtime_error("no stream");
    Check(avcodec.avcodec_parameters_from_context(out.stream->codecpar, out.encoder.get()), "copying parameters");
    out.stream->time_base = out.encoder->time_base;
    out.frame.reset(avutil.av_frame_alloc());
}

} // namespace

double MusicSample(int64_t index, int sampleRate, int channel, double accentEvery)
{
    const double t = static_cast<double>(index) / sampleRate;
    if (std::fmod(t, 20.0) >= 19.0)
        return 0.0;
    // Noise that is the same for the same sample and channel.
    uint64_t state = static_cast<uint64_t>(index) * 2 + static_cast<uint64_t>(channel) + 0x9e3779b97f4a7c15ULL;
    state = (state ^ (state >> 30)) * 0xbf58476d1ce4e5b9ULL;
    state = (state ^ (state >> 27)) * 0x94d049bb133111ebULL;
    const double noise = static_cast<double>((state ^ (state >> 31)) >> 11) / 4503599627370496.0 - 1.0;
    static constexpr double kRoots[] = {220.0, 174.61, 261.63, 196.0};
    const double inBar = std::fmod(t, 2.0);
    const double root = kRoots[static_cast<int>(t / 2.0) % 4];
    double value = 0.0;
    for (double ratio : {1.0, 1.25, 1.5, 2.0})
        value += std::sin(2 * M_PI * root * ratio * t + channel * 0.3 * ratio);
    value *= 0.1 * std::exp(-1.5 * inBar) * std::min(1.0, inBar * 200.0);
    value += 0.3 * std::exp(-25.0 * std::fmod(t, 1.0)) * std::sin(2 * M_PI * 55.0 * t);
    value += 0.08 * std::exp(-40.0 * std::fmod(t, 0.25)) * noise;
    if (accentEvery > 0.0)
        value += 0.4 * std::exp(-300.0 * std::fmod(t, accentEvery)) * noise;
    return std::clamp(value, -1.0, 1.0);
}

double NoiseAndSquareSample(int64_t index, int sampleRate, int channel)
{
    uint64_t state = static_cast<uint64_t>(index) * 2 + static_cast<uint64_t>(channel) + 0x2545f4914f6cdd1dULL;
    state = (state ^ (state >> 33)) * 0xff51afd7ed558ccdULL;
    state = (state ^ (state >> 33)) * 0xc4ceb9fe1a85ec53ULL;
    const double noise = static_cast<double>((state ^ (state >> 33)) >> 11) / 4503599627370496.0 - 1.0;
    const bool high = std::fmod(static_cast<double>(index) / sampleRate * 55.0, 1.0) < 0.5;
    return (high ? 0.003 : -0.003) + 0.00003 * noise;
}

namespace {

void FillAudio(OutputStream &out, const AudioTrack &track, int samples)
{
    AVFrame *frame = out.frame.get();
    AVCodecContext *encoder = out.encoder.get();
    avutil.av_frame_unref(frame);
    frame->nb_samples = samples;
    frame->format = encoder->sample_fmt;
    frame->sample_rate = encoder->sample_rate;
    avutil.av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout);
    Check(avutil.av_frame_get_buffer(frame, 0), "allocating audio");
    const bool planar = avutil.av_sample_fmt_is_planar(encoder->sample_fmt);
    const int channels = encoder->ch_layout.nb_channels;
    for (int i = 0; i < samples; ++i) {
        const double t = static_cast<double>(out.nextPts + i) / encoder->sample_rate;
        const double sine = track.amplitude * std::sin(2 * M_PI * track.frequency * t);
        for (int c = 0; c < channels; ++c) {
            const double value = track.noiseAndSquare ? NoiseAndSquareSample(out.nextPts + i, encoder->sample_rate, c)
                                 : track.music
                                     ? MusicSample(out.nextPts + i, encoder->sample_rate, c, track.accentEvery)
                                     : sine;
            const int index = planar ? i : i * channels + c;
            uint8_t *plane = frame->extended_data[planar ? c : 0];
            switch (avutil.av_get_packed_sample_fmt(encoder->sample_fmt)) {
            case AV_SAMPLE_FMT_U8:
                plane[index] = static_cast<uint8_t>(128 + std::lround(value * 127));
                break;
            case AV_SAMPLE_FMT_S16:
                reinterpret_cast<int16_t *>(plane)[index] = static_cast<int16_t>(std::lround(value * 32767));
                break;
            case AV_SAMPLE_FMT_S32:
                reinterpret_cast<int32_t *>(plane)[index] = static_cast<int32_t>(std::lround(value * 2147483647.0));
                break;
            case AV_SAMPLE_FMT_FLT:
                reinterpret_cast<float *>(plane)[index] = static_cast<float>(value);
                break;
            case AV_SAMPLE_FMT_DBL:
                reinterpret_cast<double *>(plane)[index] = value;
                break;
            default:
                throw std::runtime_error("sample format not supported by the fixture writer");
            }
        }
    }
    frame->pts = out.nextPts + out.gap;
    out.nextPts += samples;
}

// Paints the pattern as packed RGB and converts it to the encoder's format.
void PaintVideo(OutputStream &out, const VideoTrack &track, SwsContextPtr &convert)
{
    AVFrame *frame = out.frame.get();
    AVCodecContext *encoder = out.encoder.get();
    const int width = encoder->width, height = encoder->height;
    const int n = static_cast<int>(out.nextPts);
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t *pixel = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            if (track.pattern == VideoPattern::Bands) {
                const unsigned char *colour = kBandColours[x * kBandCount / width];
                std::copy_n(colour, 3, pixel);
            } else if (track.pattern == VideoPattern::Gradient) {
                pixel[0] = static_cast<uint8_t>(x + n * 3);
                pixel[1] = static_cast<uint8_t>(y * 2);
                pixel[2] = static_cast<uint8_t>(x + y);
            } else {
                const int bit = kCounterBits - 1 - x * kCounterBits / width;
                std::fill_n(pixel, 3, ((n >> bit) & 1) ? 255 : 0);
            }
        }
    SwsContext *context =
        swscale.sws_getCachedContext(convert.release(), width, height, AV_PIX_FMT_RGB24, width, height,
                                     encoder->pix_fmt, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    convert.reset(context);
    if (!context)
        throw std::runtime_error("no converter from RGB to the encoder's format");
    const uint8_t *planes[4] = {rgb.data()};
    const int strides[4] = {width * 3};
    swscale.sws_scale(context, planes, strides, 0, height, frame->data, frame->linesize);
}

void FillVideo(OutputStream &out, const VideoTrack &track, SwsContextPtr &convert)
{
    AVFrame *frame = out.frame.get();
    AVCodecContext *encoder = out.encoder.get();
    avutil.av_frame_unref(frame);
    frame->format = encoder->pix_fmt;
    frame->width = encoder->width;
    frame->height = encoder->height;
    Check(avutil.av_frame_get_buffer(frame, 0), "allocating picture");
    if (track.pattern != VideoPattern::Gradient ||
        (encoder->pix_fmt != AV_PIX_FMT_YUV420P && encoder->pix_fmt != AV_PIX_FMT_YUVJ420P)) {
        PaintVideo(out, track, convert);
        frame->pts = out.nextPts++;
        return;
    }
    const int n = static_cast<int>(out.nextPts);
    // A gradient that moves with the frame number, and flat chroma.
    for (int y = 0; y < encoder->height; ++y)
        for (int x = 0; x < encoder->width; ++x)
            frame->data[0][y * frame->linesize[0] + x] = static_cast<uint8_t>(x + y + n * 3);
    for (int y = 0; y < encoder->height / 2; ++y)
        for (int x = 0; x < encoder->width / 2; ++x) {
            frame->data[1][y * frame->linesize[1] + x] = static_cast<uint8_t>(128 + y);
            frame->data[2][y * frame->linesize[2] + x] = static_cast<uint8_t>(64 + x + n * 2);
        }
    frame->pts = out.nextPts++;
}

void WritePackets(AVFormatContext *output, OutputStream &out, AVPacket *packet)
{
    for (;;) {
        const int result = avcodec.avcodec_receive_packet(out.encoder.get(), packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return;
        Check(result, "encoding");
        // Without a duration an MP4 ends its track at the last picture's start, losing that picture.
        const AVRational rate = out.encoder->framerate;
        if (packet->duration == 0 && out.encoder->codec_type == AVMEDIA_TYPE_VIDEO && rate.num > 0)
            packet->duration = avutil.av_rescale_q(1, AVRational{rate.den, rate.num}, out.encoder->time_base);
        avcodec.av_packet_rescale_ts(packet, out.encoder->time_base, out.stream->time_base);
        packet->stream_index = out.stream->index;
        Check(avformat.av_interleaved_write_frame(output, packet), "writing a packet");
    }
}

} // namespace

void WriteMediaFile(const std::string &path, const MediaRecipe &recipe)
{
    AVFormatContext *raw = nullptr;
    Check(avformat.avformat_alloc_output_context2(
              &raw, nullptr, recipe.format.empty() ? nullptr : recipe.format.c_str(), path.c_str()),
          "choosing a muxer for " + path);
    OutputFormatContextPtr output(raw);
    for (const auto &[key, value] : recipe.tags)
        avutil.av_dict_set(&output->metadata, key.c_str(), value.c_str(), 0);

    std::vector<const AudioTrack *> audioTracks;
    if (recipe.audio)
        audioTracks.push_back(&*recipe.audio);
    for (const AudioTrack &track : recipe.moreAudio)
        audioTracks.push_back(&track);
    std::vector<OutputStream> streams;
    streams.reserve(1 + audioTracks.size());
    if (recipe.video) {
        const VideoTrack &track = *recipe.video;
        OutputStream &out = streams.emplace_back();
        out.encoder = OpenEncoder(track.codec, output.get(), [&](AVCodecContext *c, const AVCodec *codec) {
            c->width = track.width;
            c->height = track.height;
            c->time_base = AVRational{1, track.frameRate};
            c->framerate = AVRational{track.frameRate, 1};
            c->pix_fmt = !track.pixelFormat.empty() ? avutil.av_get_pix_fmt(track.pixelFormat.c_str())
                         : codec->pix_fmts          ? codec->pix_fmts[0]
                                                    : AV_PIX_FMT_YUV420P;
            c->gop_size = track.gopSize;
        });
        out.totalUnits = track.coverArt ? 1 : std::lround(recipe.seconds * track.frameRate);
        AddStream(output.get(), out);
        if (track.coverArt)
            out.stream->disposition |= AV_DISPOSITION_ATTACHED_PIC;
    }
    for (const AudioTrack *audio : audioTracks) {
        const AudioTrack &track = *audio;
        OutputStream &out = streams.emplace_back();
        out.audio = audio;
        out.encoder = OpenEncoder(track.codec, output.get(), [&](AVCodecContext *c, const AVCodec *codec) {
            c->sample_fmt = !track.sampleFormat.empty() ? avutil.av_get_sample_fmt(track.sampleFormat.c_str())
                            : codec->sample_fmts        ? codec->sample_fmts[0]
                                                        : AV_SAMPLE_FMT_S16;
            c->sample_rate = track.sampleRate;
            avutil.av_channel_layout_default(&c->ch_layout, track.channels);
            c->time_base = AVRational{1, track.sampleRate};
            if (track.bitRate > 0)
                c->bit_rate = track.bitRate;
        });
        out.totalUnits = std::lround(recipe.seconds * track.sampleRate);
        AddStream(output.get(), out);
    }

    std::vector<Attachment> attachments = recipe.attachments;
    if (!recipe.attachedJpeg.empty())
        attachments.insert(attachments.begin(), {"cover.jpg", "image/jpeg", recipe.attachedJpeg});
    for (const Attachment &file : attachments) {
        AVStream *attachment = avformat.avformat_new_stream(output.get(), nullptr);
        auto *data = static_cast<uint8_t *>(avutil.av_mallocz(file.data.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!attachment || !data)
            throw std::runtime_error("attaching " + file.fileName + " to " + path);
        std::copy(file.data.begin(), file.data.end(), data);
        attachment->codecpar->codec_type = AVMEDIA_TYPE_ATTACHMENT;
        attachment->codecpar->extradata = data; // freed with the stream
        attachment->codecpar->extradata_size = static_cast<int>(file.data.size());
        avutil.av_dict_set(&attachment->metadata, "filename", file.fileName.c_str(), 0);
        avutil.av_dict_set(&attachment->metadata, "mimetype", file.mimeType.c_str(), 0);
    }
    if (!(output->oformat->flags & AVFMT_NOFILE))
        Check(avformat.avio_open2(&output->pb, path.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr), "opening " + path);
    AVDictionary *options = nullptr;
    for (const auto &[key, value] : recipe.muxerOptions)
        avutil.av_dict_set(&options, key.c_str(), value.c_str(), 0);
    const int written = avformat.avformat_write_header(output.get(), &options);
    avutil.av_dict_free(&options);
    Check(written, "writing the header");

    AVPacketPtr packet(avcodec.av_packet_alloc());
    SwsContextPtr convert;
    for (;;) {
        // The stream that is furthest behind in time goes next.
        OutputStream *next = nullptr;
        for (OutputStream &out : streams)
            if (!out.done && (!next || avutil.av_compare_ts(out.nextPts, out.encoder->time_base, next->nextPts,
                                                            next->encoder->time_base) < 0))
                next = &out;
        if (!next)
            break;
        if (next->nextPts >= next->totalUnits) {
            Check(avcodec.avcodec_send_frame(next->encoder.get(), nullptr), "flushing");
            WritePackets(output.get(), *next, packet.get());
            next->done = true;
            continue;
        }
        if (next->encoder->codec_type == AVMEDIA_TYPE_AUDIO) {
            const AudioTrack &track = *next->audio;
            const int frameSize = next->encoder->frame_size > 0 ? next->encoder->frame_size
                                  : track.frameSamples > 0      ? track.frameSamples
                                                                : 1024;
            const int samples = static_cast<int>(std::min<int64_t>(frameSize, next->totalUnits - next->nextPts));
            FillAudio(*next, track, samples);
            if (track.gapSamples > 0 && next->frame->pts < std::lround(track.gapAt * track.sampleRate) &&
                next->nextPts >= std::lround(track.gapAt * track.sampleRate))
                next->gap = track.gapSamples;
        } else {
            FillVideo(*next, *recipe.video, convert);
        }
        Check(avcodec.avcodec_send_frame(next->encoder.get(), next->frame.get()), "sending a frame");
        WritePackets(output.get(), *next, packet.get());
    }
    Check(avformat.av_write_trailer(output.get()), "writing the trailer");
}

namespace {

// A file opened with the decoder of its first stream of the given type.
struct OpenedStream {
    InputFormatContextPtr input;
    int index = -1;
    AVCodecContextPtr decoder;
};

OpenedStream OpenFirstStream(const std::string &path, AVMediaType type)
{
    OpenedStream opened;
    AVFormatContext *raw = nullptr;
    Check(avformat.avformat_open_input(&raw, path.c_str(), nullptr, nullptr), "opening " + path);
    opened.input.reset(raw);
    Check(avformat.avformat_find_stream_info(raw, nullptr), "reading " + path);
    for (unsigned i = 0; i < raw->nb_streams && opened.index < 0; ++i)
        if (raw->streams[i]->codecpar->codec_type == type)
            opened.index = static_cast<int>(i);
    if (opened.index < 0)
        throw std::runtime_error(path + (type == AVMEDIA_TYPE_AUDIO ? " has no audio" : " has no video"));
    const AVStream *stream = raw->streams[opened.index];
    const AVCodec *codec = avcodec.avcodec_find_decoder(stream->codecpar->codec_id);
    opened.decoder.reset(avcodec.avcodec_alloc_context3(codec));
    Check(avcodec.avcodec_parameters_to_context(opened.decoder.get(), stream->codecpar), "decoder parameters");
    opened.decoder->pkt_timebase = stream->time_base;
    Check(avcodec.avcodec_open2(opened.decoder.get(), codec, nullptr), "opening the decoder");
    return opened;
}

} // namespace

DecodedAudio DecodeAudio(const std::string &path)
{
    DecodedAudio result;
    OpenedStream opened = OpenFirstStream(path, AVMEDIA_TYPE_AUDIO);
    AVFormatContext *raw = opened.input.get();
    const int index = opened.index;
    AVCodecContextPtr &decoder = opened.decoder;
    result.container = raw->iformat->name;
    result.codec = avcodec.avcodec_get_name(decoder->codec_id);
    const AVStream *stream = raw->streams[index];
    result.bitRate = stream->codecpar->bit_rate;
    if (stream->time_base.num == 1 && stream->time_base.den == decoder->sample_rate)
        result.statedFrames = std::max<int64_t>(stream->duration, 0);
    result.sampleRate = decoder->sample_rate;
    result.channels = decoder->ch_layout.nb_channels;
    SwrContextPtr convert;
    const bool decoded = DecodeStream(raw, index, decoder.get(), [&](AVFrame *frame) {
        if (!convert) {
            SwrContext *context = nullptr;
            Check(swresample.swr_alloc_set_opts2(&context, &frame->ch_layout, AV_SAMPLE_FMT_S16, frame->sample_rate,
                                                 &frame->ch_layout, static_cast<AVSampleFormat>(frame->format),
                                                 frame->sample_rate, 0, nullptr),
                  "converter");
            convert.reset(context);
            Check(swresample.swr_init(context), "converter");
        }
        const size_t at = result.samples.size();
        result.samples.resize(at + static_cast<size_t>(frame->nb_samples) * result.channels);
        uint8_t *out = reinterpret_cast<uint8_t *>(result.samples.data() + at);
        const int got = swresample.swr_convert(convert.get(), &out, frame->nb_samples,
                                               const_cast<const uint8_t **>(frame->extended_data), frame->nb_samples);
        result.samples.resize(at + static_cast<size_t>(std::max(got, 0)) * result.channels);
    });
    if (!decoded)
        throw std::runtime_error("no memory to decode " + path);
    return result;
}

DecodedVideo DecodeVideo(const std::string &path)
{
    DecodedVideo result;
    OpenedStream opened = OpenFirstStream(path, AVMEDIA_TYPE_VIDEO);
    AVFormatContext *raw = opened.input.get();
    const int index = opened.index;
    const AVStream *stream = raw->streams[index];
    AVCodecContextPtr &decoder = opened.decoder;
    result.width = decoder->width;
    result.height = decoder->height;
    if (stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0)
        result.frameRate = static_cast<double>(stream->avg_frame_rate.num) / stream->avg_frame_rate.den;
    SwsContextPtr convert;
    const bool decoded = DecodeStream(raw, index, decoder.get(), [&](AVFrame *frame) {
        convert.reset(swscale.sws_getCachedContext(
            convert.release(), frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), result.width,
            result.height, AV_PIX_FMT_RGB24, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
        if (!convert)
            throw std::runtime_error("no converter to RGB for " + path);
        auto &rgb = result.frames.emplace_back(static_cast<size_t>(result.width) * result.height * 3);
        uint8_t *planes[4] = {rgb.data()};
        const int strides[4] = {result.width * 3};
        swscale.sws_scale(convert.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
        const int64_t pts = frame->best_effort_timestamp;
        result.seconds.push_back(
            pts == AV_NOPTS_VALUE ? -1.0 : static_cast<double>(pts) * stream->time_base.num / stream->time_base.den);
    });
    if (!decoded)
        throw std::runtime_error("no memory to decode " + path);
    return result;
}

int ReadCounter(const unsigned char *row, int width)
{
    int value = 0;
    for (int bit = 0; bit < kCounterBits; ++bit) {
        const int x = (2 * bit + 1) * width / (2 * kCounterBits);
        value = value << 1 | (row[x * 3 + 1] > 128 ? 1 : 0);
    }
    return value;
}

void PatchBytes(const std::string &path, const std::string &from, const std::string &to)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    for (size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + to.size()))
        bytes.replace(at, from.size(), to);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void WriteSineWav(const std::string &path, double seconds, int sampleRate, int channels)
{
    MediaRecipe recipe;
    recipe.seconds = seconds;
    recipe.audio = AudioTrack{"pcm_s16le", sampleRate, channels};
    WriteMediaFile(path, recipe);
}

void WriteSineMp3(const std::string &path, double seconds, const std::map<std::string, std::string> &tags)
{
    MediaRecipe recipe;
    recipe.seconds = seconds;
    recipe.audio = AudioTrack{"libmp3lame", 44100, 2, 440.0, 0.5, 128000};
    recipe.tags = tags;
    WriteMediaFile(path, recipe);
}

int WriteFromProgram(const std::function<void()> &write)
{
    if (!avlib::LoadAll(avlib::DefaultLibraryDir(), true)) {
        std::cerr << avlib::LastErrorText() << "\n";
        return 1;
    }
    try {
        write();
    } catch (const std::exception &e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}

} // namespace testing_support
