// The builder: a task's two option records from the output settings and the probed input.
#pragma once

#include "app/OptionSettings.h"
#include "component/ConverterTypes.h"

#include <cstdint>
#include <functional>
#include <string>

class TAVProbe;

// Output names given to other outputs of the list, which a new one must not take.
using TNameReserved = std::function<bool(const std::string &)>;

// What the builder needs of the probed input.
struct TProbeFacts {
    std::string FileName;     // the input as the probe holds it; empty without one
    std::string ForcedFormat; // the input format named when it was loaded
    int64_t Duration = 0;     // microseconds; 0 when unknown
    int32_t VideoWidth = -1;  // of its video stream; -1 without one
    int32_t VideoHeight = -1;
};

// The input file as probe holds it; empty without one.
std::string ProbedFileName(const TAVProbe *probe);
// The facts of what probe holds, its video taken from videoStream; none for nullptr.
TProbeFacts ProbeFactsOf(const TAVProbe *probe, int videoStream);

// The output name of input: its base (in folder, ending in "/", or beside the input for
// kSameAsInput) with "_(new)" and suffix; when that name is taken, "_(new_N)" with the smallest
// free N. Taken: reserved for another output of the list, or (unless overwrite) any entry on disk.
std::string OutputFileName(const std::string &input, const std::string &folder, const std::string &suffix,
                           bool overwrite, const TNameReserved &reserved = {});

TOutputOptions OutputOptionsOf(const TOptionSettings &settings, const TProbeFacts &input,
                               const TNameReserved &reserved = {});
TInputOptions InputOptionsOf(const TOptionSettings &settings, const TProbeFacts &input);

// Start and length of the cut clip in milliseconds, held within the input.
int32_t ClipStartTime(const TOptionSettings &settings, const TProbeFacts &input);
int32_t ClipDuration(const TOptionSettings &settings, const TProbeFacts &input);

// The settings with the two hook captions as the lines carry them; the captions of hooks that
// give no line stay as typed.
TOptionSettings WithCarriedHookTexts(TOptionSettings settings);
