// The tables of one run: per input file, per input stream and per output stream. They live
// exactly as long as the run; what they own is released with them on every exit.
#pragma once

#include "engine/SegmentedMp3.h"
#include "libs/AVDeleters.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

struct TInputFileRec {
    int32_t EofReached = 0;
    int32_t FirstStreamIndex = 0;   // in the input stream table
    int32_t StreamCount = 0;        // at set-up; later streams are dropped
    int64_t StartPoint = INT64_MIN; // microseconds of the run's timeline: the start time it was opened at, if any
};

struct TInputStreamRec {
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    AVStream *Stream = nullptr;
    AVCodecContext *Decoder = nullptr; // the stream's decoder settings; open when DecodingNeeded
    int32_t Discard = 1;
    int32_t DecodingNeeded = 0;
    int64_t ReadStart = 0; // microseconds of wall clock, for rate emulation
    uint32_t Frame = 0;
    int64_t PaceOrigin = 0;           // microseconds: the timestamp paced from
    int64_t NextPts = AV_NOPTS_VALUE; // microseconds
    int64_t Pts = 0;                  // microseconds
    int32_t IsStart = 1;
    // What became of the stream's data, for telling why an output got none of it.
    int64_t PacketsRead = 0;
    int64_t FramesDecoded = 0;
    int64_t BeforeStartTime = 0;           // blocks dropped for coming before the start time
    float Quality = 0.0f;                  // of the last decoded picture, lambda units
    AVSubtitle *DecodedSubtitle = nullptr; // while it is handed to the outputs
    // Video filter chain.
    avlib::AVFilterGraphPtr FilterGraph;
    AVFilterContext *InputVideoFilter = nullptr;
    AVFilterContext *OutVideoFilter = nullptr;
    int32_t FilterSourceWidth = 0, FilterSourceHeight = 0, FilterSourceFormat = -1; // what the chain takes
    avlib::AVFramePtr FilterFrame;
    int32_t HasFilterFrame = 0;
    avlib::AVFramePtr PicRef;
    // Decoding.
    avlib::AVFramePtr DecodedFrame;
    // Decoded audio goes on interleaved, in the carried format: that of the stream's first frame.
    int32_t CarriedFormat = -1;     // AVSampleFormat, packed; -1 until the first frame
    avlib::SwrContextPtr ToCarried; // a frame in another format to the carried one
    int32_t ConvertedFormat = -1;   // the decoded shape ToCarried was made for
    int32_t ConvertedChannels = 0;
    int32_t ConvertedRate = 0;
    int32_t DecodedChannels = 0; // of the block being handed on
    int32_t DecodedRate = 0;
    uint64_t DecodedLayoutMask = 0; // 0: not a native layout
};

struct TOutputStreamRec {
    int32_t FileIndex = 0;
    int32_t Index = 0;
    int32_t SourceIndex = 0;
    AVStream *Stream = nullptr;
    AVCodecContext *Encoder = nullptr; // open when EncodingNeeded; the copy settings otherwise
    int32_t EncodingNeeded = 0;
    int32_t FrameNumber = 0;
    TInputStreamRec *SyncIst = nullptr;
    int64_t SyncOpts = 0;     // frames for video, samples for audio
    double MuxPosition = 0.0; // seconds: end of the last packet handed to the muxer
    int64_t PacketsWritten = 0;
    // Video.
    int32_t VideoResample = 0;
    avlib::AVFramePtr PictTmp;
    avlib::SwsContextPtr ImgResampleCtx;
    int32_t ResampleHeight = 0;
    int32_t VideoCrop = 0, TopBand = 0, LeftBand = 0;
    int32_t CropWidth = 0, CropHeight = 0; // of the picture left after cropping
    int64_t LastVideoPts = INT64_MIN;      // encoder time base: the last picture sent
    int32_t VideoPad = 0, PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;
    // Audio.
    int32_t AudioResample = 0;
    avlib::SwrContextPtr Resample;
    int32_t ResampleInChannels = 0, ResampleInRate = 0; // what Resample was made for
    uint64_t ResampleInMask = 0;
    int64_t NextFramePts = 0;                 // encoder time base: the next audio frame's timestamp
    int64_t SampleLimit = INT64_MAX;          // samples the recording time lets the stream have
    int64_t SamplesQueued = 0;                // samples handed on to be encoded so far
    int64_t EndDiscard = 0;                   // samples the packets so far discard at the end of the stream
    int64_t SteeredBitRate = 0;               // bits/s the run holds the average to; 0: the encoder alone
    int64_t BitsWritten = 0;                  // of the packets so far, while steered
    int64_t SamplesWritten = 0;               // of the packets so far, while steered
    int32_t CarriedFormat = -1;               // the source's carried format, once its first block came
    int32_t SourceBits = 0;                   // significant bits of the carried samples (32 for floats)
    bool TameFloats = false;                  // float samples are made finite and within full scale for the encoder
    bool DitherTo24 = false;                  // 32-bit words are dithered and rounded to their top 24 bits
    uint32_t DitherState = 1;                 // of the noise
    int32_t ReformatPair = -6;                // no pair
    avlib::SwrContextPtr ReformatCtx;         // carried samples to the encoder's sample format
    avlib::AVAudioFifoPtr Fifo;               // carried samples at the encoder's rate and channels
    avlib::AVFramePtr AudioFrame;             // the frame handed to the encoder, reused
    std::unique_ptr<TSegmentedMp3> Segmented; // encodes instead of Encoder, in segments at once
    // Two-pass statistics written in pass 1.
    FILE *LogFile = nullptr;
    // What the encoder said of its last packet.
    float Quality = 0.0f;       // fixed quality of the stream, lambda units
    float CodedQuality = -1.0f; // quantiser of the last coded picture, lambda units
    char CodedPictType = '?';
    uint64_t CodedErrors[4] = {};
    // The packet that clears the last DVB subtitle, held until the next one is shown.
    avlib::AVPacketPtr PendingClear;
    // Bitstream filters of the stream, in order.
    std::vector<avlib::AVBSFContextPtr> BitstreamFilters;

    TOutputStreamRec() = default;
    TOutputStreamRec(const TOutputStreamRec &) = delete;
    TOutputStreamRec &operator=(const TOutputStreamRec &) = delete;
    ~TOutputStreamRec()
    {
        if (LogFile)
            std::fclose(LogFile);
    }
};

struct TRunTables {
    bool SizeLimitReached = false; // the run ended at the output size limit
    std::vector<TInputFileRec> InputFiles;
    std::vector<std::unique_ptr<TInputStreamRec>> InputStreams;
    std::vector<std::unique_ptr<TOutputStreamRec>> OutputStreams;
};
