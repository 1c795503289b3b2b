#include "AudioShape.h"

#include "AVEntryPoints.h"

#include <bit>
#include <cstdlib>

using namespace avlib;

namespace audio_shape {

AVChannelLayout FromMask(uint64_t mask)
{
    AVChannelLayout layout{};
    layout.order = AV_CHANNEL_ORDER_NATIVE;
    layout.nb_channels = std::popcount(mask);
    layout.u.mask = mask;
    return layout;
}

AVChannelLayout Usable(const AVChannelLayout &layout, int channels)
{
    if (layout.order == AV_CHANNEL_ORDER_NATIVE && layout.nb_channels == channels &&
        std::popcount(layout.u.mask) == channels)
        return FromMask(layout.u.mask);
    AVChannelLayout fallback{};
    avutil.av_channel_layout_default(&fallback, channels);
    return fallback;
}

std::string Describe(const AVChannelLayout &layout)
{
    char text[128] = "";
    if (avutil.av_channel_layout_describe(&layout, text, sizeof text) > 0 && text[0])
        return text;
    return std::to_string(layout.nb_channels) + " channels";
}

bool TakesRate(const AVCodec *encoder, int rate)
{
    if (!encoder || !encoder->supported_samplerates)
        return true;
    for (const int *listed = encoder->supported_samplerates; *listed; ++listed)
        if (*listed == rate)
            return true;
    return false;
}

int NearestRate(const AVCodec *encoder, int rate)
{
    if (!encoder || !encoder->supported_samplerates || !*encoder->supported_samplerates)
        return rate;
    int best = *encoder->supported_samplerates;
    for (const int *listed = encoder->supported_samplerates; *listed; ++listed) {
        const long distance = std::labs(long{*listed} - rate), bestDistance = std::labs(long{best} - rate);
        if (distance < bestDistance || (distance == bestDistance && *listed > best))
            best = *listed;
    }
    return best;
}

std::string ListRates(const AVCodec *encoder)
{
    std::string list;
    for (const int *listed = encoder->supported_samplerates; listed && *listed; ++listed)
        list += (list.empty() ? "" : ", ") + std::to_string(*listed);
    return list;
}

namespace {

bool SameLayout(const AVChannelLayout &a, const AVChannelLayout &b)
{
    if (a.order != b.order || a.nb_channels != b.nb_channels)
        return false;
    return a.order != AV_CHANNEL_ORDER_NATIVE || a.u.mask == b.u.mask;
}

} // namespace

bool TakesLayout(const AVCodec *encoder, const AVChannelLayout &layout)
{
    if (!encoder || !encoder->ch_layouts)
        return true;
    for (const AVChannelLayout *listed = encoder->ch_layouts; listed->nb_channels; ++listed)
        if (SameLayout(*listed, layout))
            return true;
    return false;
}

AVChannelLayout NearestLayout(const AVCodec *encoder, const AVChannelLayout &layout)
{
    if (!encoder || !encoder->ch_layouts || !encoder->ch_layouts[0].nb_channels)
        return layout;
    const int wanted = layout.nb_channels;
    const AVChannelLayout *best = nullptr;
    const auto better = [wanted](const AVChannelLayout &candidate, const AVChannelLayout &current) {
        const int c = candidate.nb_channels, b = current.nb_channels;
        if ((c <= wanted) != (b <= wanted))
            return c <= wanted; // below or equal beats above
        return c <= wanted ? c > b : c < b;
    };
    for (const AVChannelLayout *listed = encoder->ch_layouts; listed->nb_channels; ++listed)
        if (!best || better(*listed, *best))
            best = listed;
    return Usable(*best, best->nb_channels);
}

std::string ListLayouts(const AVCodec *encoder)
{
    std::string list;
    for (const AVChannelLayout *listed = encoder->ch_layouts; listed && listed->nb_channels; ++listed)
        list += (list.empty() ? "" : ", ") + Describe(*listed);
    return list;
}

} // namespace audio_shape
