// Decoded pictures to the video encoders: the filter chain, frame-rate conversion, crop, scale,
// pad and encoding.
#include "engine/FFmpeg.h"

#include "engine/PictureOps.h"
#include "engine/Saturating.h"
#include "engine/ScopeExit.h"
#include "libs/AVEntryPoints.h"
#include "libs/TextFormat.h"

#include <algorithm>
#include <cmath>

using namespace avlib;

namespace {

constexpr AVRational kMicroseconds{1, 1000000};

// A new reference to frame's picture that may be cropped without touching frame.
AVFramePtr Reference(const AVFrame *frame)
{
    AVFramePtr view(avutil.av_frame_alloc());
    if (!view || avutil.av_frame_ref(view.get(), frame) < 0)
        throw FFMpegException("av_mallocz fail");
    return view;
}

} // namespace

void TCustomFFmpeg::FeedVideo(TInputStreamRec &input, int inputIndex, const AVPacket *packet, AVFrame *picture)
{
    if (!input.FilterGraph) {
        FeedOutputs(input, inputIndex, packet, nullptr, 0, picture);
        return;
    }
    // No picture: the end of the stream, and the chain gives up what it still holds.
    if (picture) {
        // Not every filter follows a change of picture size in mid-stream; such pictures stay out.
        if (picture->width != input.FilterSourceWidth || picture->height != input.FilterSourceHeight ||
            picture->format != input.FilterSourceFormat) {
            Log(0, FormatText("picture of %dx%d in a stream of %dx%d left out: the filter chain takes one size",
                              picture->width, picture->height, input.FilterSourceWidth, input.FilterSourceHeight));
            return;
        }
        picture->pts = picture->best_effort_timestamp;
    }
    if (avfilter.av_buffersrc_add_frame_flags(input.InputVideoFilter, picture,
                                              picture ? AV_BUFFERSRC_FLAG_KEEP_REF : 0) < 0) {
        if (ExitOnError)
            throw FFMpegException("Error while filtering the picture");
        Log(0, "Error while filtering the picture");
        return;
    }
    if (!input.PicRef)
        input.PicRef.reset(avutil.av_frame_alloc());
    if (!input.PicRef)
        throw FFMpegException("av_mallocz fail");
    const AVRational sinkBase = avfilter.av_buffersink_get_time_base(input.OutVideoFilter);
    for (;;) {
        const int got = avfilter.av_buffersink_get_frame(input.OutVideoFilter, input.PicRef.get());
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
            break;
        if (got < 0) {
            Log(0, "Error while filtering the picture");
            break;
        }
        ScopeExit release([&input] { avutil.av_frame_unref(input.PicRef.get()); });
        if (input.PicRef->pts != AV_NOPTS_VALUE)
            input.Pts = avutil.av_rescale_q(input.PicRef->pts, sinkBase, kMicroseconds);
        FeedOutputs(input, inputIndex, packet, nullptr, 0, input.PicRef.get());
    }
}

int TCustomFFmpeg::DoVideoOut(TOutputStreamRec &output, TInputStreamRec &input, AVFrame *picture)
{
    if (!picture)
        return 0;
    const int64_t count = VideoCopiesToWrite(output);
    if (count <= 0)
        return 0;
    // Views into the pictures that the encoded one may be made of, kept until it is encoded.
    AVFramePtr cropped, padView;
    AVFrame *formatted = CropForEncoder(output, picture, cropped);
    if (!formatted)
        return 0;
    NoteVideoShapeChange(output, formatted);
    AVFrame *final = ScaleAndPadForEncoder(output, formatted, padView);
    if (!final)
        return 0;
    return EncodeVideoCopies(output, input, picture, final, count);
}

int64_t TCustomFFmpeg::VideoCopiesToWrite(TOutputStreamRec &output)
{
    // How many times this picture goes out: 0 drops it, more than 1 duplicates it.
    const AVCodecContext *encoder = output.Encoder;
    int64_t count = 1;
    const double timeBase = static_cast<double>(encoder->time_base.num) / encoder->time_base.den;
    const double ipts = GetSyncIpts(output);
    if (VideoSyncMethod > 0 || (VideoSyncMethod != 0 && timeBase > 0.001)) {
        const double vdelta = ipts / timeBase - static_cast<double>(output.SyncOpts);
        if (vdelta < -1.1)
            count = 0;
        else if (VideoSyncMethod == 2)
            output.SyncOpts = std::llrint(ipts / timeBase);
        else if (vdelta > 1.1)
            count = std::llrint(vdelta);
        if (count == 0) {
            FramesDrop = SaturatingCast<int32_t>(int64_t{FramesDrop} + 1);
            if (Verbose > 2)
                Log(1, "*** drop!");
        } else if (count > 1) {
            FramesDup = SaturatingCast<int32_t>(int64_t{FramesDup} + count);
            if (Verbose > 2)
                Log(1, FormatText("*** %lld dup!", static_cast<long long>(count - 1)));
        }
    } else {
        output.SyncOpts = std::llrint(ipts / timeBase);
    }
    return std::min<int64_t>(count, int64_t{MaxFrames[mkVideo]} - output.FrameNumber);
}

void TCustomFFmpeg::RefusePicture(const char *text)
{
    if (ExitOnError)
        throw FFMpegException(text);
    Log(0, text);
}

AVFrame *TCustomFFmpeg::CropForEncoder(TOutputStreamRec &output, AVFrame *picture, AVFramePtr &cropped)
{
    if (!output.VideoCrop || UseVideoFilters)
        return picture;
    cropped = Reference(picture);
    if (!picture_ops::CropView(cropped.get(), output.TopBand, output.LeftBand, output.CropWidth, output.CropHeight)) {
        RefusePicture("error cropping picture");
        return nullptr;
    }
    return cropped.get();
}

