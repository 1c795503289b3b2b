#include "component/FormatQuality.h"

#include <string>

namespace {

void AddOptionLine(std::string &lines, const std::string &line)
{
    if (!lines.empty() && lines.back() != '\n')
        lines += '\n';
    lines += line;
}

} // namespace

void SetOutputFormat(TOutputOptions &options, const batch::OutputFormat &format, const batch::FormatQuality &quality)
{
    // The container follows from the output's extension, as the engine guesses it.
    if (format.encoder)
        options.AudioCodec = format.encoder;
    if (std::string(format.name) == "mp3")
        AddOptionLine(options.ExtOptions, "metadata_header_padding=512");
    if (quality.ladder < 0 || static_cast<size_t>(quality.ladder) >= format.ladders.size())
        return;
    switch (format.ladders[quality.ladder].meaning) {
    case batch::QualityMeaning::BitRateKbps:
        options.AudioBitrate = quality.value * 1000;
        break;
    case batch::QualityMeaning::VariableScale:
        AddOptionLine(options.ExtOptions, "aq=" + std::to_string(quality.value));
        break;
    case batch::QualityMeaning::CompressionLevel:
        AddOptionLine(options.ExtOptions, "compression_level=" + std::to_string(quality.value));
        break;
    }
}
