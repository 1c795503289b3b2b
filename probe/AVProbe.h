// The media probe: opens one file (or looks at an input opened elsewhere) and describes it.
#pragma once

#include "libs/AVDeleters.h"
#include "libs/Bitmap24.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

// Container values. Start and duration keep AV_NOPTS_VALUE when unknown.
struct TAVFormatInfo {
    int64_t StartTime = 0;                                // microseconds
    int64_t Duration = 0;                                 // microseconds
    int32_t BitRate = 0;                                  // bit/s
    int64_t Timestamp = 0;                                // seconds since 1970-01-01 UTC
    std::string Title, Author, Copyright, Comment, Album; // up to 511 characters each
    int32_t Year = 0;
    int32_t Track = 0;
    std::string Genre; // up to 31 characters
};

// One video stream's values.
struct TAVStreamInfo {
    std::string Language;                     // up to 3 characters
    std::string CodecName;                    // up to 31 characters
    int64_t StartTime = -1, StartTimeUS = -1; // stream time base, microseconds
    int64_t Duration = -1, DurationUS = -1;
    int32_t BitRate = -1, Height = -1, Width = -1;
    float AspectRatio = -1; // sample aspect ratio x width / height
    int32_t PixelFormat = -1;
    int32_t FrameRateNum = -1, FrameRateDen = -1;
};

// Raised by the picture operations: a read-only probe, a decoder that cannot be found or opened.
class EAVProbeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
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

    // Positions an owned file so that the next DecodeFrame gives the picture at or just before
    // pts (microseconds). streamIndex -1: the first video, else audio, else subtitle stream.
    // False when nothing is open or the index is invalid; a failed seek is logged only.
    // Raises EAVProbeError on an attached (read-only) probe.
    bool Seek(int streamIndex, int64_t pts);
    // Decodes the next picture of a video stream (-1: the first) into the frame bitmap, as
    // 24-bit BGR rows top-first. Empty when there is no such picture to have, black at the end
    // of the file. The probe owns the bitmap. Raises EAVProbeError on an attached probe and
    // when the stream's decoder cannot be found or opened.
    TBitmap24 &DecodeFrame(int streamIndex = -1);
    // A copy of the last picture DecodeFrame gave.
    TBitmap24 &LastFrame();
    // Bytes of the cached BGR conversion buffer; 0 while no picture needed converting.
    size_t PictureBufferSize() const { return PictureBufferSize_; }

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

    bool IsImage2() const;
    [[noreturn]] void RaiseReadOnly(const char *text);
    // Seeks to SeekPosition of SeekStream; the library's result.
    int SeekTo();
    bool RetreatSeek();
    void OpenDecoder(int index);
    void CloseDecoder();
    // The next decoded picture of the open decoder's stream, or nullptr at the end.
    AVFrame *NextPicture();
    bool BeforeSeekTarget(int64_t pts, int64_t duration) const;
    bool BeforeSeekTarget(const AVFrame *picture) const;
    bool PacketBeforeSeekTarget(const AVPacket *packet) const;
    bool CopyPicture(const AVFrame *picture);

    struct BufferDeleter {
        void operator()(uint8_t *buffer) const;
    };

    // Picture capture state.
    avlib::AVCodecContextPtr DecoderContext;
    int DecoderStream = -1;      // the stream DecoderContext decodes
    bool DecoderDrained = false; // the end of input was sent
    avlib::SwsContextPtr ScalerContext;
    std::unique_ptr<TBitmap24> FrameBitmap, LastFrameBitmap;
    bool LastWasImage2 = false;
    std::unique_ptr<uint8_t, BufferDeleter> PictureBuffer; // av_malloc'd BGR picture
    size_t PictureBufferSize_ = 0;
    avlib::AVPacketPtr Packet;
    avlib::AVFramePtr Picture;
    avlib::AVFramePtr Passed; // the last picture before the seek target, shown if none follows
    // The last seek, moved further back when it did not land on a key picture.
    int SeekStream = -1;
    int64_t SeekPosition = 0, SeekFloor = 0;
    int SeekRetreats = 0;
    bool FirstPacketPending = false;
    // Where the last seek aimed: pictures that end at or before it are passed over.
    bool SeekPending = false;
    bool KeyPending = false; // and those before the first key picture, when the seek landed elsewhere
    int64_t SeekTarget = 0;
    AVRational SeekTargetBase{1, 1};
};

// "%.2d:%.2d:%.2d.%.3d": hours, minutes, seconds and milliseconds of a duration in microseconds.
std::string FormatDuration(int64_t microseconds);
// "%.2f GB", "%.2f MB", "%.2f KB" above each unit, else "%d Byte".
std::string FormatFileSize(int64_t bytes);
