#include "probe/MediaCheck.h"

#include "libs/AVDeleters.h"
#include "libs/AVEntryPoints.h"
#include "libs/LibraryLock.h"
#include "libs/MediaUrl.h"

#include <mutex>

namespace probe {

namespace {

const AVStream *FirstSound(const AVFormatContext *context)
{
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream *stream = context->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return stream;
    }
    return nullptr;
}

bool IsPcm(AVCodecID codec) { return codec >= AV_CODEC_ID_FIRST_AUDIO && codec < AV_CODEC_ID_ADPCM_IMA_QT; }

// The length as the header tells it, for the progress display: the file's, else the sound stream's,
// else size over bit rate (a PCM file's header gives no more before it is read).
int64_t DurationMs(AVFormatContext *context)
{
    using namespace avlib;
    if (context->duration > 0)
        return context->duration / 1000;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream *stream = context->streams[i];
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        if (stream->duration > 0)
            return avutil.av_rescale_q(stream->duration, stream->time_base, AVRational{1, 1000});
        const int64_t size = context->pb ? avformat.avio_size(context->pb) : -1;
        if (stream->codecpar->bit_rate > 0 && size > 0)
            return size * 8000 / stream->codecpar->bit_rate;
    }
    return 0;
}

// The demuxer whose extensions the file's name has.
const AVInputFormat *FormatNamedBy(const std::string &path)
{
    using namespace avlib;
    void *position = nullptr;
    while (const AVInputFormat *format = avformat.av_demuxer_iterate(&position))
        if (format->extensions && avformat.av_match_ext(path.c_str(), format->extensions))
            return format;
    return nullptr;
}

} // namespace

bool CheckSoundFile(const std::string &path, SoundFile &found)
{
    using namespace avlib;
    AVFormatContext *raw = nullptr;
    // A file too short for the libraries' guess (an MP3 of a few frames) is tried as its name says.
    if (avformat.avformat_open_input(&raw, FileUrl(path).c_str(), nullptr, nullptr) < 0) {
        const AVInputFormat *named = FormatNamedBy(path);
        if (!named || avformat.avformat_open_input(&raw, FileUrl(path).c_str(), named, nullptr) < 0)
            return false;
    }
    const InputFormatContextPtr context(raw);
    // Most sound formats name their streams in the header; others only once packets are read.
    if (!FirstSound(raw)) {
        int found;
        {
            std::lock_guard<std::recursive_mutex> lock(LibraryLock());
            found = avformat.avformat_find_stream_info(raw, nullptr);
        }
        if (found < 0 || !FirstSound(raw))
            return false;
    }
    const std::string names = raw->iformat && raw->iformat->name ? raw->iformat->name : "";
    found.format = names.substr(0, names.find(','));
    found.durationMs = DurationMs(raw);
    found.plainPcm = IsPcm(FirstSound(raw)->codecpar->codec_id);
    return true;
}

} // namespace probe
