// The sound formats a conversion writes, one row each: what the window's panel and its output
// options offer, what "veloxc batch -f" takes, what the option records ask of the engine and how
// the tags go in. Adding a format is adding a row.
#pragma once

#include <optional>
#include <span>
#include <string>

namespace batch {

// Where a format keeps its tags and cover; None: it has no place for them.
enum class TagStyle { None, Id3v2, RiffAndId3v2, VorbisComment, Mp4Atoms, ApeV2, AsfAttributes };

// What a quality value means to the encoder.
enum class QualityMeaning {
    BitRateKbps,      // a rate in kbit/s
    VariableScale,    // the encoder's own variable scale (MP3: 0 best to 9; Vorbis: -1 to 10 best)
    CompressionLevel, // how hard a lossless encoder works; the sound is the same at every level
};

// One way of choosing a format's quality, and the values it takes.
struct QualityLadder {
    QualityMeaning meaning;
    const char *term; // the command line's word for it: "bitrate", "quality", "level"
    int lowest, highest, defaultValue;
    std::span<const int> steps; // the only values taken, when the encoder takes no others

    // "96 to 320", "one of 32, 48, 56": how a value out of it is refused.
    std::string Range() const;
    bool Takes(int value) const;
};

// A quality in a format's own terms: which of its ladders, and the value on it.
struct FormatQuality {
    int ladder = 0;
    int value = 0;
    bool operator==(const FormatQuality &) const = default;
};

// A quality the window offers in a list.
struct QualityPreset {
    const char *caption;
    FormatQuality quality;
};

struct OutputFormat {
    const char *name;                       // "flac": what -f takes and what Config.ini keeps
    const char *caption;                    // the window's panel: "FLAC (*.FLAC)"
    const char *optionsItem;                // the output options window's item: "FLAC"
    int optionsIndex;                       // that item's place in the window's formats; stored indexes keep it
    const char *extension;                  // ".flac"
    const char *muxer;                      // the container's short name, as the libraries know it
    const char *encoder;                    // the encoder's name; nullptr: the container's own choice by depth
    std::span<const QualityLadder> ladders; // the first is the default; none: no choice
    std::span<const QualityPreset> presets; // what the window lists
    int defaultPreset;                      // the window's choice at first
    TagStyle tags;
    bool lossless;
    const char *displayName; // in sentences: "FLAC", "AC3"

    bool HoldsTags() const { return tags != TagStyle::None; }
    // The ladder a command-line term names; nullptr when the format has none of it.
    const QualityLadder *LadderOf(const std::string &term) const;
    FormatQuality DefaultQuality() const;
};

// Every format, in the order of the window's panel (a stored panel index keeps its meaning).
std::span<const OutputFormat> OutputFormats();
const OutputFormat *OutputFormatNamed(const std::string &name);
// The row an output of this name is written as: by its extension, any case; the first row of an
// extension two share (".m4a": AAC, whose tags ALAC keeps alike). nullptr when none.
const OutputFormat *OutputFormatOfFile(const std::string &fileName);
// The row of an item of the output options window; nullptr for a video format.
const OutputFormat *OutputFormatOfOptionsIndex(int index);
// "mp3, wav, flac, ..." for usage texts and refusals.
std::string OutputFormatNames();

// A refusal when the format does not take this much of that term; nothing when it does.
std::optional<std::string> CheckQuality(const OutputFormat &format, const std::string &term, int value);

} // namespace batch
