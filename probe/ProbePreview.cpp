// Seeking the probed file and decoding single pictures of it into a 24-bit BGR bitmap.
#include "probe/AVProbe.h"

#include "libs/AVEntryPoints.h"
#include "libs/AVLibLoader.h"
#include "libs/LibraryLock.h"
#include "libs/TextFormat.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <strings.h>

using namespace avlib;

namespace {

void LogLine(int level, const std::string &text)
{
    if (UnitLoaded(Unit::AVUtil))
        avutil.av_log(nullptr, level, "%s", text.c_str());
}

// Library log levels of the probe's messages: errors, notices, details.
constexpr int kLevelError = AV_LOG_ERROR;
constexpr int kLevelNotice = AV_LOG_INFO;
constexpr int kLevelDetail = AV_LOG_DEBUG;

} // namespace

void TAVProbe::BufferDeleter::operator()(uint8_t *buffer) const
{
    if (UnitLoaded(Unit::AVUtil))
        avutil.av_free(buffer);
}

bool TAVProbe::IsImage2() const
{
    return FormatContext_ && FormatContext_->iformat && FormatContext_->iformat->name &&
           strcasecmp(FormatContext_->iformat->name, "image2") == 0;
}

void TAVProbe::RaiseReadOnly(const char *text)
{
    LogLine(kLevelNotice, std::string(text) + "\n");
    LastErrMsg = text;
    throw EAVProbeError(text);
}

bool TAVProbe::Seek(int streamIndex, int64_t pts)
{
    if (FormatContext_ && !OwnsContext_)
        RaiseReadOnly("file cannot be seeked, handle is readonly.");
    if (!FormatContext_) {
        LogLine(kLevelNotice, "file not loaded.\n");
        LastErrMsg = "file not loaded.";
        return false;
    }
    if (IsImage2()) {
        LogLine(kLevelNotice, "\"image2\" format cannot to be seeked.\n");
        return true;
    }
    int64_t t = pts < 0 ? 0 : pts;
    int index = streamIndex;
    if (index < 0)
        index = FirstVideo >= 0 ? FirstVideo : FirstAudio >= 0 ? FirstAudio : FirstSubtitle;
    else if (index >= StreamCount) {
        LogLine(kLevelError, FormatText("stream index #%d is invalid.\n", index));
        return false;
    }
    int64_t start;
    AVRational base;
    if (index >= 0) {
        const AVStream *stream = FormatContext_->streams[index];
        base = stream->time_base;
        // Rounded down: a time between two pictures belongs to the earlier one.
        t = avutil.av_rescale_q_rnd(t, AVRational{1, AV_TIME_BASE}, base, AV_ROUND_DOWN);
        if (stream->duration > 0 && stream->duration < t)
            t = stream->duration;
        start = stream->start_time;
    } else {
        base = AVRational{1, AV_TIME_BASE};
        if (FormatContext_->duration > 0 && FormatContext_->duration < t)
            t = FormatContext_->duration;
        start = FormatContext_->start_time;
    }
    if (start != AV_NOPTS_VALUE)
        t += start;

    // The key picture at or before the target, so that decoding forward reaches the target itself.
    SeekStream = index;
    SeekPosition = pts > 0 ? t : 0;
    // Packets are found by decoding times, which run ahead of the first picture's time by the
    // reordering delay (well under a second): retreats go down to there.
    SeekFloor =
        (start != AV_NOPTS_VALUE ? start : 0) - avutil.av_rescale_q(AV_TIME_BASE, AVRational{1, AV_TIME_BASE}, base);
    SeekRetreats = 0;
    if (SeekTo() < 0)
        LogLine(kLevelError, FormatText("could not seek to position %0.3f\n", static_cast<double>(pts) / 1000000));
    SeekPending = pts > 0;
    SeekTarget = t;
    SeekTargetBase = base;
    return true;
}

