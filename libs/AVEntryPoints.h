// Entry-point tables of the run-time binding: one pointer per library function,
// typed from the library's own prototype and filled by name when a unit is resolved.
// Call only while the unit is loaded (see AVLibLoader.h).
#pragma once

#include "libs/AVEntryPointNames.h"
#include "libs/FFmpegIncludes.h"
#include "libs/myutil/myutil.h"

namespace avlib {

#define VELOX_ENTRY_POINT_FIELD(name) decltype(&::name) name = nullptr;

struct AVCodecEntryPoints {
    VELOX_AVCODEC_ENTRY_POINTS(VELOX_ENTRY_POINT_FIELD)
};
struct AVFilterEntryPoints {
    VELOX_AVFILTER_ENTRY_POINTS(VELOX_ENTRY_POINT_FIELD)
};
struct AVFormatEntryPoints {
    VELOX_AVFORMAT_ENTRY_POINTS(VELOX_ENTRY_POINT_FIELD)
};
struct AVUtilEntryPoints {
    VELOX_AVUTIL_ENTRY_POINTS(VELOX_ENTRY_POINT_FIELD)
};
struct SwScaleEntryPoints {
    VELOX_SWSCALE_ENTRY_POINTS(VELOX_ENTRY_POINT_FIELD)
};
struct SwResampleEntryPoints {
    VELOX_SWRESAMPLE_ENTRY_POINTS(VELOX_ENTRY_POINT_FIELD)
};
struct MyUtilEntryPoints {
    VELOX_MYUTIL_ENTRY_POINTS(VELOX_ENTRY_POINT_FIELD)
};

#undef VELOX_ENTRY_POINT_FIELD

extern AVCodecEntryPoints avcodec;
extern AVFilterEntryPoints avfilter;
extern AVFormatEntryPoints avformat;
extern AVUtilEntryPoints avutil;
extern SwScaleEntryPoints swscale;
extern SwResampleEntryPoints swresample;
extern MyUtilEntryPoints myutil;

} // namespace avlib
