// Types a caller of the converter component uses: log levels, priorities, the two option records
// and the event signatures.
#pragma once

#include "engine/FFmpegTypes.h"

#include <cstdint>
#include <functional>
#include <string>

// Verbosity of the component and the media libraries; the engine's level is the ordinal minus 1.
enum TLogLevel { llQuiet, llError, llInfo, llDebug, llAll };

// The worker priorities a caller may choose (tpIdle .. tpNormal); higher ones do not exist.
using TConvertPriority = TThreadPriority;

// A colour as the records store it: red in the low byte, then green, then blue; the high byte
// is 0 for a plain colour. Values with the high byte set are read as their low three bytes.
using TColor = uint32_t;

// Options of a task's input. A plain value: the caller owns its record, the component copies it.
struct TInputOptions {
    std::string FileName;   // the input file; filled in by AddInput when empty
    std::string FileFormat; // container format to force; empty = detect
    int32_t StartTime = -1; // milliseconds; used only when > 0
    int32_t ProgramID = -1; // used only when >= 0
    std::string ExtOptions; // extra engine options, one name=value pair per line
};
using PInputOptions = TInputOptions *;

// Options of a task's output; -1 (or empty, or False) leaves the engine's own choice.
struct TOutputOptions {
    std::string FileName; // the output file; filled in by AddOutput when empty
    std::string FileExt;  // the caller's own; the component copies it and never reads it
    std::string FileFormat;
    int32_t PacketSize = -1;
    int32_t MuxRate = -1;
    float MuxDelay = -1.0f;   // seconds
    float MuxPreload = -1.0f; // seconds
    std::string AudioCodec;
    bool DisableAudio = false;
    int32_t AudioVolume = -1; // 256 = unchanged
    int32_t AudioChannels = -1;
    int32_t AudioSampleRate = -1; // Hz
    int32_t AudioBitrate = -1;    // bit/s
    int32_t AudioBitrateTolerance = -1;
    std::string AudioLanguage;
    int32_t AudioSyncMethod = 0;
    std::string AudioTag; // four characters
    std::string VideoCodec;
    bool DisableVideo = false;
    std::string FrameRate;
    std::string FrameSize;
    std::string FrameAspectRatio;
    int32_t CropTop = -1, CropBottom = -1, CropLeft = -1, CropRight = -1;
    int32_t PadTop = -1, PadBottom = -1, PadLeft = -1, PadRight = -1;
    TColor PadColor = 0; // black
    int32_t GOPSize = -1;
    int32_t VideoBitrate = -1; // bit/s
    int32_t VideoMaxRate = -1;
    int32_t VideoMinRate = -1;
    int32_t VideoBitrateTolerance = -1;
    int32_t VideoBufSize = -1;
    int32_t VideoSyncMethod = -1;
    std::string VideoTag; // four characters
    std::string VideoFilters;
    bool DisableSubtitle = false;
    std::string SubtitleLanguage;
    bool CopyTimestamp = false;
    int32_t RecordingTime = -1; // milliseconds
    double Timestamp = -1.0;    // local date-time, days since 1899-12-30; 0 = now; < 0 = not set
    int32_t Year = -1;
    int32_t Track = -1;
    // Meta-data texts end at their first NUL, and after 512 characters (Genre: 32).
    std::string Title, Author, Copyright, Comment, Album, Genre;
    int32_t Target = 0;        // 0 none, 1 video CD, 2 super video CD, 3 DVD
    int32_t TargetNorm = 0;    // 0 automatic, 1 PAL, 2 NTSC; others automatic
    int32_t DefaultNorm = 1;   // when automatic cannot decide: 1 PAL, others NTSC
    bool CustomHook = false;   // every video frame to OnCustomHook as a bitmap
    bool BeforeHook = false;   // OnBeforeHook decides per frame whether the plug-in hooks act
    std::string VideoHookPTSs; // "start-end,..." in milliseconds, when both hook flags are false
    std::string ExtOptions;
};
using POutputOptions = TOutputOptions *;

// Events: AIndex is the task's index in the list, -1 for the end of the whole list and for log
// lines of no task. They are raised on the thread that produced them.
using TBeforeHookEvent = std::function<void(int AIndex, int64_t APTS, THookAction &AHookAction)>;
using TCustomHookEvent =
    std::function<void(int AIndex, TBitmap24 *ABitmap, int AFrameNumber, int64_t APTS, bool &AUpdate, bool &AStopHook)>;
using TLogEvent = std::function<void(int AIndex, TLogLevel ALogLevel, const std::string &AMsg)>;
using TProgressEvent = std::function<void(int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration, float AQuality,
                                          float ABitRate, int64_t ACurrentSize, int ATotalOutputDuration)>;
using TTerminateEvent = std::function<void(int AIndex, bool AFinished, bool AException, const std::string &AMessage)>;
