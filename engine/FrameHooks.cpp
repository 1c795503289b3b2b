// Each decoded picture before it reaches the outputs: deinterlacing, the custom hook on a
// 24-bit bitmap, and the plug-in hooks gated by the before-hook or the time ranges.
#include "engine/FFmpeg.h"

#include "engine/PictureOps.h"
#include "libs/AVEntryPoints.h"

#include <cstring>

using namespace avlib;

namespace {

std::string CaughtText()
{
    try {
        throw;
    } catch (const std::exception &e) {
        return e.what();
    } catch (...) {
        return "unknown exception";
    }
}

// Makes buffer a writable picture of frame's format and size, reusing its memory when it fits.
bool PrepareBuffer(avlib::AVFramePtr &buffer, int format, int width, int height)
{
    if (!buffer)
        buffer.reset(avutil.av_frame_alloc());
    if (!buffer)
        return false;
    AVFrame *frame = buffer.get();
    if (frame->buf[0] && frame->format == format && frame->width == width && frame->height == height)
        return avutil.av_frame_make_writable(frame) >= 0;
    avutil.av_frame_unref(frame);
    frame->format = format;
    frame->width = width;
    frame->height = height;
    return avutil.av_frame_get_buffer(frame, 0) >= 0;
}

} // namespace

std::unique_ptr<TBitmap24> TCustomFFmpeg::CreateHookBitmap(int width, int height, int)
{
    // The bitmap class has one pixel format: 24 bits, blue-green-red.
    return std::make_unique<TBitmap24>(width, height);
}

void TCustomFFmpeg::GateHooks(int64_t pts)
{
    if (BeforeHookCallback) {
        try {
            BeforeHookCallback(this, HookAction, pts);
        } catch (...) {
            Log(0, "Error occurs OnBeforeHook: " + CaughtText());
            HookAction = haStop;
        }
        if (HookAction == haStop)
            UsingVhook = 0;
        return;
    }
    if (HookRangeCount <= 0)
        return;
    HookAction = haIgnore;
    for (int32_t i = HookRangeIndex; i < HookRangeCount; ++i) {
        const THookRange &range = HookRanges[static_cast<size_t>(i)];
        if (range.Start <= pts && pts <= range.End) {
            HookRangeIndex = i;
            HookAction = haContinue;
            break;
        }
        if (i == HookRangeCount - 1 && range.End < pts) {
            HookAction = haStop;
            UsingVhook = 0;
        }
    }
}

AVFrame *TCustomFFmpeg::PreProcessVideoFrame(TInputStreamRec &input, AVFrame *picture)
{
    ++HookFrameCount;
    const int64_t pts = input.Pts;
    if (!CustomHookCallback && UsingVhook)
        GateHooks(pts);
    const bool plugins = UsingVhook && HookAction == haContinue;
    if (!Deinterlace && !CustomHookCallback && !plugins)
        return picture;

    // Hooks and the deinterlacer work on a copy: the decoder may still refer to its picture.
    if (!PrepareBuffer(HookBuffer, picture->format, picture->width, picture->height)) {
        Log(0, "hook buf malloc error.");
        return picture;
    }
    AVFrame *working = HookBuffer.get();
    avutil.av_frame_copy_props(working, picture);
    bool copied = false;
    if (Deinterlace) {
        copied = picture_ops::Deinterlace(working, picture);
        if (!copied)
            Log(0, "Deinterlacing failed.");
    }
    if (!copied && avutil.av_frame_copy(working, picture) < 0) {
        Log(0, "hook buf malloc error.");
        return picture;
    }

    if (CustomHookCallback) {
        if (!RunCustomHook(working, pts)) {
            CustomHookCallback = nullptr;
            HookAction = haStop;
            UsingVhook = 0;
        }
    } else if (plugins) {
        THookPicture hooked{};
        for (int i = 0; i < 4; ++i) {
            hooked.data[i] = working->data[i];
            hooked.linesize[i] = working->linesize[i];
        }
        VhookList.RunHooks(&hooked, working->format, working->width, working->height, pts);
    }
    return working;
}

bool TCustomFFmpeg::RunCustomHook(AVFrame *picture, int64_t pts)
{
    const int width = picture->width, height = picture->height;
    if (!HookBitmap)
        HookBitmap = CreateHookBitmap(width, height, HookBitmapPixelFormat);
    else if (HookBitmap->Width() != width || HookBitmap->Height() != height)
        HookBitmap->SetSize(width, height); // the stream changed size

    AVFrame *rgb = picture;
    const bool convert = picture->format != HookRgbPixFmt;
    if (convert) {
        if (!PrepareBuffer(RgbBuffer, HookRgbPixFmt, width, height)) {
            Log(0, "hook buf malloc error.");
            return true; // this picture goes unhooked; the next may fare better
        }
        ToRgbContext.reset(swscale.sws_getCachedContext(ToRgbContext.release(), width, height,
                                                        static_cast<AVPixelFormat>(picture->format), width, height,
                                                        HookRgbPixFmt, SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!ToRgbContext) {
            Log(0, "Cannot initialize the toRGB conversion context");
            return false;
        }
        rgb = RgbBuffer.get();
        swscale.sws_scale(ToRgbContext.get(), picture->data, picture->linesize, 0, height, rgb->data, rgb->linesize);
    }
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    for (int y = 0; y < height; ++y)
        std::memcpy(HookBitmap->ScanLine(y), rgb->data[0] + static_cast<ptrdiff_t>(y) * rgb->linesize[0], rowBytes);

    bool update = true, stop = false;
    {
        std::lock_guard<std::recursive_mutex> canvas(HookBitmap->Canvas());
        try {
            CustomHookCallback(this, HookBitmap.get(), HookFrameCount, pts, update, stop);
        } catch (...) {
            Log(0, "Error occurs OnCustomHook: " + CaughtText());
            update = false;
        }
    }
    if (update) {
        for (int y = 0; y < height; ++y)
            std::memcpy(rgb->data[0] + static_cast<ptrdiff_t>(y) * rgb->linesize[0], HookBitmap->ScanLine(y), rowBytes);
        if (convert) {
            FromRgbContext.reset(swscale.sws_getCachedContext(
                FromRgbContext.release(), width, height, HookRgbPixFmt, width, height,
                static_cast<AVPixelFormat>(picture->format), SWS_BICUBIC, nullptr, nullptr, nullptr));
            if (!FromRgbContext) {
                Log(0, "Cannot initialize the fromRGB conversion context");
                return false;
            }
            swscale.sws_scale(FromRgbContext.get(), rgb->data, rgb->linesize, 0, height, picture->data,
                              picture->linesize);
        }
    }
    return !stop;
}