int TAVProbe::SeekTo()
{
    // No picture from before the seek may come out afterwards.
    if (DecoderContext) {
        avcodec.avcodec_flush_buffers(DecoderContext.get());
        DecoderDrained = false;
    }
    if (Passed)
        avutil.av_frame_unref(Passed.get());
    KeyPending = FirstPacketPending = true;
    const int result = avformat.av_seek_frame(FormatContext_, SeekStream, SeekPosition, AVSEEK_FLAG_BACKWARD);
    // A file with no key picture before the position is sought forward instead.
    return result >= 0 ? result : avformat.av_seek_frame(FormatContext_, SeekStream, SeekPosition, 0);
}

bool TAVProbe::RetreatSeek()
{
    // 1, 2, 4 ... 32 seconds further back.
    constexpr int kMaxRetreats = 6;
    if (SeekRetreats >= kMaxRetreats || SeekPosition <= SeekFloor)
        return false;
    const AVRational base =
        SeekStream >= 0 ? FormatContext_->streams[SeekStream]->time_base : AVRational{1, AV_TIME_BASE};
    const int64_t step = avutil.av_rescale_q(int64_t{AV_TIME_BASE} << SeekRetreats, AVRational{1, AV_TIME_BASE}, base);
    SeekPosition = std::max(SeekFloor, SeekPosition - std::max<int64_t>(step, 1));
    ++SeekRetreats;
    return SeekTo() >= 0;
}

void TAVProbe::CloseDecoder()
{
    if (DecoderContext) {
        std::lock_guard<std::recursive_mutex> lock(LibraryLock());
        DecoderContext.reset();
    }
    DecoderStream = -1;
    DecoderDrained = false;
    // Once the libraries are gone the held picture cannot be let go; its owner frees nothing then.
    if (Passed && UnitLoaded(Unit::AVUtil))
        avutil.av_frame_unref(Passed.get());
}

void TAVProbe::OpenDecoder(int index)
{
    if (DecoderContext && DecoderStream == index)
        return;
    CloseDecoder();
    const AVStream *stream = FormatContext_->streams[index];
    const AVCodec *codec = avcodec.avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        throw EAVProbeError(FormatText("Unsupported codec (id=%d) for input file stream #%d",
                                       static_cast<int>(stream->codecpar->codec_id), index));
    const std::string openError = FormatText("Error while opening codec for input file stream #%d", index);
    AVCodecContextPtr context(avcodec.avcodec_alloc_context3(codec));
    if (!context)
        throw EAVProbeError(openError);
    if (avcodec.avcodec_parameters_to_context(context.get(), stream->codecpar) < 0)
        throw EAVProbeError(openError);
    context->pkt_timebase = stream->time_base;
    {
        // Codec opens and closes are serialised with the engines' ones.
        std::lock_guard<std::recursive_mutex> lock(LibraryLock());
        if (avcodec.avcodec_open2(context.get(), codec, nullptr) < 0) {
            context.reset();
            throw EAVProbeError(openError);
        }
    }
    if (!Packet)
        Packet.reset(avcodec.av_packet_alloc());
    if (!Picture)
        Picture.reset(avutil.av_frame_alloc());
    if (!Passed)
        Passed.reset(avutil.av_frame_alloc());
    if (!Packet || !Picture || !Passed) {
        std::lock_guard<std::recursive_mutex> lock(LibraryLock());
        context.reset();
        throw EAVProbeError(openError);
    }
    DecoderContext = std::move(context);
    DecoderStream = index;
    DecoderDrained = false;
}

bool TAVProbe::BeforeSeekTarget(int64_t pts, int64_t duration) const
{
    if (pts == AV_NOPTS_VALUE)
        return false;
    const AVStream *stream = FormatContext_->streams[DecoderStream];
    if (duration <= 0) {
        const AVRational average = stream->avg_frame_rate;
        const AVRational rate = average.num > 0 && average.den > 0 ? average : stream->r_frame_rate;
        if (rate.num > 0 && rate.den > 0)
            duration = avutil.av_rescale_q(1, AVRational{rate.den, rate.num}, stream->time_base);
    }
    // A picture is passed over when the next one starts at or before the target.
    if (duration > 0)
        return avutil.av_compare_ts(pts + duration, stream->time_base, SeekTarget, SeekTargetBase) <= 0;
    return avutil.av_compare_ts(pts, stream->time_base, SeekTarget, SeekTargetBase) < 0;
}