void TCustomFFmpeg::NoteVideoShapeChange(TOutputStreamRec &output, const AVFrame *formatted)
{
    const AVCodecContext *encoder = output.Encoder;
    const int innerWidth = encoder->width - output.PadLeft - output.PadRight;
    const int innerHeight = encoder->height - output.PadTop - output.PadBottom;
    // A picture whose size or format changed in mid-stream is scaled like one that always differed.
    if (!UseVideoFilters && !output.VideoResample &&
        (formatted->width != innerWidth || formatted->height != innerHeight || formatted->format != encoder->pix_fmt)) {
        output.VideoResample = 1;
        if (!output.PictTmp) {
            output.PictTmp.reset(avutil.av_frame_alloc());
            if (!output.PictTmp)
                throw FFMpegException("Cannot allocate temp picture, check pix fmt");
            output.PictTmp->format = encoder->pix_fmt;
            output.PictTmp->width = encoder->width;
            output.PictTmp->height = encoder->height;
            if (avutil.av_frame_get_buffer(output.PictTmp.get(), 0) < 0)
                throw FFMpegException("Cannot allocate temp picture, check pix fmt");
        }
    }
}

AVFrame *TCustomFFmpeg::ScaleAndPadForEncoder(TOutputStreamRec &output, AVFrame *formatted, AVFramePtr &padView)
{
    const AVCodecContext *encoder = output.Encoder;
    const int innerWidth = encoder->width - output.PadLeft - output.PadRight;
    const int innerHeight = encoder->height - output.PadTop - output.PadBottom;
    AVFrame *final = formatted;
    const AVFrame *padSource = formatted;
    const bool resample = output.VideoResample && !UseVideoFilters;
    if (output.VideoPad || resample) {
        // The encoder may still hold the last picture written here.
        if (avutil.av_frame_make_writable(output.PictTmp.get()) < 0)
            throw FFMpegException("av_mallocz fail");
        final = output.PictTmp.get();
    }
    AVFrame *resampleTarget = output.PictTmp.get();
    if (output.VideoPad && resample) {
        padView = Reference(output.PictTmp.get());
        if (!picture_ops::CropView(padView.get(), output.PadTop, output.PadLeft, innerWidth, innerHeight)) {
            RefusePicture("error padding picture");
            return nullptr;
        }
        resampleTarget = padView.get();
    }
    if (resample) {
        padSource = nullptr;
        output.ImgResampleCtx.reset(
            swscale.sws_getCachedContext(output.ImgResampleCtx.release(), formatted->width, formatted->height,
                                         static_cast<AVPixelFormat>(formatted->format), innerWidth, innerHeight,
                                         encoder->pix_fmt, SwsFlags, nullptr, nullptr, nullptr));
        if (!output.ImgResampleCtx)
            throw FFMpegException("Cannot get resampling context");
        swscale.sws_scale(output.ImgResampleCtx.get(), formatted->data, formatted->linesize, 0, formatted->height,
                          resampleTarget->data, resampleTarget->linesize);
    }
    if (output.VideoPad && !picture_ops::PadPicture(final, padSource, output.PadTop, output.PadBottom, output.PadLeft,
                                                    output.PadRight, PadColor)) {
        RefusePicture("error padding picture");
        return nullptr;
    }
    // What a filter chain hands on must fit the encoder as well.
    if (final->width != encoder->width || final->height != encoder->height || final->format != encoder->pix_fmt) {
        RefusePicture("picture does not fit the encoder (size or format changed)");
        return nullptr;
    }
    return final;
}

int TCustomFFmpeg::EncodeVideoCopies(TOutputStreamRec &output, const TInputStreamRec &input, const AVFrame *picture,
                                     const AVFrame *final, int64_t count)
{
    AVCodecContext *encoder = output.Encoder;
    int frameSize = 0;
    if (!EncodeFrame)
        EncodeFrame.reset(avutil.av_frame_alloc());
    if (!EncodeFrame)
        throw FFMpegException("av_mallocz fail");
    AVFrame *frame = EncodeFrame.get();
    for (int64_t i = 0; i < count && !StopRequested; ++i) {
        if (avutil.av_frame_ref(frame, final) < 0)
            throw FFMpegException("av_mallocz fail");
        ScopeExit release([frame] { avutil.av_frame_unref(frame); });
        frame->interlaced_frame = picture->interlaced_frame;
        if (encoder->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME))
            frame->top_field_first = TopFieldFirst == -1 ? picture->top_field_first : TopFieldFirst;
        frame->quality = static_cast<int>(std::lrint(SameQuality ? input.Quality : output.Quality));
        if (MeThreshold == 0)
            frame->pict_type = AV_PICTURE_TYPE_NONE;
        frame->pts = output.SyncOpts;
        // Stamped without conversion, two pictures may fall on one output tick; the encoder
        // takes only the first.
        if (frame->pts <= output.LastVideoPts) {
            FramesDrop = SaturatingCast<int32_t>(int64_t{FramesDrop} + 1);
            ++output.SyncOpts;
            continue;
        }
        output.LastVideoPts = frame->pts;
        if (avcodec.avcodec_send_frame(encoder, frame) < 0)
            throw FFMpegException("Video encoding failed");
        if (const int written = DrainEncoder(output); written > 0)
            frameSize = written;
        ++output.SyncOpts;
        ++output.FrameNumber;
    }
    return frameSize;
}
