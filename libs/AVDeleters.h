// Owners of library objects: each deleter calls the library's own release function
// through the entry-point tables. Once the libraries are unloaded nothing can be
// released any more, so the deleters then leave the object alone.
#pragma once

#include "libs/AVEntryPoints.h"
#include "libs/AVLibLoader.h"

#include <memory>
#include <string>

namespace avlib {

// The statistics input of a second pass is set by the engine and not freed by the library.
struct CodecContextDeleter {
    void operator()(AVCodecContext *context) const
    {
        if (!UnitLoaded(Unit::AVCodec))
            return;
        if (UnitLoaded(Unit::AVUtil))
            avutil.av_freep(&context->stats_in);
        avcodec.avcodec_free_context(&context);
    }
};

// A format context that was allocated but never opened as input or output.
struct FormatContextDeleter {
    void operator()(AVFormatContext *context) const
    {
        if (UnitLoaded(Unit::AVFormat))
            avformat.avformat_free_context(context);
    }
};

struct InputFormatContextDeleter {
    void operator()(AVFormatContext *context) const
    {
        if (UnitLoaded(Unit::AVFormat))
            avformat.avformat_close_input(&context);
    }
};

// Closes the output's file unless its muxer writes none of its own, then frees the context.
struct OutputFormatContextDeleter {
    void operator()(AVFormatContext *context) const
    {
        if (!UnitLoaded(Unit::AVFormat))
            return;
        if (context->oformat && !(context->oformat->flags & AVFMT_NOFILE))
            avformat.avio_closep(&context->pb);
        avformat.avformat_free_context(context);
    }
};

struct SwsContextDeleter {
    void operator()(SwsContext *context) const
    {
        if (UnitLoaded(Unit::SwScale))
            swscale.sws_freeContext(context);
    }
};

struct FrameDeleter {
    void operator()(AVFrame *frame) const
    {
        if (UnitLoaded(Unit::AVUtil))
            avutil.av_frame_free(&frame);
    }
};

struct PacketDeleter {
    void operator()(AVPacket *packet) const
    {
        if (UnitLoaded(Unit::AVCodec))
            avcodec.av_packet_free(&packet);
    }
};

struct SwrContextDeleter {
    void operator()(SwrContext *context) const
    {
        if (UnitLoaded(Unit::SwResample))
            swresample.swr_free(&context);
    }
};

struct FilterGraphDeleter {
    void operator()(AVFilterGraph *graph) const
    {
        if (UnitLoaded(Unit::AVFilter))
            avfilter.avfilter_graph_free(&graph);
    }
};

struct BitstreamFilterDeleter {
    void operator()(AVBSFContext *context) const
    {
        if (UnitLoaded(Unit::AVCodec))
            avcodec.av_bsf_free(&context);
    }
};

struct AudioFifoDeleter {
    void operator()(AVAudioFifo *fifo) const
    {
        if (UnitLoaded(Unit::AVUtil))
            avutil.av_audio_fifo_free(fifo);
    }
};

// Owns a dictionary of library options (the library takes the dictionary by address).
class AVDictionaryOwner {
public:
    AVDictionaryOwner() = default;
    ~AVDictionaryOwner()
    {
        if (UnitLoaded(Unit::AVUtil))
            avutil.av_dict_free(&dictionary_);
    }
    AVDictionaryOwner(const AVDictionaryOwner &) = delete;
    AVDictionaryOwner &operator=(const AVDictionaryOwner &) = delete;

    void Set(const char *key, const std::string &value) { avutil.av_dict_set(&dictionary_, key, value.c_str(), 0); }
    AVDictionary **Address() { return &dictionary_; }

private:
    AVDictionary *dictionary_ = nullptr;
};

using AVCodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using AVFormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using InputFormatContextPtr = std::unique_ptr<AVFormatContext, InputFormatContextDeleter>;
using OutputFormatContextPtr = std::unique_ptr<AVFormatContext, OutputFormatContextDeleter>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;
using AVFramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using AVPacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextDeleter>;
using AVFilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;
using AVBSFContextPtr = std::unique_ptr<AVBSFContext, BitstreamFilterDeleter>;
using AVAudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;

} // namespace avlib
