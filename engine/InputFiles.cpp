// Opening an input file with the pending options.
#include "engine/FFmpeg.h"

#include "engine/ScopeExit.h"
#include "libs/AVEntryPoints.h"
#include "libs/LibraryLock.h"
#include "libs/MediaUrl.h"
#include "libs/OpenError.h"
#include "libs/TextFormat.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

using namespace avlib;

namespace {

// ".rm" and ".rmvb" files whose video reports no pixel format are planar 4:2:0.
bool IsRealMediaName(const std::string &fileName)
{
    std::string extension = std::filesystem::path(fileName).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return extension.size() > 1 && std::string(".rmvb").rfind(extension, 0) == 0;
}

} // namespace

bool TCustomFFmpeg::AddInputFile(const std::string &fileName)
{
    // The per-input pending values are used up whatever the outcome.
    ScopeExit clearPending([this] {
        InputFormat = nullptr;
        OutputFormat = nullptr;
        VideoChannel = 0;
        RateEmu = 0;
        VideoCodecName.reset();
        AudioCodecName.reset();
        SubtitleCodecName.reset();
    });

    if (InputFileCount >= MAX_FILES) {
        LastErrorText = FormatText("Too many input files (at most %d)", MAX_FILES);
        return false;
    }
    AVFormatContext *context = avformat.avformat_alloc_context();
    if (!context) {
        LastErrorText = PrintOpenError(fileName, AVERROR(ENOMEM));
        return false;
    }
    InputFormatContextPtr input(context);
    AVDictionaryOwner options;
    SetDemuxerOptions(options);
    if (!OpenInputContext(input, fileName, options))
        return false;
    context = input.get();
    if (!FindInputStreamInfo(context, fileName))
        return false;

    const int64_t startTime = StartTime;
    const int64_t timestamp = SeekToStartTime(context);
    std::vector<AVCodecContextPtr> decoders;
    if (!MakeInputDecoders(context, fileName, decoders))
        return false;
    KeepInputFile(std::move(input), fileName, std::move(decoders), timestamp, startTime);
    return true;
}

void TCustomFFmpeg::SetDemuxerOptions(AVDictionaryOwner &options) const
{
    // What the old parameter record carried goes to the demuxer as options; a demuxer takes
    // those it knows.
    options.Set("sample_rate", std::to_string(AudioSampleRate));
    options.Set("channels", std::to_string(AudioChannels));
    if (FrameRate.num > 0 && FrameRate.den > 0)
        options.Set("framerate", std::to_string(FrameRate.num) + "/" + std::to_string(FrameRate.den));
    const int64_t width = int64_t{FrameWidth} + PadLeft + PadRight;
    const int64_t height = int64_t{FrameHeight} + PadTop + PadBottom;
    if (width > 0 && height > 0)
        options.Set("video_size", std::to_string(width) + "x" + std::to_string(height));
    if (FramePixFmt >= 0)
        if (const char *name = avutil.av_get_pix_fmt_name(static_cast<AVPixelFormat>(FramePixFmt)))
            options.Set("pixel_format", name);
    if (VideoChannel != 0)
        options.Set("channel", std::to_string(VideoChannel));
    if (VideoStandard)
        options.Set("standard", *VideoStandard);
    if (LoopInput)
        options.Set("loop", "1");
}

bool TCustomFFmpeg::OpenInputContext(InputFormatContextPtr &input, const std::string &fileName,
                                     AVDictionaryOwner &options)
{
    AVFormatContext *context = input.get();
    AVCodecID videoId = AV_CODEC_ID_NONE, audioId = AV_CODEC_ID_NONE, subtitleId = AV_CODEC_ID_NONE;
    if (!LookupCodec(VideoCodecName, AVMEDIA_TYPE_VIDEO, false, videoId) ||
        !LookupCodec(AudioCodecName, AVMEDIA_TYPE_AUDIO, false, audioId) ||
        !LookupCodec(SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false, subtitleId))
        return false;
    ApplyGenericOptions(context, FormatDefaults.get(), AV_OPT_FLAG_DECODING_PARAM);
    context->video_codec_id = UsingPgmYuv ? AV_CODEC_ID_PGMYUV : videoId;
    context->audio_codec_id = audioId;
    context->subtitle_codec_id = subtitleId;

    context->interrupt_callback = StopInterrupt();

    // The library frees the context when opening fails.
    AVFormatContext *opening = input.release();
    const int opened =
        avformat.avformat_open_input(&opening, MediaUrl(fileName).c_str(), InputFormat, options.Address());
    if (opened < 0) {
        LastErrorText = PrintOpenError(fileName, opened);
        return false;
    }
    input.reset(opening);
    return true;
}

