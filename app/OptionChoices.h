// The items the output options offer. The window lists them and the builder reads a chosen
// item back by its index, so both take them from here; 0 is "Auto" where a list has it.
#pragma once

#include "batch/OutputFormats.h"

#include <QStringList>

#include <array>
#include <span>

// The video formats of the output options window, its items 0 to 17; the sound formats follow
// them by their place in batch/OutputFormats.h.
inline constexpr std::array<const char *, 18> kVideoFormats = {"VCD",  "SVCD", "DVD", "3GP", "AVI", "FLV",
                                                               "iPod", "MKV",  "MOV", "MP4", "OGG", "PSP",
                                                               "RM10", "RM20", "SWF", "WMV", "M1V", "M2V"};

// The window's item of a sound format by its name ("mp3"); the initial choice is MP3.
inline int OptionsIndexOf(const char *name) { return batch::OutputFormatNamed(name)->optionsIndex; }

inline constexpr std::array<const char *, 3> kNorms = {"Auto", "PAL", "NTSC"};
inline constexpr std::array<const char *, 3> kAudioChannelItems = {"Auto", "Mono", "Stereo"};
inline constexpr std::array<const char *, 5> kAudioSampleRates = {"Auto", "8000", "11025", "22050", "44100"};
inline constexpr std::array<const char *, 5> kFrameRates = {"Auto", "10", "15", "25", "30"};
inline constexpr std::array<const char *, 5> kAspectRatios = {"Auto", "4:3", "16:9", "37:20", "47:20"};
inline constexpr std::array<const char *, 5> kAudioCodecs = {"Auto", "AAC", "AC3", "FLAC", "MP3"};
inline constexpr std::array<const char *, 4> kVideoCodecs = {"Auto", "DivX", "XviD", "X264"};

// A size and its name; the builder passes the part before the blank.
inline constexpr std::array<const char *, 29> kFrameSizes = {
    "Auto - Original",    "128x96 - sqcif",     "176x144 - qcif",     "352x288 - cif",      "704x576 - 4cif",
    "160x120 - qqvga",    "320x240 - qvga",     "640x480 - vga",      "800x600 - svga",     "1024x768 - xga",
    "1600x1200 - uxga",   "2048x1536 - qxga",   "1280x1024 - sxga",   "2560x2048 - qsxga",  "5120x4096 - hsxga",
    "852x480 - wvga",     "1366x768 - wxga",    "1600x1024 - wsxga",  "1920x1200 - wuxga",  "2560x1600 - woxga",
    "3200x2048 - wqsxga", "3840x2400 - wquxga", "6400x4096 - whsxga", "7680x4800 - whuxga", "320x200 - cga",
    "640x350 - ega",      "852x480 - hd480",    "1280x720 - hd720",   "1920x1080 - hd1080"};

// The item at index, or nothing when index is outside the list.
inline QString ChoiceItem(std::span<const char *const> items, int index)
{
    return index >= 0 && static_cast<size_t>(index) < items.size() ? QString::fromLatin1(items[index]) : QString();
}

inline QStringList ChoiceItems(std::span<const char *const> items)
{
    QStringList list;
    for (const char *item : items)
        list << QString::fromLatin1(item);
    return list;
}

// Every item of the output options window: the video formats, then the sound formats in the
// order of their optionsIndex, which follows on without a gap.
inline QStringList OutputFormatItems()
{
    QStringList items = ChoiceItems(kVideoFormats);
    while (const batch::OutputFormat *format = batch::OutputFormatOfOptionsIndex(static_cast<int>(items.size())))
        items << QString::fromLatin1(format->optionsItem);
    return items;
}

// The captions of a format's quality presets; "Lossless" alone for a format that has none.
inline QStringList PresetCaptions(const batch::OutputFormat &format)
{
    QStringList captions;
    for (const batch::QualityPreset &preset : format.presets)
        captions << QString::fromUtf8(preset.caption);
    return captions.isEmpty() ? QStringList{QStringLiteral("Lossless")} : captions;
}

// Every format's captions: a quality list as wide as these keeps its place whichever format is chosen.
inline QStringList AllPresetCaptions()
{
    QStringList captions;
    for (const batch::OutputFormat &format : batch::OutputFormats())
        captions << PresetCaptions(format);
    return captions;
}

// A preset index as the format takes it: -1 or one out of range is the format's default.
inline int PresetOf(const batch::OutputFormat &format, int index)
{
    return index >= 0 && static_cast<size_t>(index) < format.presets.size() ? index : format.defaultPreset;
}

// The quality of a preset of the format; the format's default for one it does not have.
inline batch::FormatQuality PresetQuality(const batch::OutputFormat &format, int index)
{
    const int preset = PresetOf(format, index);
    return static_cast<size_t>(preset) < format.presets.size() ? format.presets[preset].quality
                                                               : format.DefaultQuality();
}
