// The media probe: opens one file (or looks at an input opened elsewhere) and describes it.
#pragma once

#include "AVDeleters.h"

#include <cstdint>
#include <string>
#include <vector>

// Container values. Start and duration keep AV_NOPTS_VALUE when unknown.
struct TAVFormatInfo {
    int64_t StartTime = 0; // microseconds
    int64_t Duration = 0;  // microseconds
    int32_t BitRate = 0;   // bit/s
    int64_t Timestamp = 0; // seconds since 1970-01-01 UTC
    std::string Title, Author, Copyright, Comment, Album; // up to 511 characters each
    int32_t Year = 0;
    int32_t Track = 0;
    std::string Genre; // up to 31 characters
};

// One video stream's values.
struct TAVStreamInfo {
    std::string Language;  // up to 3 characters
    std::string CodecName; // up to 31 characters
    int64_t StartTime = -1, StartTimeUS = -1; // stream time base, microseconds
    int64_t Duration = -1, DurationUS = -1;
    int32_t BitRate = -1, Height = -1, Width = -1;
    float AspectRatio = -1; // sample aspect ratio x width / height
    int32_t PixelFormat = -1;
    int32_t FrameRateNum = -1, FrameRateDen = -1;
};

class TAVProbe {
public:
    TAVProbe();
    ~TAVProbe();
    TAVProbe(const TAVProbe &) = delete;
    TAVProbe &operator=(const TAVProbe &) = delete;

    // Opens the file (with the named demuxer when format is not empty) and reads its stream
    // information. False with LastErrMsg set when that fails; the probe is closed then.
    bool LoadFile(const std::string &fileName, const std::string &format = "");
    void Close();
    // Looks at an input opened elsewhere, read-only: Close forgets it without closing it.
    void AttachContext(AVFormatContext *context);

    void GetFormatInfo(TAVFormatInfo &info) const;
    // streamIndex -1: the first video stream.
    void GetStreamInfo(int streamIndex, TAVStreamInfo &info) const;
    std::string GetInfoText() const;
    std::string FileName() const;
    int64_t FileSize() const; // bytes, -1 when nothing is open
    std::string FormatName() const;

    AVFormatContext *FormatContext() const { return FormatContext_; }
    bool OwnsContext() const { return OwnsContext_; }

    std::string LastErrMsg;
    std::string ForcedFormat;
    int32_t StreamCount = -1;
    int32_t ProgramCount = -1;
    int32_t AudioCount = -1, VideoCount = -1, SubtitleCount = -1;
    int32_t FirstAudio = -1, FirstVideo = -1, FirstSubtitle = -1;

private:
    void UpdateStreamCounts();
    std::string StreamLine(int index) const;
    // Size on disk of the open file, or -1.
    int64_t SizeOnDisk() const;

    AVFormatContext *FormatContext_ = nullptr;
    bool OwnsContext_ = false;
    avlib::InputFormatContextPtr OwnedContext;

    // Picture capture state.
    avlib::AVCodecContextPtr DecoderContext;
    avlib::SwsContextPtr ScalerContext;
    bool LastWasImage2 = false;
    std::vector<uint8_t> PictureBuffer;
};

// "%.2d:%.2d:%.2d.%.3d": hours, minutes, seconds and milliseconds of a duration in microseconds.
std::string FormatDuration(int64_t microseconds);
// "%.2f GB", "%.2f MB", "%.2f KB" above each unit, else "%d Byte".
std::string FormatFileSize(int64_t bytes);