bool TCustomFFmpeg::FindInputStreamInfo(AVFormatContext *context, const std::string &fileName)
{
    if (ProgramId != 0)
        for (unsigned i = 0; i < context->nb_programs; ++i)
            if (context->programs[i]->id != ProgramId)
                context->programs[i]->discard = AVDISCARD_ALL;

    int found;
    {
        std::lock_guard<std::recursive_mutex> lock(LibraryLock());
        found = avformat.avformat_find_stream_info(context, nullptr);
    }
    if (found < 0 && Verbose >= 0) {
        LastErrorText = FormatText("%s: could not find codec parameters", fileName.c_str());
        return false;
    }
    return true;
}

int64_t TCustomFFmpeg::SeekToStartTime(AVFormatContext *context)
{
    int64_t timestamp = StartTime;
    if (context->start_time != AV_NOPTS_VALUE)
        timestamp += context->start_time;
    if (StartTime != 0) {
        avformat.av_seek_frame(context, -1, timestamp, AVSEEK_FLAG_BACKWARD); // a failed seek reads from where it is
        StartTime = 0;
    }
    return timestamp;
}

bool TCustomFFmpeg::MakeInputDecoders(AVFormatContext *context, const std::string &fileName,
                                      std::vector<AVCodecContextPtr> &decoders)
{
    bool audioSeen = false;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        AVStream *stream = context->streams[i];
        AVCodecParameters *parameters = stream->codecpar;
        AVCodecContextPtr decoder(avcodec.avcodec_alloc_context3(nullptr));
        if (!decoder || avcodec.avcodec_parameters_to_context(decoder.get(), parameters) < 0) {
            LastErrorText = PrintOpenError(fileName, AVERROR(ENOMEM));
            return false;
        }
        decoder->pkt_timebase = stream->time_base;
        decoder->thread_count = ThreadCount;
        switch (parameters->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            TakeInputVideoShape(stream, decoder.get(), fileName, static_cast<int>(i));
            break;
        case AVMEDIA_TYPE_AUDIO:
            TakeInputAudioShape(stream, decoder.get(), !audioSeen);
            audioSeen = true;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            if (SubtitleDisable)
                stream->discard = AVDISCARD_ALL;
            break;
        case AVMEDIA_TYPE_DATA:
        case AVMEDIA_TYPE_ATTACHMENT:
        case AVMEDIA_TYPE_UNKNOWN:
            break;
        default:
            throw FFMpegException("invalid codec_type");
        }
        decoders.push_back(std::move(decoder));
    }
    return true;
}

