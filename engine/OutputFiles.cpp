// Creating an output file: checks, muxer, streams, meta data, and the file opened for writing.
#include "engine/FFmpeg.h"

#include "engine/Saturating.h"
#include "engine/ScopeExit.h"
#include "libs/AVEntryPoints.h"
#include "libs/LocalFile.h"
#include "libs/MediaUrl.h"
#include "libs/OpenError.h"
#include "libs/TextFormat.h"

#include <algorithm>
#include <cctype>
#include <ctime>

using namespace avlib;

namespace {

// True when one of the chain's filters changes the picture size.
bool FiltersResizeFrames(const std::string &filters)
{
    size_t start = 0;
    while (start <= filters.size()) {
        size_t end = filters.find(',', start);
        if (end == std::string::npos)
            end = filters.size();
        std::string name = filters.substr(start, end - start);
        name = name.substr(0, name.find('='));
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        if (std::string(",crop,rotate,scale,transpose,").find("," + name + ",") != std::string::npos)
            return true;
        start = end + 1;
    }
    return false;
}

void SetTag(AVDictionary **metadata, const char *key, const std::string &value, size_t maxLength)
{
    if (!value.empty())
        avutil.av_dict_set(metadata, key, value.substr(0, maxLength).c_str(), 0);
}

// The muxer's video codec for a new video stream. Audio formats that name a still-image codec
// do so for cover art only: such a codec makes no video stream of its own.
AVCodecID DefaultVideoCodec(const AVOutputFormat *format)
{
    const AVCodecID id = format->video_codec;
    const bool stillImage = id == AV_CODEC_ID_PNG || id == AV_CODEC_ID_MJPEG || id == AV_CODEC_ID_BMP ||
                            id == AV_CODEC_ID_GIF || id == AV_CODEC_ID_TIFF;
    return stillImage && format->audio_codec != AV_CODEC_ID_NONE ? AV_CODEC_ID_NONE : id;
}

std::string IsoTime(int64_t secondsSince1970)
{
    const std::time_t time = static_cast<std::time_t>(secondsSince1970);
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &parts);
    return text;
}

// The sample rate all streams share when all are sound, else 0.
int SoundOnlyRate(const std::vector<TOutputStreamCodec> &streams)
{
    int rate = 0;
    for (const TOutputStreamCodec &stream : streams) {
        const AVCodecContext *codec = stream.Context.get();
        if (!codec || codec->codec_type != AVMEDIA_TYPE_AUDIO || codec->sample_rate <= 0 ||
            (rate != 0 && codec->sample_rate != rate))
            return 0;
        rate = codec->sample_rate;
    }
    return rate;
}

} // namespace

bool TCustomFFmpeg::AddOutputFile(const std::string &fileName)
{
    ScopeExit clearPending([this] {
        OutputFormat = nullptr;
        InputFormat = nullptr;
    });

    const auto fail = [this](const std::string &message) {
        LastErrorText = message;
        return false;
    };
    if (!CheckNewOutput(fileName))
        return false;

    AVFormatContext *raw = nullptr;
    if (avformat.avformat_alloc_output_context2(&raw, OutputFormat, nullptr, fileName.c_str()) < 0 || !raw)
        return fail(FormatText("Unable to find a suitable output format for '%s'", fileName.c_str()));
    OutputFormatContextPtr output(raw);
    const AVOutputFormat *format = output->oformat;
    const int fileIndex = OutputFileCount;
    OutputCodecs[fileIndex].clear();
    // Whatever fails below, no stream settings of the half-built output stay behind.
    ScopeExit dropStreams([this, fileIndex] {
        OutputCodecs[fileIndex].clear();
        for (auto &chain : BitstreamFilters[fileIndex])
            chain.clear();
    });

    TOutputKinds kinds;
    if (!ChooseOutputKinds(format, kinds) || !AddOutputStreams(output.get(), fileIndex, kinds))
        return false;
    SetOutputMetadata(output.get());

    if ((format->flags & AVFMT_NEEDNUMBER) && !avformat.av_filename_number_test(fileName.c_str()))
        return fail(PrintOpenError(fileName, AVERROR(EDOM)));

    ApplyMuxerOptions(output.get(), fileIndex);
    NoteOptionsOutputLeavesOut(output.get(), fileIndex);

    OutputOpenedByName[fileIndex] = false;
    if (!(format->flags & AVFMT_NOFILE) && !OutputOpening) {
        if (!OpenOutputFile(output.get(), fileName))
            return fail(LastErrorText);
        OutputOpenedByName[fileIndex] = true;
    }

    dropStreams.Dismiss();
    OutputFiles[fileIndex] = std::move(output);
    ++OutputFileCount;
    return true;
}

