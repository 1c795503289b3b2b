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

// The three disc targets, set in this order. PAL's picture size, else NTSC's (also film's).
struct TDiscPreset {
    const char *type, *videoCodec, *audioCodec;
    const char *palSize, *ntscSize;
    const char *bitRate, *maxRate, *minRate, *bufferSize;
    bool scanOffset;
    const char *audioBitRate;
    int32_t sampleRate;
    bool stereoOnly; // two channels asked for; otherwise only mono is raised to two
    const char *packetSize;
    const char *muxRate; // nullptr: the muxer's own
    float muxPreload;    // seconds; 0: unchanged
    const char *aspect;  // unless one was asked for
};
constexpr TDiscPreset kDiscPresets[] = {
    {"vcd", "mpeg1video", "mp2", "352x288", "352x240", "1150000", "1150000", "1150000", "327680", false, "224000",
     44100, true, "2324", "1411200", 0.44f, "4:3"},
    {"svcd", "mpeg2video", "mp2", "480x576", "480x480", "2040000", "2516000", "0", "1835008", true, "224000", 44100,
     false, "2324", nullptr, 0.0f, "4:3"},
    {"dvd", "mpeg2video", "ac3", "720x576", "720x480", "6000000", "9000000", "0", "1835008", false, "448000", 48000,
     false, "2048", "10080000", 0.0f, "16:9"},
};

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

    for (const TDiscPreset &disc : kDiscPresets) {
        if (type != disc.type)
            continue;
        SetOption("vcodec", disc.videoCodec);
        SetOption("acodec", disc.audioCodec);
        SetOutputFormat(disc.type);
        SetOption("s", pal ? disc.palSize : disc.ntscSize);
        SetOption("r", rate);
        SetCodecOption("g", pal ? "15" : "18");
        SetCodecOption("b", disc.bitRate);
        SetCodecOption("maxrate", disc.maxRate);
        SetCodecOption("minrate", disc.minRate);
        SetCodecOption("bufsize", disc.bufferSize);
        if (disc.scanOffset)
            SetCodecOption("scan_offset", "1"); // an option of the MPEG-2 encoder of its own
        SetCodecOption("ab", disc.audioBitRate);
        AudioSampleRate = disc.sampleRate;
        AudioSampleRateGiven = true;
        if (disc.stereoOnly) {
            AudioChannels = 2;
            AudioChannelsGiven = true;
        } else if (AudioChannels == 1) {
            AudioChannels = 2;
        }
        SetCodecOption("packetsize", disc.packetSize);
        if (disc.muxRate)
            SetCodecOption("muxrate", disc.muxRate);
        if (disc.muxPreload > 0)
            MuxPreload = disc.muxPreload;
        assumeAspect(disc.aspect);
        return;
    }
    if (type == "dv" || type == "dv50") {
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
