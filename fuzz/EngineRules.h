// What the fuzz targets require of the engine whatever the outside data: a refusal is one of its
// own exception types with a text, a failed step leaves a text, and a run ends in bounded time.
#pragma once

#include "engine/FFMpegException.h"
#include "engine/FFmpeg.h"
#include "fuzz/FuzzSupport.h"

#include <chrono>
#include <exception>
#include <string>
#include <typeinfo>

namespace fuzz_support {

inline void RequireText(const char *where, const std::exception &e)
{
    if (e.what()[0] == '\0')
        Finding(std::string(where) + ": refused with an empty text (" + typeid(e).name() + ")");
}

// Runs step; true when it raised nothing, false when it raised one of the engine's refusals.
// Any other exception, or a refusal without a text, is a finding.
template <typename Step>
bool Accepted(const char *where, Step &&step)
{
    try {
        step();
        return true;
    } catch (const FFMpegException &e) {
        RequireText(where, e);
    } catch (const EConvertError &e) {
        RequireText(where, e);
    } catch (const EAssertionFailed &e) {
        RequireText(where, e);
    } catch (const std::exception &e) {
        Finding(std::string(where) + ": raised " + typeid(e).name() + " instead of a refusal: " + e.what());
    } catch (...) {
        Finding(std::string(where) + ": raised something that is no std::exception");
    }
    return false;
}

// A step that answers false must say why.
inline void RequireErrorText(const char *where, bool succeeded, const TCustomFFmpeg &engine)
{
    if (!succeeded && engine.LastErrorText.empty())
        Finding(std::string(where) + ": failed without LastErrorText");
}

// Asks the engine to stop once its run has taken longer than the budget; the main loop reports
// progress every 20 ms, which is where the check happens.
inline void BoundRunTime(TCustomFFmpeg &engine, std::chrono::milliseconds budget)
{
    const auto deadline = std::chrono::steady_clock::now() + budget;
    engine.ProgressInterval = 20000;
    engine.ProgressCallback = [deadline](TCustomFFmpeg *e, int, int, int, float, float, int64_t, int) {
        if (std::chrono::steady_clock::now() > deadline)
            e->RequestStop();
    };
}

// Runs the prepared job here. It must end with the terminate notification, and a failed run must
// say why.
inline void RunAndCheck(TCustomFFmpeg &engine)
{
    int terminations = 0;
    engine.TerminateCallback = [&terminations](TCustomFFmpeg *) { ++terminations; };
    engine.Start(false, tpNormal);
    engine.TerminateCallback = nullptr;
    if (terminations != 1)
        Finding("the run ended with " + std::to_string(terminations) + " terminate notifications");
    if (engine.ErrorOccurred && engine.ErrorMessage.empty())
        Finding("the run failed without an error message");
}

} // namespace fuzz_support
