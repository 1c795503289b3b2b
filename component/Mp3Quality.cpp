#include "component/Mp3Quality.h"

#include <string>

namespace {

void AddOptionLine(std::string &lines, const std::string &line)
{
    if (!lines.empty() && lines.back() != '\n')
        lines += '\n';
    lines += line;
}

} // namespace

void SetMp3Quality(TOutputOptions &options, const TMp3Quality &quality)
{
    options.AudioCodec = "libmp3lame";
    AddOptionLine(options.ExtOptions, "metadata_header_padding=512");
    if (quality.Kind == TMp3Quality::mqConstant)
        options.AudioBitrate = quality.Value * 1000;
    else
        AddOptionLine(options.ExtOptions, "aq=" + std::to_string(quality.Value));
}
