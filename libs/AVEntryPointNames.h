// Names of the library entry points the project calls, one list per binding unit.
// Each list is an X-macro: X(name) once per entry point, in resolution order.
// This header includes nothing, so a stand-in library can be built from the same lists.
#pragma once

#define VELOX_AVCODEC_ENTRY_POINTS(X) \
    X(avcodec_version)                \
    X(avcodec_alloc_context3)         \
    X(avcodec_free_context)          \
    X(av_bsf_get_by_name)

#define VELOX_AVFILTER_ENTRY_POINTS(X) \
    X(avfilter_version)

#define VELOX_AVFORMAT_ENTRY_POINTS(X) \
    X(avformat_version)                \
    X(avformat_alloc_context)          \
    X(avformat_free_context)           \
    X(avformat_close_input)            \
    X(avio_closep)                     \
    X(av_find_input_format)            \
    X(av_guess_format)

#define VELOX_AVUTIL_ENTRY_POINTS(X) \
    X(avutil_version)                \
    X(av_log_get_level)              \
    X(av_log_set_level)              \
    X(av_free)                       \
    X(av_freep)                      \
    X(av_strdup)                     \
    X(av_log)                        \
    X(av_log_set_callback)           \
    X(av_log_default_callback)       \
    X(av_opt_find)                   \
    X(av_opt_set)                    \
    X(av_opt_get)                    \
    X(av_opt_get_int)                \
    X(av_parse_time)                 \
    X(av_parse_video_size)           \
    X(av_parse_video_rate)           \
    X(av_get_pix_fmt)                \
    X(av_get_pix_fmt_string)         \
    X(av_pix_fmt_desc_get)           \
    X(av_get_sample_fmt)             \
    X(av_get_sample_fmt_string)      \
    X(av_get_sample_fmt_name)

#define VELOX_SWSCALE_ENTRY_POINTS(X) \
    X(swscale_version)                \
    X(sws_getContext)                 \
    X(sws_freeContext)

#define VELOX_SWRESAMPLE_ENTRY_POINTS(X) \
    X(swresample_version)

#define VELOX_MYUTIL_ENTRY_POINTS(X) \
    X(my_vsprintf)                   \
    X(my_fprintf)                    \
    X(my_snprintf)                   \
    X(my_fopen)                      \
    X(my_ftell)                      \
    X(my_fread)                      \
    X(my_fwrite)                     \
    X(my_fseek)                      \
    X(my_fclose)                     \
    X(my_strtok)                     \
    X(my_strtol)                     \
    X(my_strtod)