bool TAVProbe::BeforeSeekTarget(const AVFrame *picture) const
{
    return BeforeSeekTarget(picture->best_effort_timestamp, picture->pkt_duration);
}

bool TAVProbe::PacketBeforeSeekTarget(const AVPacket *packet) const
{
    return BeforeSeekTarget(packet->pts, packet->duration);
}

AVFrame *TAVProbe::NextPicture()
{
    // A decoder that keeps failing after the end of its input is given up.
    constexpr int kMaxErrorsAfterEnd = 64;
    AVCodecContext *decoder = DecoderContext.get();
    AVFrame *picture = Picture.get();
    int errorsAfterEnd = 0;
    for (;;) {
        avutil.av_frame_unref(picture);
        const int received = avcodec.avcodec_receive_frame(decoder, picture);
        if (received >= 0) {
            // A seek that did not land on a key picture: what comes before the next key picture
            // lacks its references and is not shown.
            if (KeyPending && !picture->key_frame)
                continue;
            KeyPending = false;
            if (SeekPending && BeforeSeekTarget(picture)) {
                avutil.av_frame_unref(Passed.get());
                avutil.av_frame_move_ref(Passed.get(), picture);
                continue;
            }
            SeekPending = false;
            avutil.av_frame_unref(Passed.get());
            return picture;
        }
        if (DecoderDrained) {
            if (received != AVERROR_EOF && received != AVERROR(EAGAIN) && ++errorsAfterEnd < kMaxErrorsAfterEnd)
                continue;
            // Everything is out. A seek beyond the last picture shows the last one.
            SeekPending = KeyPending = false;
            if (!Passed->buf[0])
                return nullptr;
            avutil.av_frame_move_ref(picture, Passed.get());
            return picture;
        }
        // Wants input, or failed on a packet: either way the next packet goes in.
        if (avformat.av_read_frame(FormatContext_, Packet.get()) < 0) {
            // The pictures the decoder still holds (reordering, threads) come out now.
            avcodec.avcodec_send_packet(decoder, nullptr);
            DecoderDrained = true;
            continue;
        }
        if (Packet->stream_index == DecoderStream) {
            // Some demuxers seek to any packet, not only to key ones: then further back.
            if (FirstPacketPending) {
                FirstPacketPending = false;
                if (Packet->flags & AV_PKT_FLAG_KEY) {
                    KeyPending = false;
                } else if (RetreatSeek()) {
                    avcodec.av_packet_unref(Packet.get());
                    continue;
                }
            }
            // Pictures that are passed over and that no other picture refers to need no decoding.
            // (The last picture of a stream is one others refer to, so a seek beyond it still shows it.)
            decoder->skip_frame =
                SeekPending && PacketBeforeSeekTarget(Packet.get()) ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
            // A packet the decoder refuses is passed over, like one of another stream.
            avcodec.avcodec_send_packet(decoder, Packet.get());
        }
        avcodec.av_packet_unref(Packet.get());
    }
}

