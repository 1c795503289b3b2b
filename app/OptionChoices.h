// The items the output options offer. The window lists them and the builder reads a chosen
// item back by its index, so both take them from here; 0 is "Auto" where a list has it.
#pragma once

#include <QStringList>

#include <array>
#include <span>

inline constexpr std::array<const char *, 24> kOutputFormats = {
    "VCD",  "SVCD", "DVD", "3GP", "AVI", "FLV", "iPod", "MKV", "MOV", "MP4", "OGG", "PSP",
    "RM10", "RM20", "SWF", "WMV", "M1V", "M2V", "AAC",  "AC3", "MP2", "MP3", "WAV", "WMA"};
// The format chosen at first, and the two the main window's panel offers.
inline constexpr int kMp3Format = 21;
inline constexpr int kWavFormat = 22;

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
