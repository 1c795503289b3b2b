// Opening, attaching and closing the probed input.
#include "probe/AVProbe.h"

#include "libs/AVEntryPoints.h"
#include "libs/AVLibLoader.h"
#include "libs/LibraryLock.h"
#include "libs/MediaUrl.h"
#include "libs/OpenError.h"
#include "libs/TextFormat.h"

#include <mutex>

using namespace avlib;

TAVProbe::TAVProbe() { UpdateStreamCounts(); }

TAVProbe::~TAVProbe() { Close(); }

bool TAVProbe::LoadFile(const std::string &fileName, const std::string &format)
{
    CheckProbeLibraries();
    Close();
    const AVInputFormat *forced = nullptr;
    if (!format.empty()) {
        forced = avformat.av_find_input_format(format.c_str());
        if (!forced) {
            LastErrMsg = FormatText("Unknown input format: %s", format.c_str());
            return false;
        }
    }
    AVFormatContext *context = avformat.avformat_alloc_context();
    if (!context) {
        LastErrMsg = PrintOpenError(fileName, AVERROR(ENOMEM));
        return false;
    }
    // On failure the library frees the context it was given.
    const int result = avformat.avformat_open_input(&context, MediaUrl(fileName).c_str(), forced, nullptr);
    if (result < 0) {
        LastErrMsg = PrintOpenError(fileName, result);
        Close();
        return false;
    }
    OwnedContext.reset(context);
    FormatContext_ = context;
    OwnsContext_ = true;
    int found;
    {
        // Reading stream information opens and closes decoders: serialised with the engines'.
        std::lock_guard<std::recursive_mutex> lock(LibraryLock());
        found = avformat.avformat_find_stream_info(context, nullptr);
    }
    if (found < 0) {
        LastErrMsg = FormatText("%s: could not find codec parameters", fileName.c_str());
        Close();
        return false;
    }
    UpdateStreamCounts();
    ForcedFormat = format;
    return true;
}

void TAVProbe::Close()
{
    ForcedFormat.clear();
    LastWasImage2 = false;
    if (FrameBitmap)
        FrameBitmap->SetSize(0, 0);
    ScalerContext.reset();
    CloseDecoder();
    SeekPending = KeyPending = FirstPacketPending = false;
    // Only what the probe opened is closed; an attached input belongs to its engine.
    OwnedContext.reset();
    FormatContext_ = nullptr;
    OwnsContext_ = false;
    PictureBuffer.reset();
    PictureBufferSize_ = 0;
    UpdateStreamCounts();
}

void TAVProbe::AttachContext(AVFormatContext *context)
{
    CheckProbeLibraries();
    Close();
    OwnsContext_ = false;
    FormatContext_ = context;
    UpdateStreamCounts();
}

void TAVProbe::UpdateStreamCounts()
{
    StreamCount = ProgramCount = -1;
    AudioCount = VideoCount = SubtitleCount = -1;
    FirstAudio = FirstVideo = FirstSubtitle = -1;
    if (!FormatContext_)
        return;
    StreamCount = static_cast<int32_t>(FormatContext_->nb_streams);
    ProgramCount = static_cast<int32_t>(FormatContext_->nb_programs);
    AudioCount = VideoCount = SubtitleCount = 0;
    for (int i = 0; i < StreamCount; ++i) {
        switch (FormatContext_->streams[i]->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            if (VideoCount++ == 0)
                FirstVideo = i;
            break;
        case AVMEDIA_TYPE_AUDIO:
            if (AudioCount++ == 0)
                FirstAudio = i;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            if (SubtitleCount++ == 0)
                FirstSubtitle = i;
            break;
        default:
            break;
        }
    }
}
