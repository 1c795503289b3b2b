// Captures what the media libraries log while it exists, as (level, text) pairs.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

class LibraryLogCapture {
public:
    LibraryLogCapture();
    ~LibraryLogCapture();
    LibraryLogCapture(const LibraryLogCapture &) = delete;
    LibraryLogCapture &operator=(const LibraryLogCapture &) = delete;

    std::vector<std::pair<int, std::string>> Lines() const;
};
