// How the component's option records become engine settings, in the order the engine needs them.
#pragma once

#include "component/ConverterTypes.h"
#include "engine/FFmpeg.h"

#include <string>
#include <vector>

namespace option_translation {

// Every field to its default.
void InitInputOptions(TInputOptions &options);
void InitOutputOptions(TOutputOptions &options);

// ExtOptions first, then the format, start time and program of the input. Raises what the engine
// raises for a refused option.
void ApplyInputOptions(TCustomFFmpeg &engine, const TInputOptions &options);

// The component's answers to the two hook questions, wired by the hook choice.
struct THookWiring {
    TBeforeHookCallback BeforeHook;
    TCustomHookCallback CustomHook;
};

// ExtOptions first, then the typed fields in table order, the target, and the hook choice.
// Raises what the engine raises for a refused option.
void ApplyOutputOptions(TCustomFFmpeg &engine, const TOutputOptions &options, const THookWiring &hooks);

// "0-5000,10000-15000" as microsecond ranges in text order; pairs that are not a range are dropped.
std::vector<THookRange> ParseHookRanges(const std::string &text);

// A local date-time (days since 1899-12-30) as whole seconds since 1970-01-01 00:00 UTC, with the
// zone's standard bias in minutes (UTC = local + bias); daylight saving is not applied.
int64_t UnixSecondsFromDateTime(double dateTime, int standardBiasMinutes);
// The local zone's standard (non-daylight) bias in minutes.
int StandardTimeZoneBiasMinutes();
// The local date-time now, days since 1899-12-30.
double LocalDateTimeNow();

} // namespace option_translation
