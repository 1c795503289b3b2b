// The command line of "veloxc batch", read into what the command needs.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace veloxc {

enum class OnExists { Skip, Rename, Overwrite };

struct BatchArguments {
    std::vector<std::string> paths;  // files and folders, as given
    std::string format = "mp3";      // "mp3" or "wav"
    std::optional<int> quality;      // MP3 variable bit rate, 0 (best) to 9
    std::optional<int> bitrateKbps;  // MP3 constant bit rate
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

    // The MP3 quality used when neither a quality nor a bit rate is given.
    static constexpr int kDefaultQuality = 2;

    // The WAV codec of a --bits value; nullptr for a value that is none.
    static const char *WaveCodecOfBits(const std::string &bits);
};

// Reads the words after "batch"; defaultJobs is what --jobs defaults to (the number of cores).
// False with error (no "veloxc: " prefix) when they do not make a command.
bool ParseBatchArguments(const std::vector<std::string> &words, int defaultJobs, BatchArguments &arguments,
                         std::string &error);

extern const char *const kBatchUsage;

} // namespace veloxc
