#include "engine/Mp3BitRate.h"

#include "engine/Mp3Frames.h"
#include "libs/AVEntryPoints.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace mp3 {

int EncoderBitrateKbps(int askedKbps, int sampleRate)
{
    const int version = sampleRate >= 32000 ? 1 : 2;
    // MPEG-2.5 shares MPEG-2's table, but the encoder stops at its eighth rate.
    const int lastIndex = sampleRate < 16000 ? 8 : 14;
    int nearest = BitrateKbps(version, 1);
    for (int index = 2; index <= lastIndex; ++index)
        if (std::abs(BitrateKbps(version, index) - askedKbps) < std::abs(nearest - askedKbps))
            nearest = BitrateKbps(version, index);
    return nearest;
}

std::string BitrateNote(const AVCodecContext &encoder)
{
    if (!encoder.codec || std::strcmp(encoder.codec->name, "libmp3lame") != 0 || (encoder.flags & AV_CODEC_FLAG_QSCALE))
        return "";
    // An average rate ("abr") takes any value; the encoder is handed whole kbit/s.
    int64_t average = 0;
    if (encoder.priv_data && avlib::avutil.av_opt_get_int(encoder.priv_data, "abr", 0, &average) >= 0 && average)
        return "";
    const int64_t asked = encoder.bit_rate / 1000;
    if (asked <= 0)
        return "";
    // Far above any rate: the nearest is the highest all the same.
    const int used = EncoderBitrateKbps(static_cast<int>(std::min<int64_t>(asked, 1 << 20)), encoder.sample_rate);
    if (used == asked)
        return "";
    return std::to_string(asked) + " kbit/s is not an MP3 rate at " + std::to_string(encoder.sample_rate) + " Hz; " +
           std::to_string(used) + " used";
}

} // namespace mp3
