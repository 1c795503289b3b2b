#include "libs/MediaUrl.h"

#include "libs/AVEntryPoints.h"

#include <filesystem>

std::string MediaUrl(const std::string &fileName)
{
    if (fileName.empty() || avlib::avformat.avio_find_protocol_name(fileName.c_str()))
        return fileName;
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(fileName, ec);
    return ec ? fileName : absolute.string();
}

std::string FileUrl(const std::string &path)
{
    // A name is read as an address only when a colon comes before any slash.
    const size_t colon = path.find(':');
    if (colon == std::string::npos || path.find('/') < colon)
        return path;
    return "./" + path;
}