bool TCustomFFmpeg::CheckNewOutput(const std::string &fileName)
{
    const auto fail = [this](const std::string &message) {
        LastErrorText = message;
        return false;
    };
    if (!VideoFilters.empty() && (CropTop || CropBottom || CropLeft || CropRight))
        return fail("Cannot enable crop options and filters at the same time.");
    if (FiltersResizeFrames(VideoFilters) && PadTop + PadBottom + PadLeft + PadRight != 0)
        return fail("Cannot enable pad options and the filters which resize frame at the same time. (crop, rotate, "
                    "scale, transpose, etc.)");
    UseVideoFilters = VideoFilters.empty() ? 0 : 1;
    if (OutputFileCount >= MAX_FILES)
        return fail(FormatText("Too many output files (at most %d)", MAX_FILES));
    // Opening the output empties it: it must not be one of the files being read, under any of the
    // addresses the libraries read as a local file ("file:", links, the parts of "concat:" and "tee:").
    for (int i = 0; i < InputFileCount; ++i) {
        if (InputFiles[i]->url && SameLocalFile(MediaUrl(fileName), InputFiles[i]->url))
            return fail(
                FormatText("Output file '%s' would overwrite input file '%s'", fileName.c_str(), InputFiles[i]->url));
    }
    return true;
}

bool TCustomFFmpeg::ChooseOutputKinds(const AVOutputFormat *format, TOutputKinds &kinds)
{
    kinds.Video = VideoStreamCopy || DefaultVideoCodec(format) != AV_CODEC_ID_NONE || VideoCodecName;
    kinds.Audio = AudioStreamCopy || format->audio_codec != AV_CODEC_ID_NONE || AudioCodecName;
    kinds.Subtitle = SubtitleStreamCopy || format->subtitle_codec != AV_CODEC_ID_NONE || SubtitleCodecName;
    if (InputFileCount == 0)
        return true;
    bool hasVideo = false, hasAudio = false, hasSubtitle = false;
    for (int i = 0; i < InputFileCount; ++i) {
        for (unsigned s = 0; s < InputFiles[i]->nb_streams; ++s) {
            const AVStream *stream = InputFiles[i]->streams[s];
            switch (stream->codecpar->codec_type) {
            case AVMEDIA_TYPE_VIDEO:
                // A cover picture of a sound file is no video to encode.
                hasVideo = hasVideo || !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC);
                break;
            case AVMEDIA_TYPE_AUDIO:
                hasAudio = true;
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                hasSubtitle = true;
                break;
            case AVMEDIA_TYPE_DATA:
            case AVMEDIA_TYPE_ATTACHMENT:
            case AVMEDIA_TYPE_UNKNOWN:
                break;
            default:
                LastErrorText = "check_audio_video_sub_inputs fail: invalid codec_type of input file";
                return false;
            }
        }
    }
    kinds.Video = kinds.Video && hasVideo;
    kinds.Audio = kinds.Audio && hasAudio;
    kinds.Subtitle = kinds.Subtitle && hasSubtitle;
    return true;
}

