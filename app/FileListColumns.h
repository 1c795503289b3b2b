// The columns of the main window's file list, for building the list and filling its rows.
#pragma once

#include <iterator>

// Caption, width at the 8-point font the widths were made for, and the characters a typical
// entry needs (names, sizes of a few gigabytes, "99%, 0:31 left"), whichever is wider; numbers
// align right.
struct TFileListColumn {
    const char *caption;
    int width;
    int chars;
    bool number;
};
inline constexpr TFileListColumn kFileListColumns[] = {{"File Title", 100, 24, false}, {"Total Time", 65, 0, true},
                                                       {"File Size", 65, 11, true},    {"Output", 120, 28, false},
                                                       {"Progress", 80, 14, true},     {"Current Time", 80, 0, true},
                                                       {"File Size", 65, 11, true}};
inline constexpr int kFileListColumnCount = static_cast<int>(std::size(kFileListColumns));
inline constexpr int kOutputColumn = 3, kProgressColumn = 4, kCurrentTimeColumn = 5, kCurrentSizeColumn = 6;

// The line height of the 8-point font the window's sizes were made for.
inline constexpr double kDesignLineHeight = 13.0;
