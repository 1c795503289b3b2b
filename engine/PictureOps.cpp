#include "engine/PictureOps.h"

#include <algorithm>
#include <cstring>

using namespace avlib;

namespace picture_ops {

namespace {

bool WholeBytesPerPixel(const AVPixFmtDescriptor *desc)
{
    return desc && !(desc->flags & (AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL));
}

int PlaneCount(const AVPixFmtDescriptor *desc)
{
    int planes = 0;
    for (int c = 0; c < desc->nb_components; ++c)
        planes = std::max(planes, desc->comp[c].plane + 1);
    return planes;
}

bool IsPlanar8BitYuv(const AVPixFmtDescriptor *desc)
{
    if (!WholeBytesPerPixel(desc) || (desc->flags & AV_PIX_FMT_FLAG_RGB) || !(desc->flags & AV_PIX_FMT_FLAG_PLANAR))
        return false;
    for (int c = 0; c < desc->nb_components; ++c)
        if (desc->comp[c].depth != 8 || desc->comp[c].step != 1)
            return false;
    return desc->nb_components >= 3;
}

uint8_t Clip(int value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

void DeinterlacePlane(uint8_t *dst, int dstStride, const uint8_t *src, int srcStride, int width, int height)
{
    // a and b are the two lines above the odd line c, d and e the two below; at the edges the
    // nearest line of the picture stands in.
    const auto line = [&](int y) { return src + static_cast<ptrdiff_t>(std::clamp(y, 0, height - 1)) * srcStride; };
    for (int y = 0; y < height; y += 2) {
        std::memcpy(dst + static_cast<ptrdiff_t>(y) * dstStride, line(y), static_cast<size_t>(width));
        if (y + 1 >= height)
            break;
        const uint8_t *a = line(y - 1), *b = line(y), *c = line(y + 1);
        // The last odd line has nothing below it but itself.
        const bool last = y + 1 == height - 1;
        const uint8_t *d = last ? c : line(y + 2), *e = last ? c : line(y + 3);
        uint8_t *out = dst + static_cast<ptrdiff_t>(y + 1) * dstStride;
        for (int x = 0; x < width; ++x)
            out[x] = Clip((-a[x] + 4 * b[x] + 2 * c[x] + 4 * d[x] - e[x] + 4) >> 3);
    }
}

} // namespace

bool CropView(AVFrame *frame, int top, int left, int width, int height)
{
    const AVPixFmtDescriptor *desc = avutil.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    if (!WholeBytesPerPixel(desc) || top < 0 || left < 0 || width <= 0 || height <= 0 || top + height > frame->height ||
        left + width > frame->width)
        return false;
    int steps[4] = {};
    avutil.av_image_fill_max_pixsteps(steps, nullptr, desc);
    const int planes = PlaneCount(desc);
    for (int i = 0; i < planes; ++i) {
        const bool chroma = (i == 1 || i == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        const int vs = chroma ? desc->log2_chroma_h : 0;
        const int hs = chroma ? desc->log2_chroma_w : 0;
        frame->data[i] += static_cast<ptrdiff_t>(top >> vs) * frame->linesize[i] + (left >> hs) * steps[i];
    }
    frame->width = width;
    frame->height = height;
    return true;
}

bool PadPicture(AVFrame *dst, const AVFrame *src, int top, int bottom, int left, int right,
                const std::array<int32_t, 3> &colour)
{
    const AVPixFmtDescriptor *desc = avutil.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(dst->format));
    if (!IsPlanar8BitYuv(desc) || top < 0 || bottom < 0 || left < 0 || right < 0)
        return false;
    const int innerWidth = dst->width - left - right, innerHeight = dst->height - top - bottom;
    if (innerWidth <= 0 || innerHeight <= 0)
        return false;
    if (src && (src->format != dst->format || src->width < innerWidth || src->height < innerHeight))
        return false;
    const int planes = PlaneCount(desc);
    for (int i = 0; i < planes; ++i) {
        const bool chroma = i == 1 || i == 2;
        const int hs = chroma ? desc->log2_chroma_w : 0, vs = chroma ? desc->log2_chroma_h : 0;
        const int width = -((-dst->width) >> hs), height = -((-dst->height) >> vs);
        const int x0 = left >> hs, y0 = top >> vs;
        const int x1 = std::min(width, x0 + (-((-innerWidth) >> hs))),
                  y1 = std::min(height, y0 + (-((-innerHeight) >> vs)));
        const uint8_t fill = i < 3 ? Clip(colour[i]) : 255; // an alpha plane stays opaque
        for (int y = 0; y < height; ++y) {
            uint8_t *row = dst->data[i] + static_cast<ptrdiff_t>(y) * dst->linesize[i];
            if (y < y0 || y >= y1) {
                std::memset(row, fill, static_cast<size_t>(width));
                continue;
            }
            std::memset(row, fill, static_cast<size_t>(x0));
            if (src)
                std::memcpy(row + x0, src->data[i] + static_cast<ptrdiff_t>(y - y0) * src->linesize[i],
                            static_cast<size_t>(x1 - x0));
            std::memset(row + x1, fill, static_cast<size_t>(width - x1));
        }
    }
    return true;
}

bool Deinterlace(AVFrame *dst, const AVFrame *src)
{
    const AVPixelFormat format = static_cast<AVPixelFormat>(src->format);
    int chromaShiftX = 0, chromaShiftY = 0, planes = 3;
    switch (format) {
    case AV_PIX_FMT_YUV420P:
        chromaShiftX = 1;
        chromaShiftY = 1;
        break;
    case AV_PIX_FMT_YUV422P:
        chromaShiftX = 1;
        break;
    case AV_PIX_FMT_YUV444P:
        break;
    case AV_PIX_FMT_YUV411P:
        chromaShiftX = 2;
        break;
    case AV_PIX_FMT_GRAY8:
        planes = 1;
        break;
    default:
        return false;
    }
    if ((src->width & 3) || (src->height & 3) || dst->format != src->format || dst->width != src->width ||
        dst->height != src->height)
        return false;
    for (int i = 0; i < planes; ++i) {
        const int width = i ? src->width >> chromaShiftX : src->width;
        const int height = i ? src->height >> chromaShiftY : src->height;
        DeinterlacePlane(dst->data[i], dst->linesize[i], src->data[i], src->linesize[i], width, height);
    }
    return true;
}

} // namespace picture_ops