bool TCustomFFmpeg::AddOutputStreams(AVFormatContext *output, int fileIndex, const TOutputKinds &kinds)
{
    // The disable options apply to this output only.
    const bool videoDisabled = VideoDisable != 0;
    const bool audioDisabled = AudioDisable != 0;
    const bool subtitleDisabled = SubtitleDisable != 0;
    VideoDisable = AudioDisable = SubtitleDisable = 0;
    const auto makeStream = [&](const char *what, void (TCustomFFmpeg::*make)(AVFormatContext *, int)) {
        try {
            (this->*make)(output, fileIndex);
            return true;
        } catch (const std::exception &e) {
            LastErrorText = FormatText("%s fail: %s", what, e.what());
            return false;
        }
    };
    if (!videoDisabled && kinds.Video && !makeStream("new_video_stream", &TCustomFFmpeg::NewVideoStream))
        return false;
    if (!audioDisabled && kinds.Audio && !makeStream("new_audio_stream", &TCustomFFmpeg::NewAudioStream))
        return false;
    if (!subtitleDisabled && kinds.Subtitle && !makeStream("new_subtitle_stream", &TCustomFFmpeg::NewSubtitleStream))
        return false;
    return true;
}

void TCustomFFmpeg::SetOutputMetadata(AVFormatContext *output) const
{
    SetTag(&output->metadata, "title", Title, 511);
    SetTag(&output->metadata, "artist", Author, 511);
    SetTag(&output->metadata, "copyright", Copyright, 511);
    SetTag(&output->metadata, "comment", Comment, 511);
    SetTag(&output->metadata, "album", Album, 511);
    if (Year > 0)
        SetTag(&output->metadata, "date", std::to_string(Year), 511);
    if (Track > 0)
        SetTag(&output->metadata, "track", std::to_string(Track), 511);
    SetTag(&output->metadata, "genre", Genre, 31);
    if (RecTimestamp != 0)
        SetTag(&output->metadata, "creation_time", IsoTime(RecTimestamp), 63);
}

bool TCustomFFmpeg::OpenOutputFile(AVFormatContext *output, const std::string &fileName)
{
    // No stop interrupt here: after a stop the trailer must still be written.
    const int opened = avformat.avio_open2(&output->pb, MediaUrl(fileName).c_str(), AVIO_FLAG_WRITE, nullptr, nullptr);
    if (opened >= 0)
        return true;
    LastErrorText = FormatText("Could not open '%s': %s", fileName.c_str(), LibraryErrorText(opened).c_str());
    return false;
}

void TCustomFFmpeg::OpenDeferredOutputs()
{
    for (int f = 0; f < OutputFileCount; ++f) {
        AVFormatContext *output = OutputFiles[f].get();
        if (output->pb || (output->oformat->flags & AVFMT_NOFILE) || !OutputOpening)
            continue;
        const std::string name = output->url ? output->url : "";
        if (!OpenOutputFile(output, OutputOpening(f, name)))
            throw FFMpegException(LastErrorText);
    }
}

void TCustomFFmpeg::ApplyMuxerOptions(AVFormatContext *output, int fileIndex)
{
    output->max_delay = SaturatingCast<int>(MuxMaxDelay * 1000000.0);
    // Muxer options of their own: a muxer without one, or refusing its value, leaves it alone, as
    // with any option value the libraries refuse.
    avutil.av_opt_set_int(output, "preload", SaturatingCast<int64_t>(MuxPreload * 1000000.0), AV_OPT_SEARCH_CHILDREN);
    avutil.av_opt_set_int(output, "loop", LoopOutput, AV_OPT_SEARCH_CHILDREN);
    // A WAV past 4 GiB has to switch to the 64-bit form, or its size fields wrap and readers stop early.
    avutil.av_opt_set(output, "rf64", "auto", AV_OPT_SEARCH_CHILDREN);
    // An MP4's edit list, which cuts the encoder's delay and padding off, counts in the movie's time
    // units: in samples of a sound file it is exact, in the default milliseconds its end rounds up.
    if (const int rate = SoundOnlyRate(OutputCodecs[fileIndex]); rate > 0)
        avutil.av_opt_set_int(output, "movie_timescale", rate, AV_OPT_SEARCH_CHILDREN);
    ApplyGenericOptions(output, FormatDefaults.get(), AV_OPT_FLAG_ENCODING_PARAM);
    for (const auto &[name, value] : MuxerOptions)
        avutil.av_opt_set(output, name.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN);
}
