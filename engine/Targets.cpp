// Target presets: the settings of video CD, super video CD, DVD and DV outputs by TV norm.
#include "engine/FFmpeg.h"

#include "engine/OptionValues.h"
#include "libs/TextFormat.h"

#include <cmath>

using avlib::FormatText;

namespace {

enum TNorm { nmPal, nmNtsc, nmFilm };

// PAL at 25 frames per second, NTSC at 30000/1001 or 24000/1001; anything else decides nothing.
bool NormOfRate(double framesPerThousandSeconds, TNorm &norm)
{
    const long rate = std::lround(framesPerThousandSeconds);
    if (rate == 25000) {
        norm = nmPal;
        return true;
    }
    if (rate == 29970 || rate == 23976) {
        norm = nmNtsc;
        return true;
    }
    return false;
}

} // namespace

void TCustomFFmpeg::SetTarget(const std::string &type, const std::string &norm, const std::string &defaultNorm)
{
    TNorm resolved;
    if (norm == "pal") {
        resolved = nmPal;
    } else if (norm == "ntsc") {
        resolved = nmNtsc;
    } else if (norm == "film") {
        resolved = nmFilm;
    } else {
        if (FrameRate.den == 0)
            throw FFMpegException("frame_rate is invalid.");
        bool decided = NormOfRate(FrameRate.num * 1000.0 / FrameRate.den, resolved);
        for (int i = 0; i < InputFileCount && !decided; ++i) {
            for (unsigned s = 0; s < InputFiles[i]->nb_streams && !decided; ++s) {
                const AVStream *stream = InputFiles[i]->streams[s];
                // The codec's own frame rate, as the inverse of its time base.
                const AVRational rate = stream->avg_frame_rate.num ? stream->avg_frame_rate : stream->r_frame_rate;
                if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && rate.den != 0)
                    decided = NormOfRate(rate.num * 1000.0 / rate.den, resolved);
            }
        }
        if (!decided)
            resolved = defaultNorm == "film" ? nmFilm : defaultNorm == "ntsc" ? nmNtsc : nmPal;
        if (Verbose > 0)
            Log(1, FormatText("Assuming %s for target.", resolved == nmPal ? "PAL" : "NTSC"));
    }

    const bool pal = resolved == nmPal;
    const char *rate = pal ? "25" : resolved == nmNtsc ? "30000/1001" : "24000/1001";
    const auto assumeAspect = [this](const char *aspect) {
        if (FrameAspectRatio != 0.0f)
            return;
        SetOption("aspect", aspect);
        if (LogCallback)
            Log(1, FormatText("Assuming %s for aspect ratio", aspect));
    };

    if (type == "vcd") {
        SetOption("vcodec", "mpeg1video");
        SetOption("acodec", "mp2");
        SetOutputFormat("vcd");
        SetOption("s", pal ? "352x288" : "352x240");
        SetOption("r", rate);
        SetCodecOption("g", pal ? "15" : "18");
        SetCodecOption("b", "1150000");
        SetCodecOption("maxrate", "1150000");
        SetCodecOption("minrate", "1150000");
        SetCodecOption("bufsize", "327680");
        SetCodecOption("ab", "224000");
        AudioSampleRate = 44100;
        AudioChannels = 2;
        AudioSampleRateGiven = AudioChannelsGiven = true;
        SetCodecOption("packetsize", "2324");
        SetCodecOption("muxrate", "1411200");
        MuxPreload = 0.44f;
        assumeAspect("4:3");
    } else if (type == "svcd") {
        SetOption("vcodec", "mpeg2video");
        SetOption("acodec", "mp2");
        SetOutputFormat("svcd");
        SetOption("s", pal ? "480x576" : "480x480");
        SetOption("r", rate);
        SetCodecOption("g", pal ? "15" : "18");
        SetCodecOption("b", "2040000");
        SetCodecOption("maxrate", "2516000");
        SetCodecOption("minrate", "0");
        SetCodecOption("bufsize", "1835008");
        SetCodecOption("scan_offset", "1"); // an option of the MPEG-2 encoder of its own
        SetCodecOption("ab", "224000");
        AudioSampleRate = 44100;
        AudioSampleRateGiven = true;
        if (AudioChannels == 1)
            AudioChannels = 2;
        SetCodecOption("packetsize", "2324");
        assumeAspect("4:3");
    } else if (type == "dvd") {
        SetOption("vcodec", "mpeg2video");
        SetOption("acodec", "ac3");
        SetOutputFormat("dvd");
        SetOption("s", pal ? "720x576" : "720x480");
        SetOption("r", rate);
        SetCodecOption("g", pal ? "15" : "18");
        SetCodecOption("b", "6000000");
        SetCodecOption("maxrate", "9000000");
        SetCodecOption("minrate", "0");
        SetCodecOption("bufsize", "1835008");
        SetCodecOption("ab", "448000");
        AudioSampleRate = 48000;
        AudioSampleRateGiven = true;
        if (AudioChannels == 1)
            AudioChannels = 2;
        SetCodecOption("packetsize", "2048");
        SetCodecOption("muxrate", "10080000");
        assumeAspect("16:9");
    } else if (type == "dv" || type == "dv50") {
        SetOutputFormat("dv");
        SetOption("s", pal ? "720x576" : "720x480");
        SetOption("pix_fmt", type == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
        SetOption("r", rate);
        AudioSampleRate = 48000;
        AudioChannels = 2;
        AudioSampleRateGiven = AudioChannelsGiven = true;
    } else {
        throw FFMpegException("Unknown target type");
    }
}

void TCustomFFmpeg::SetTargetOption(const std::string &value)
{
    const std::string target = Trim(value);
    for (const char *norm : {"pal", "ntsc", "film"}) {
        const std::string prefix = std::string(norm) + "-";
        if (target.rfind(prefix, 0) == 0) {
            SetTarget(target.substr(prefix.size()), norm, "ntsc");
            return;
        }
    }
    SetTarget(target, "auto", "ntsc");
}