void TCustomFFmpeg::TakeInputVideoShape(AVStream *stream, AVCodecContext *decoder, const std::string &fileName,
                                        int streamIndex)
{
    AVCodecParameters *parameters = stream->codecpar;
    ApplyGenericOptions(decoder, CodecDefaults[mkVideo].get(), AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
    // A cover picture is no video: its size, shape and rate are not an output's.
    if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
        return;
    FrameHeight = parameters->height;
    FrameWidth = parameters->width;
    const AVRational sar =
        stream->sample_aspect_ratio.num ? stream->sample_aspect_ratio : parameters->sample_aspect_ratio;
    FrameAspectRatio = static_cast<float>(av_q2d(sar));
    if (FrameWidth != 0 && FrameHeight != 0)
        FrameAspectRatio = FrameAspectRatio != 0.0f
                               ? static_cast<float>(FrameWidth * static_cast<double>(FrameAspectRatio) / FrameHeight)
                               : static_cast<float>(static_cast<double>(FrameWidth) / FrameHeight);
    else if (FrameAspectRatio == 0.0f)
        FrameAspectRatio = 4.0f / 3.0f;
    if (parameters->format == AV_PIX_FMT_NONE && IsRealMediaName(fileName)) {
        parameters->format = AV_PIX_FMT_YUV420P;
        decoder->pix_fmt = AV_PIX_FMT_YUV420P;
    }
    FramePixFmt = parameters->format;
    // The decoder's own rate, where the container's differs from it.
    const AVRational codecRate = stream->avg_frame_rate;
    const AVRational rate = stream->r_frame_rate;
    if (codecRate.num > 0 && codecRate.den > 0 && (codecRate.num != rate.num || codecRate.den != rate.den) &&
        Verbose > 0)
        Log(1, FormatText("Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) "
                          "-> %2.2f (%d/%d)",
                          streamIndex, av_q2d(codecRate), codecRate.num, codecRate.den, rate.den ? av_q2d(rate) : 0.0,
                          rate.num, rate.den));
    FrameRate = rate;
    if (VideoDisable)
        stream->discard = AVDISCARD_ALL;
    else if (VideoDiscard != 0)
        stream->discard = static_cast<AVDiscard>(VideoDiscard);
}

void TCustomFFmpeg::TakeInputAudioShape(AVStream *stream, AVCodecContext *decoder, bool first)
{
    const AVCodecParameters *parameters = stream->codecpar;
    ApplyGenericOptions(decoder, CodecDefaults[mkAudio].get(), AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
    // The first audio stream is the one an output converts unless told otherwise; a new input
    // takes back what was asked before it.
    if (first) {
        if (parameters->ch_layout.nb_channels > 0)
            AudioChannelsGiven = false;
        if (parameters->sample_rate > 0)
            AudioSampleRateGiven = false;
        AudioSampleFmtGiven = false;
        InheritAudioShape(*parameters);
    }
    if (AudioDisable)
        stream->discard = AVDISCARD_ALL;
}

void TCustomFFmpeg::InheritAudioShape(const AVCodecParameters &parameters)
{
    // A stream that does not tell its shape before decoding leaves the pending values.
    if (parameters.ch_layout.nb_channels > 0 && !AudioChannelsGiven)
        AudioChannels = parameters.ch_layout.nb_channels;
    if (parameters.sample_rate > 0 && !AudioSampleRateGiven)
        AudioSampleRate = parameters.sample_rate;
    if (AudioSampleFmtGiven)
        return;
    AudioSampleFmt = parameters.format;
    AudioSampleBits =
        parameters.bits_per_raw_sample > 0 ? parameters.bits_per_raw_sample : parameters.bits_per_coded_sample;
    if (const AVCodecDescriptor *codec = avcodec.avcodec_descriptor_get(parameters.codec_id))
        AudioSourceLossy = !(codec->props & AV_CODEC_PROP_LOSSLESS);
}

void TCustomFFmpeg::KeepInputFile(InputFormatContextPtr input, const std::string &fileName,
                                  std::vector<AVCodecContextPtr> decoders, int64_t timestamp, int64_t startTime)
{
    AVFormatContext *context = input.get();
    if (context->duration != AV_NOPTS_VALUE && context->duration / 1000 > TotalDuration)
        TotalDuration = static_cast<int32_t>(std::min<int64_t>(context->duration / 1000, INT32_MAX));

    const int index = InputFileCount;
    InputTsOffsets[index] = CopyTs ? InputTsOffset : InputTsOffset - timestamp;
    if (Verbose >= 0)
        avformat.av_dump_format(context, index, fileName.c_str(), 0);
    InputCodecs[index] = std::move(decoders);
    InputRateEmu[index] = RateEmu ? 1 : 0;
    InputStartTimes[index] = startTime;
    InputFiles[index] = std::move(input);
    ++InputFileCount;
}
