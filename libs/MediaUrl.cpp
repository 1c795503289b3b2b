#include "MediaUrl.h"

#include "AVEntryPoints.h"

#include <filesystem>

std::string MediaUrl(const std::string &fileName)
{
    if (fileName.empty() || avlib::avformat.avio_find_protocol_name(fileName.c_str()))
        return fileName;
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(fileName, ec);
    return ec ? fileName : absolute.string();
}
