// The command line of "veloxc batch", read into what the command needs.
#pragma once

#include "batch/OutputFormats.h"

#include <optional>
#include <string>
#include <vector>

namespace veloxc {

enum class OnExists { Skip, Rename, Overwrite };

struct BatchArguments {
    std::vector<std::string> paths;         // files and folders, as given
    std::string format = "mp3";             // a name of batch::OutputFormats()
    std::optional<std::string> qualityTerm; // "quality", "bitrate" or "level", as given
    int qualityValue = 0;
    std::optional<int> rate;         // Hz
    std::optional<int> channels;     // 1 or 2
    std::optional<std::string> bits; // WAV samples: "16", "24", "32" or "float"; none: the source's
    std::string outputDir;           // empty: each output beside its input
    int jobs = 1;                    // conversions at once
    OnExists onExists = OnExists::Skip;
    bool noTags = false;
    bool noSegments = false; // no MP3 encoded in segments on idle jobs
    bool dryRun = false;
    bool quiet = false;
    bool help = false;
    bool version = false;

    const batch::OutputFormat &Format() const;
    // The quality given, else the format's default.
    batch::FormatQuality Quality() const;

    // The WAV codec of a --bits value; nullptr for a value that is none.
    static const char *WaveCodecOfBits(const std::string &bits);
};

// Reads the words after "batch"; defaultJobs is what --jobs defaults to (the number of cores).
// False with error (no "veloxc: " prefix) when they do not make a command.
bool ParseBatchArguments(const std::vector<std::string> &words, int defaultJobs, BatchArguments &arguments,
                         std::string &error);

extern const char *const kBatchUsage;

} // namespace veloxc
