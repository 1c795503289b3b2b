#include "MediaCheck.h"

#include "AVDeleters.h"
#include "AVEntryPoints.h"
#include "MediaUrl.h"

namespace veloxc {

namespace {

bool HasSound(const AVFormatContext *context)
{
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream *stream = context->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return true;
    }
    return false;
}

} // namespace

bool CheckSoundFile(const std::string &path, SoundFile &found)
{
    using namespace avlib;
    AVFormatContext *raw = nullptr;
    if (avformat.avformat_open_input(&raw, MediaUrl(path).c_str(), nullptr, nullptr) < 0)
        return false;
    const InputFormatContextPtr context(raw);
    // Most sound formats name their streams in the header; others only once packets are read.
    if (!HasSound(raw) && (avformat.avformat_find_stream_info(raw, nullptr) < 0 || !HasSound(raw)))
        return false;
    const std::string names = raw->iformat && raw->iformat->name ? raw->iformat->name : "";
    found.format = names.substr(0, names.find(','));
    found.durationMs = raw->duration > 0 ? raw->duration / 1000 : 0;
    return true;
}

} // namespace veloxc