bool TAVProbe::CopyPicture(const AVFrame *picture)
{
    const int width = picture->width, height = picture->height;
    const AVPixelFormat format = static_cast<AVPixelFormat>(picture->format);
    if (width <= 0 || height <= 0)
        return false;
    const uint8_t *source;
    ptrdiff_t stride;
    if (format == AV_PIX_FMT_BGR24) {
        source = picture->data[0];
        stride = picture->linesize[0];
    } else {
        const int size = avutil.av_image_get_buffer_size(AV_PIX_FMT_BGR24, width, height, 1);
        if (size < 0)
            return false;
        if (!PictureBuffer || PictureBufferSize_ < static_cast<size_t>(size)) {
            PictureBuffer.reset();
            PictureBufferSize_ = 0;
            PictureBuffer.reset(static_cast<uint8_t *>(avutil.av_malloc(static_cast<size_t>(size))));
            if (!PictureBuffer)
                return false;
            PictureBufferSize_ = static_cast<size_t>(size);
        }
        uint8_t *planes[4];
        int strides[4];
        if (avutil.av_image_fill_arrays(planes, strides, PictureBuffer.get(), AV_PIX_FMT_BGR24, width, height, 1) < 0)
            return false;
        ScalerContext.reset(swscale.sws_getCachedContext(ScalerContext.release(), width, height, format, width, height,
                                                         AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!ScalerContext) {
            LogLine(kLevelError, "Cannot initialize the toRGB conversion context\n");
            return false;
        }
        if (swscale.sws_scale(ScalerContext.get(), picture->data, picture->linesize, 0, height, planes, strides) !=
            height)
            return false;
        source = planes[0];
        stride = strides[0];
    }
    // A picture may differ in size from what the stream announced; the bitmap takes its size.
    if (FrameBitmap->Width() != width || FrameBitmap->Height() != height)
        FrameBitmap->SetSize(width, height);
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    for (int y = 0; y < height; ++y)
        std::memcpy(FrameBitmap->ScanLine(y), source + y * stride, rowBytes);
    return true;
}

TBitmap24 &TAVProbe::DecodeFrame(int streamIndex)
{
    if (FormatContext_ && !OwnsContext_)
        RaiseReadOnly("frame cannot be read, handle is readonly.");
    if (!FrameBitmap)
        FrameBitmap = std::make_unique<TBitmap24>();
    TBitmap24 &bitmap = *FrameBitmap;
    if (!FormatContext_) {
        LogLine(kLevelError, "file not loaded.\n");
        bitmap.SetSize(0, 0);
        return bitmap;
    }
    int index = streamIndex;
    if (index < 0) {
        index = FirstVideo;
        if (index < 0) {
            LogLine(kLevelError, "no video stream.\n");
            bitmap.SetSize(0, 0);
            return bitmap;
        }
    } else if (index >= StreamCount) {
        LogLine(kLevelError, FormatText("stream index #%d is invalid.\n", index));
        bitmap.SetSize(0, 0);
        return bitmap;
    }
    const AVCodecParameters *parameters = FormatContext_->streams[index]->codecpar;
    if (parameters->codec_type != AVMEDIA_TYPE_VIDEO) {
        LogLine(kLevelError, FormatText("stream #%d is not video stream.\n", index));
        bitmap.SetSize(0, 0);
        return bitmap;
    }
    // A still image is decoded once.
    if (LastWasImage2 && IsImage2())
        return bitmap;
    // No size, or one no picture can have.
    if (parameters->width <= 0 || parameters->height <= 0 ||
        avutil.av_image_get_buffer_size(AV_PIX_FMT_BGR24, parameters->width, parameters->height, 1) < 0) {
        bitmap.SetSize(0, 0);
        return bitmap;
    }
    OpenDecoder(index);
    // The stream's size; kept as it is (no new memory, no clearing) when it is that already.
    if (bitmap.Width() != parameters->width || bitmap.Height() != parameters->height)
        bitmap.SetSize(parameters->width, parameters->height);

    const AVFrame *picture = NextPicture();
    if (!picture) {
        LogLine(kLevelDetail, "stream eof reached.\n");
        bitmap.FillBlack();
        return bitmap;
    }
    if (!CopyPicture(picture)) {
        avutil.av_frame_unref(Picture.get());
        bitmap.FillBlack();
        return bitmap;
    }
    avutil.av_frame_unref(Picture.get());
    if (!LastFrameBitmap)
        LastFrameBitmap = std::make_unique<TBitmap24>();
    *LastFrameBitmap = bitmap;
    LastWasImage2 = IsImage2();
    return bitmap;
}

TBitmap24 &TAVProbe::LastFrame()
{
    if (!LastFrameBitmap)
        LastFrameBitmap = std::make_unique<TBitmap24>();
    return *LastFrameBitmap;
}
