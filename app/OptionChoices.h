// The items the output options offer. The window lists them and the builder reads a chosen
// item back by its index, so both take them from here; 0 is "Auto" where a list has it.
#pragma once

#include "component/Mp3Quality.h"

#include <QStringList>

#include <array>
#include <span>

inline constexpr std::array<const char *, 24> kOutputFormats = {
    "VCD",  "SVCD", "DVD", "3GP", "AVI", "FLV", "iPod", "MKV", "MOV", "MP4", "OGG", "PSP",
    "RM10", "RM20", "SWF", "WMV", "M1V", "M2V", "AAC",  "AC3", "MP2", "MP3", "WAV", "WMA"};
// The format chosen at first, and the two the main window's panel offered first.
inline constexpr int kMp3Format = 21;
inline constexpr int kWavFormat = 22;

// The main window's formats: the sound-only ones, by their index in kOutputFormats.
struct TPanelFormat {
    const char *Caption;
    int Format;
};
inline constexpr std::array<TPanelFormat, 6> kPanelFormats = {{{"Mp3 Encoder (*.MP3)", kMp3Format},
                                                               {"WAV(*.WAV)", kWavFormat},
                                                               {"AAC (*.AAC)", 18},
                                                               {"AC3 (*.AC3)", 19},
                                                               {"MP2 (*.MP2)", 20},
                                                               {"WMA (*.WMA)", 23}}};

// The MP3 qualities offered; the first is what every MP3 had before there was a choice.
struct TMp3QualityChoice {
    const char *Caption;
    TMp3Quality Quality;
};
inline constexpr std::array<TMp3QualityChoice, 7> kMp3Qualities = {{
    {"128 kbit/s", {TMp3Quality::mqConstant, 128}},
    {"192 kbit/s", {TMp3Quality::mqConstant, 192}},
    {"256 kbit/s", {TMp3Quality::mqConstant, 256}},
    {"320 kbit/s", {TMp3Quality::mqConstant, 320}},
    {"V0 (variable, about 245 kbit/s)", {TMp3Quality::mqVariable, 0}},
    {"V2 (variable, about 190 kbit/s)", {TMp3Quality::mqVariable, 2}},
    {"V4 (variable, about 165 kbit/s)", {TMp3Quality::mqVariable, 4}},
}};

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

template <typename Choice, size_t N>
QStringList ChoiceCaptions(const std::array<Choice, N> &choices)
{
    QStringList list;
    for (const Choice &choice : choices)
        list << QString::fromUtf8(choice.Caption);
    return list;
}
