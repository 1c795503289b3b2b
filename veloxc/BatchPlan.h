// What a batch will do with each file it was given or found: which output, or why none.
#pragma once

#include "veloxc/BatchArguments.h"

#include <functional>
#include <string>
#include <vector>

namespace veloxc {

enum class PlanAction {
    Convert,
    Skip,     // the output exists (and is to be kept), or would be the input itself
    NotMedia, // no sound to convert, or not a file that can be read as media
    Missing,  // a path given that does not exist or cannot be read: a failure
};

struct PlannedFile {
    std::string input;
    std::string output; // empty for NotMedia and Missing
    PlanAction action = PlanAction::Convert;
    std::string reason; // why it is skipped or missing
};

// True when the file is media with sound; it is only asked of regular files, from several threads
// at once when the plan is made with more than one.
using MediaTest = std::function<bool(const std::string &path)>;

// What an existing output records of the input it was made from (SourceRecordOf); empty when it
// records nothing or cannot be read.
using SourceRecord = std::function<std::string(const std::string &output)>;

// What an output records of its input: the input's path from the output's folder, so that inputs
// of one name in several folders stay apart.
std::string SourceRecordOf(const std::string &input, const std::string &output);

// The files of the paths (a folder's files sorted, hidden ones and the output folder's tree left
// out; what is missing or not media first, then what has an output), each with its output: in the output folder (a
// folder's tree mirrored) or beside the input. No output is ever an input; two inputs never share an output; an input
// of the run is never replaced; an existing output that records another input as its source is that input's, so that
// each input keeps its name from run to run.
std::vector<PlannedFile> MakeBatchPlan(const BatchArguments &arguments, const MediaTest &isMedia, int threads = 1,
                                       const SourceRecord &recordedSource = {});

} // namespace veloxc
