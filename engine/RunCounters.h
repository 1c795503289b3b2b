// The counters and settings of a job's run, and the state of its frame hooks, each with its
// default, written once: ResetOptions puts them back by assigning fresh sets, as with TPendingOptions.
#pragma once

#include "engine/FFmpegTypes.h"
#include "libs/AVEntryPoints.h"

#include <cstdint>
#include <vector>

struct TRunCounters {
    int64_t VideoSize = 0, AudioSize = 0, ExtraSize = 0; // bytes
    int32_t FramesDup = 0, FramesDrop = 0;
    int32_t InputSync = 0;
    int64_t LimitFileSize = 0; // bytes, 0 = no limit
    int32_t UsingPgmYuv = 0;
    float DtsDeltaThreshold = 10.0f; // seconds
    int32_t SwsFlags = SWS_BICUBIC;
    int32_t BitBufferSize = 262144;
};

struct THookState {
    THookAction HookAction = haContinue;
    std::vector<THookRange> HookRanges; // sorted by End
    int32_t HookRangeIndex = 0;
    int32_t HookRangeCount = 0;
    int32_t HookFrameCount = 0; // pictures pre-processed in the run
};
