// Limits, records and callback types shared by the engine and its users.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class TCustomFFmpeg;
class TBitmap24;

inline constexpr int MAX_FILES = 20;
inline constexpr int MAX_STREAMS = 20;
inline constexpr int MAX_STREAM_MAPS = MAX_FILES * MAX_STREAMS;
inline constexpr int MAX_META_DATA_MAPS = MAX_FILES;

// Media types in the order of the per-type tables (MaxFrames, CodecDefaults).
enum TMediaKind { mkVideo, mkAudio, mkData, mkSubtitle, mkAttachment };

struct TStreamMap {
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0; // input stream feeding the output stream of the same position
    int32_t SyncFileIndex = 0;
    int32_t SyncStreamIndex = 0; // input stream it is synchronised against
};

struct TMetaDataMap {
    int32_t OutFile = 0;
    int32_t InFile = 0;
};

// Input-time range, in microseconds, in which the plug-in hooks act.
struct THookRange {
    int64_t Start = 0;
    int64_t End = 0;
};

// An option the engine left out, as it leaves out what it does not know or cannot use.
struct TRejectedOption {
    std::string Name;
    std::string Value;
    bool UnknownName = false; // no table and no library context knows the name; else the value was refused
};

enum THookAction { haContinue = 0, haIgnore = 1, haStop = 2 };

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal };

// Level -1: the error that ends or prevents a run; 0: errors inside a run; 1: notices and warnings.
using TLogCallback = std::function<void(TCustomFFmpeg *engine, int level, const std::string &message)>;
using TProgressCallback =
    std::function<void(TCustomFFmpeg *engine, int frameNumber, int fps, int currentDurationMs, float quality,
                       float bitRate, int64_t currentSizeBytes, int totalOutputDurationMs)>;
using TTerminateCallback = std::function<void(TCustomFFmpeg *engine)>;
using TBeforeHookCallback = std::function<void(TCustomFFmpeg *engine, THookAction &action, int64_t pts)>;
using TCustomHookCallback = std::function<void(TCustomFFmpeg *engine, TBitmap24 *bitmap, int frameNumber, int64_t pts,
                                               bool &update, bool &stopHook)>;
