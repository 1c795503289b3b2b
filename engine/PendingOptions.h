// The options an engine holds until the next input, output stream or output file reads them,
// each with its default, written once: ResetOptions puts them all back by assigning a fresh set.
#pragma once

#include "libs/AVEntryPoints.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

struct TPendingOptions {
    const AVInputFormat *InputFormat = nullptr;
    const AVOutputFormat *OutputFormat = nullptr;
    int32_t FrameWidth = 0;
    int32_t FrameHeight = 0;
    float FrameAspectRatio = 0.0f;    // 0 = unset
    int32_t FramePixFmt = -1;         // AVPixelFormat, -1 = none
    int32_t AudioSampleFmt = -1;      // AVSampleFormat, -1 = none
    int32_t AudioSampleBits = 0;      // of the input's samples, 0: all of AudioSampleFmt's
    bool AudioSourceLossy = false;    // the input's samples are a lossy decoder's: no depth to keep
    bool AudioSampleFmtGiven = false; // "sample_fmt" asked for rather than taken from the source
    int32_t PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;
    std::array<int32_t, 3> PadColor{16, 128, 128}; // Y, U, V
    int32_t CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
    std::array<int32_t, 4> MaxFrames{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX}; // video, audio, data, subtitle
    AVRational FrameRate{0, 0};                                                   // 0/0 = unset
    float VideoQScale = 0.0f;
    std::optional<std::array<uint16_t, 64>> IntraMatrix;
    std::optional<std::array<uint16_t, 64>> InterMatrix;
    std::optional<std::string> VideoRcOverride;
    int32_t VideoDisable = 0;
    int32_t VideoDiscard = 0;
    std::optional<std::string> VideoCodecName;
    uint32_t VideoCodecTag = 0;
    int32_t SameQuality = 0;
    int32_t Deinterlace = 0;
    int32_t TopFieldFirst = -1; // -1 = auto
    int32_t MeThreshold = 0;
    int32_t IntraDcPrecision = 8;
    int32_t LoopInput = 0;
    int32_t LoopOutput = -1; // -1 = no loop
    int32_t QpHist = 0;
    std::string VideoFilters;
    uint8_t UseVideoFilters = 0;
    int32_t IntraOnly = 0;
    int32_t AudioSampleRate = 44100;
    float AudioQScale = -99999.0f; // none
    int32_t AudioDisable = 0;
    int32_t AudioChannels = 2;
    // Asked for ("ar", "ac", a target) rather than taken from the last input: an encoder that
    // cannot take an inherited value gets its nearest one, an asked-for value must be taken as it is.
    bool AudioSampleRateGiven = false;
    bool AudioChannelsGiven = false;
    std::optional<std::string> AudioCodecName;
    uint32_t AudioCodecTag = 0;
    std::string AudioLanguage;
    int32_t SubtitleDisable = 0;
    std::optional<std::string> SubtitleCodecName;
    std::string SubtitleLanguage;
    float MuxPreload = 0.5f;           // seconds
    float MuxMaxDelay = 0.7f;          // seconds
    int64_t RecordingTime = INT64_MAX; // microseconds, no limit
    int64_t StartTime = 0;             // microseconds
    int64_t RecTimestamp = 0;          // seconds since 1970
    int64_t InputTsOffset = 0;         // microseconds
    std::string Title, Author, Copyright, Comment, Genre, Album;
    int32_t Year = 0;
    int32_t Track = 0;
    int32_t HexDump = 0;
    int32_t PktDump = 0;
    int32_t DoPsnr = 0;
    int32_t DoPass = 0; // 0, 1 or 2
    std::string PassLogFilePrefix;
    int32_t AudioStreamCopy = 0, VideoStreamCopy = 0, SubtitleStreamCopy = 0;
    int32_t VideoSyncMethod = -1; // -1 = auto
    int32_t AudioSyncMethod = 0;
    float AudioDriftThreshold = 0.1f; // seconds
    uint8_t CopyTs = 0;
    int32_t Shortest = 0;
    int32_t VideoGlobalHeader = 0;
    std::optional<std::string> VstatsFileName;
    int32_t ProgramId = 0; // 0 = all programs
    int32_t RateEmu = 0;
    int32_t VideoChannel = 0;
    std::optional<std::string> VideoStandard;
    int32_t AudioVolume = 256; // 256 = unchanged
    uint8_t ExitOnError = 0;
    uint8_t UsingVhook = 0;
    int32_t Verbose = 1; // -1 quiet, 0 errors, 1 information, 2 debug, 3 all
    int32_t ThreadCount = 1;
};
