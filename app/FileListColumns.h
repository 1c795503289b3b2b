// The columns of the main window's file list, for building the list and filling its rows, and the
// texts of its figures.
#pragma once

#include <QString>

#include <cstdint>
#include <iterator>

// How a column gets its width: File Title and Output share what the others leave, each keeping
// room for a readable name; a figure is as wide as its caption or its widest entry; Progress starts
// at its entry's width and can be resized (the width is kept).
enum TColumnFit { cfShare, cfContent, cfUser };

// Caption, how it is sized, the widest entry it sizes to (cfShare: as many characters as it
// keeps at least), and whether it holds a number (those align right).
struct TFileListColumn {
    const char *caption;
    TColumnFit fit;
    const char *entry;
    bool number;
};
inline constexpr TFileListColumn kFileListColumns[] = {
    {"File Title", cfShare, "000000000000", false}, {"Total Time", cfContent, "9:59:59", true},
    {"File Size", cfContent, "999 MB", true},       {"Output", cfShare, "00000000000000", false},
    {"Progress", cfUser, "99%, 59:59 left", true},  {"Current Time", cfContent, "9:59:59", true},
    {"Output Size", cfContent, "999 MB", true}};
inline constexpr int kFileListColumnCount = static_cast<int>(std::size(kFileListColumns));
inline constexpr int kTitleColumn = 0, kTotalTimeColumn = 1, kFileSizeColumn = 2, kOutputColumn = 3,
                     kProgressColumn = 4, kCurrentTimeColumn = 5, kCurrentSizeColumn = 6;

// The line height of the 8-point font the window's sizes were made for.
inline constexpr double kDesignLineHeight = 13.0;

// A length as the list shows it, whole seconds on a clock ("5:00", "1:02:03"), and exactly
// ("4:59.900"); "-" when it is unknown (negative).
QString LengthCellText(int64_t microseconds);
QString LengthExactText(int64_t microseconds);
// A size in three figures ("101 MB", "5.20 GB", "512 B"; powers of 1000), and exactly
// ("101,234,567 bytes"); "-" when it is unknown (negative).
QString SizeCellText(int64_t bytes);
QString SizeExactText(int64_t bytes);
