#include "tests/support/LibraryLogCapture.h"

#include "libs/AVEntryPoints.h"

#include <cstdio>

namespace {

std::mutex captureLock;
std::vector<std::pair<int, std::string>> captured;

void Capture(void *, int level, const char *format, va_list args)
{
    char text[2048];
    std::vsnprintf(text, sizeof text, format, args);
    std::lock_guard<std::mutex> lock(captureLock);
    captured.emplace_back(level, text);
}

} // namespace

LibraryLogCapture::LibraryLogCapture()
{
    {
        std::lock_guard<std::mutex> lock(captureLock);
        captured.clear();
    }
    avlib::avutil.av_log_set_callback(Capture);
}

LibraryLogCapture::~LibraryLogCapture() { avlib::avutil.av_log_set_callback(avlib::avutil.av_log_default_callback); }

std::vector<std::pair<int, std::string>> LibraryLogCapture::Lines() const
{
    std::lock_guard<std::mutex> lock(captureLock);
    return captured;
}
