#include "batch/OutputFormats.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace batch {

namespace {

using M = QualityMeaning;

constexpr int kMp2Rates[] = {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
constexpr int kAc3Rates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr int kWmaRates[] = {48, 64, 96, 128, 160, 192};

// MP3: the variable scale is what the command line takes at first, a constant 128 what the window does.
constexpr QualityLadder kMp3Ladders[] = {{M::VariableScale, "quality", 0, 9, 2, {}},
                                         {M::BitRateKbps, "bitrate", 8, 320, 128, {}}};
constexpr QualityPreset kMp3Presets[] = {
    {"128 kbit/s", {1, 128}},
    {"192 kbit/s", {1, 192}},
    {"256 kbit/s", {1, 256}},
    {"320 kbit/s", {1, 320}},
    {"V0 (variable, about 245 kbit/s)", {0, 0}},
    {"V2 (variable, about 190 kbit/s)", {0, 2}},
    {"V4 (variable, about 165 kbit/s)", {0, 4}},
};

constexpr QualityLadder kAacLadders[] = {{M::BitRateKbps, "bitrate", 96, 320, 192, {}}};
constexpr QualityPreset kAacPresets[] = {{"96 kbit/s", {0, 96}},   {"128 kbit/s", {0, 128}}, {"160 kbit/s", {0, 160}},
                                         {"192 kbit/s", {0, 192}}, {"256 kbit/s", {0, 256}}, {"320 kbit/s", {0, 320}}};

constexpr QualityLadder kOpusLadders[] = {{M::BitRateKbps, "bitrate", 32, 256, 128, {}}};
constexpr QualityPreset kOpusPresets[] = {{"32 kbit/s (variable)", {0, 32}},   {"64 kbit/s (variable)", {0, 64}},
                                          {"96 kbit/s (variable)", {0, 96}},   {"128 kbit/s (variable)", {0, 128}},
                                          {"160 kbit/s (variable)", {0, 160}}, {"192 kbit/s (variable)", {0, 192}},
                                          {"256 kbit/s (variable)", {0, 256}}};

constexpr QualityLadder kVorbisLadders[] = {{M::VariableScale, "quality", -1, 10, 5, {}}};
constexpr QualityPreset kVorbisPresets[] = {
    {"Quality -1 (about 45 kbit/s)", {0, -1}}, {"Quality 0 (about 64 kbit/s)", {0, 0}},
    {"Quality 1 (about 80 kbit/s)", {0, 1}},   {"Quality 2 (about 96 kbit/s)", {0, 2}},
    {"Quality 3 (about 112 kbit/s)", {0, 3}},  {"Quality 4 (about 128 kbit/s)", {0, 4}},
    {"Quality 5 (about 160 kbit/s)", {0, 5}},  {"Quality 6 (about 192 kbit/s)", {0, 6}},
    {"Quality 7 (about 224 kbit/s)", {0, 7}},  {"Quality 8 (about 256 kbit/s)", {0, 8}},
    {"Quality 9 (about 320 kbit/s)", {0, 9}},  {"Quality 10 (about 500 kbit/s)", {0, 10}}};

constexpr QualityLadder kFlacLadders[] = {{M::CompressionLevel, "level", 0, 8, 5, {}}};
constexpr QualityPreset kFlacPresets[] = {
    {"Level 0 (fastest)", {0, 0}}, {"Level 1", {0, 1}}, {"Level 2", {0, 2}},
    {"Level 3", {0, 3}},           {"Level 4", {0, 4}}, {"Level 5", {0, 5}},
    {"Level 6", {0, 6}},           {"Level 7", {0, 7}}, {"Level 8 (smallest)", {0, 8}}};

constexpr QualityLadder kAc3Ladders[] = {{M::BitRateKbps, "bitrate", 32, 640, 192, kAc3Rates}};
constexpr QualityPreset kAc3Presets[] = {{"128 kbit/s", {0, 128}}, {"192 kbit/s", {0, 192}}, {"256 kbit/s", {0, 256}},
                                         {"384 kbit/s", {0, 384}}, {"448 kbit/s", {0, 448}}, {"640 kbit/s", {0, 640}}};

constexpr QualityLadder kMp2Ladders[] = {{M::BitRateKbps, "bitrate", 32, 384, 192, kMp2Rates}};
constexpr QualityPreset kMp2Presets[] = {{"128 kbit/s", {0, 128}}, {"160 kbit/s", {0, 160}}, {"192 kbit/s", {0, 192}},
                                         {"256 kbit/s", {0, 256}}, {"320 kbit/s", {0, 320}}, {"384 kbit/s", {0, 384}}};

constexpr QualityLadder kWmaLadders[] = {{M::BitRateKbps, "bitrate", 48, 192, 128, kWmaRates}};
constexpr QualityPreset kWmaPresets[] = {{"64 kbit/s", {0, 64}},
                                         {"96 kbit/s", {0, 96}},
                                         {"128 kbit/s", {0, 128}},
                                         {"160 kbit/s", {0, 160}},
                                         {"192 kbit/s", {0, 192}}};

// The first six keep the panel's places and the output options window's indexes 18 to 23.
constexpr std::array kFormats = {
    OutputFormat{"mp3", "Mp3 Encoder (*.MP3)", "MP3", 21, ".mp3", "mp3", "libmp3lame", kMp3Ladders, kMp3Presets, 0,
                 TagStyle::Id3v2, false, "MP3"},
    OutputFormat{
        "wav", "WAV(*.WAV)", "WAV", 22, ".wav", "wav", nullptr, {}, {}, 0, TagStyle::RiffAndId3v2, true, "WAV"},
    OutputFormat{"aac", "AAC (*.AAC)", "AAC", 18, ".aac", "adts", "aac", kAacLadders, kAacPresets, 3, TagStyle::None,
                 false, "AAC"},
    OutputFormat{"ac3", "AC3 (*.AC3)", "AC3", 19, ".ac3", "ac3", "ac3", kAc3Ladders, kAc3Presets, 1, TagStyle::None,
                 false, "AC3"},
    OutputFormat{"mp2", "MP2 (*.MP2)", "MP2", 20, ".mp2", "mp2", "mp2", kMp2Ladders, kMp2Presets, 2, TagStyle::None,
                 false, "MP2"},
    OutputFormat{"wma", "WMA (*.WMA)", "WMA", 23, ".wma", "asf", "wmav2", kWmaLadders, kWmaPresets, 2,
                 TagStyle::AsfAttributes, false, "WMA"},
    OutputFormat{"flac", "FLAC (*.FLAC)", "FLAC", 24, ".flac", "flac", "flac", kFlacLadders, kFlacPresets, 5,
                 TagStyle::VorbisComment, true, "FLAC"},
    OutputFormat{"opus", "Opus (*.OPUS)", "OPUS", 25, ".opus", "opus", "libopus", kOpusLadders, kOpusPresets, 3,
                 TagStyle::VorbisComment, false, "Opus"},
    OutputFormat{"ogg", "Ogg Vorbis (*.OGG)", "VORBIS", 26, ".ogg", "ogg", "libvorbis", kVorbisLadders, kVorbisPresets,
                 6, TagStyle::VorbisComment, false, "Ogg Vorbis"},
    OutputFormat{"m4a", "AAC in M4A (*.M4A)", "M4A", 27, ".m4a", "ipod", "aac", kAacLadders, kAacPresets, 3,
                 TagStyle::Mp4Atoms, false, "M4A"},
    OutputFormat{
        "alac", "ALAC (*.M4A)", "ALAC", 28, ".m4a", "ipod", "alac", {}, {}, 0, TagStyle::Mp4Atoms, true, "ALAC"},
    OutputFormat{"wv", "WavPack (*.WV)", "WV", 29, ".wv", "wv", "wavpack", {}, {}, 0, TagStyle::ApeV2, true, "WavPack"},
    OutputFormat{
        "aiff", "AIFF (*.AIFF)", "AIFF", 30, ".aiff", "aiff", nullptr, {}, {}, 0, TagStyle::Id3v2, true, "AIFF"},
};

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

} // namespace

const QualityLadder *OutputFormat::LadderOf(const std::string &term) const
{
    for (const QualityLadder &ladder : ladders)
        if (term == ladder.term)
            return &ladder;
    return nullptr;
}

FormatQuality OutputFormat::DefaultQuality() const
{
    return ladders.empty() ? FormatQuality{} : FormatQuality{0, ladders.front().defaultValue};
}

std::string QualityLadder::Range() const
{
    if (steps.empty())
        return std::to_string(lowest) + " to " + std::to_string(highest);
    std::string list;
    for (const int step : steps)
        list += (list.empty() ? "one of " : ", ") + std::to_string(step);
    return list;
}

bool QualityLadder::Takes(int value) const
{
    if (!steps.empty())
        return std::find(steps.begin(), steps.end(), value) != steps.end();
    return value >= lowest && value <= highest;
}

std::span<const OutputFormat> OutputFormats() { return kFormats; }

const OutputFormat *OutputFormatNamed(const std::string &name)
{
    for (const OutputFormat &format : kFormats)
        if (Lower(name) == format.name)
            return &format;
    return nullptr;
}

const OutputFormat *OutputFormatOfFile(const std::string &fileName)
{
    const std::string lower = Lower(fileName);
    for (const OutputFormat &format : kFormats) {
        const std::string extension = format.extension;
        if (lower.size() > extension.size() &&
            lower.compare(lower.size() - extension.size(), extension.size(), extension) == 0)
            return &format;
    }
    return nullptr;
}

const OutputFormat *OutputFormatOfOptionsIndex(int index)
{
    for (const OutputFormat &format : kFormats)
        if (format.optionsIndex == index)
            return &format;
    return nullptr;
}

std::string OutputFormatNames()
{
    std::string names;
    for (const OutputFormat &format : kFormats)
        names += (names.empty() ? "" : ", ") + std::string(format.name);
    return names;
}

std::optional<std::string> CheckQuality(const OutputFormat &format, const std::string &term, int value)
{
    const QualityLadder *ladder = format.LadderOf(term);
    if (!ladder) {
        std::string offered;
        for (const QualityLadder &other : format.ladders)
            offered += (offered.empty() ? "" : " or ") + ("--" + std::string(other.term));
        return "--" + term + " is not a choice for " + format.name +
               (offered.empty() ? std::string(" (it has none)") : "; it takes " + offered);
    }
    if (!ladder->Takes(value))
        return "--" + term + " for " + format.name + " is " + ladder->Range() + ", not " + std::to_string(value);
    return std::nullopt;
}

} // namespace batch
