// Operations on decoded pictures that the video path needs and the libraries no longer offer:
// a crop view, padding with a YUV colour, and the 5-tap line deinterlacer.
#pragma once

#include "libs/AVEntryPoints.h"

#include <array>

namespace picture_ops {

// Makes frame a view of its own picture starting at (top, left), width x height. The plane
// pointers move; no pixel is copied. False for formats without whole bytes per pixel.
bool CropView(AVFrame *frame, int top, int left, int width, int height);

// Fills dst's border (the given widths) with the Y, U, V colour and, when src is given, copies
// src into the inner area. Planar 8-bit YUV only; false otherwise or when the sizes do not fit.
bool PadPicture(AVFrame *dst, const AVFrame *src, int top, int bottom, int left, int right,
                const std::array<int32_t, 3> &colour);

// Writes src deinterlaced into dst (same format and size): even lines copied, each odd line
// replaced by (-a + 4b + 2c + 4d - e + 4) >> 3 of the lines around it. Takes yuv420p, yuv422p,
// yuv444p, yuv411p and gray with sizes that are multiples of 4; false otherwise.
bool Deinterlace(AVFrame *dst, const AVFrame *src);

} // namespace picture_ops
