#include "libs/LibraryLog.h"

#include "libs/FFmpegIncludes.h"

#include <atomic>

namespace avlib {

namespace {
std::atomic<int> logThreshold{AV_LOG_INFO};
}

int LogThreshold() { return logThreshold.load(std::memory_order_relaxed); }

void SetLogThreshold(int level) { logThreshold.store(level, std::memory_order_relaxed); }

int LibraryLogLevel(int verbose)
{
    if (verbose < 0)
        return AV_LOG_QUIET;
    switch (verbose) {
    case 0:
        return AV_LOG_ERROR;
    case 1:
        return AV_LOG_INFO; // warnings included
    case 2:
        return AV_LOG_DEBUG;
    default:
        return AV_LOG_TRACE;
    }
}

} // namespace avlib
