// Option lines and the keyword table.
#include "engine/FFmpeg.h"

#include "engine/AudioShape.h"
#include "engine/NumberText.h"
#include "engine/OptionValues.h"
#include "engine/Saturating.h"
#include "libs/AVEntryPoints.h"
#include "libs/TextFormat.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <limits>

using namespace avlib;

namespace {

using Handler = void (*)(TCustomFFmpeg &e, const std::string &name, const std::string &value);

struct Keyword {
    const char *name;
    Handler handler;
};

void DoNothing(TCustomFFmpeg &e, const std::string &name, const std::string &)
{
    if (e.LogCallback)
        e.Log(1, "Do nothing: option - " + name);
}

void Rejected(TCustomFFmpeg &, const std::string &name, const std::string &)
{
    throw FFMpegException("TODO: option - " + name);
}

template <auto Field>
void SetFlag(TCustomFFmpeg &e, const std::string &, const std::string &)
{
    e.*Field = 1;
}

template <auto Field>
void SetInt(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    e.*Field = StrToInt(value);
}

// A value the option cannot take is left out, and said to be.
void RejectValue(TCustomFFmpeg &e, const std::string &name, const std::string &value)
{
    e.RejectedOptions.push_back({name, value, false});
}

// "ar" and "ac": a shape asked for, which the encoder must take as it is. Past the largest any
// interface records (768 kHz) or the converters handle (64 channels) a value could only fill a disk.
template <auto Field, auto Given, int32_t Largest>
void SetAudioShape(TCustomFFmpeg &e, const std::string &name, const std::string &value)
{
    const int32_t v = StrToInt(value);
    if (v <= 0 || v > Largest)
        return RejectValue(e, name, value);
    e.*Field = v;
    e.*Given = true;
}

// A value that may not be negative: a negative volume would turn the sound into clipped noise, a
// negative size limit would end every output before its first packet.
template <auto Field, auto Parse>
void SetNotNegative(TCustomFFmpeg &e, const std::string &name, const std::string &value)
{
    const auto number = Parse(value);
    if (number >= 0)
        e.*Field = number;
    else
        RejectValue(e, name, value);
}

template <auto Field>
void SetFloat(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    const double number = StrToFloat(value);
    // Beyond the range of the field it would be infinite.
    if (std::fabs(number) > std::numeric_limits<float>::max())
        throw EConvertError(FormatText("'%s' is not a valid floating point value", value.c_str()));
    e.*Field = static_cast<float>(number);
}

template <auto Field>
void SetText(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    if (!value.empty())
        e.*Field = value;
}

template <auto Field>
void SetTextOrClear(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    e.*Field = value;
}

template <auto Field>
void SetCopy(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    e.*Field = value;
}

template <int Kind>
void SetMaxFrames(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    e.MaxFrames[Kind] = StrToInt(value);
}

// "image2" for the deprecated "pgmyuv", with the compatibility flag set.
std::string FormatName(TCustomFFmpeg &e, const std::string &value)
{
    if (value != "pgmyuv")
        return value;
    e.UsingPgmYuv = 1;
    e.Log(1, "pgmyuv format is deprecated, use image2");
    return "image2";
}

void Format(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    if (value.empty())
        return;
    const std::string name = FormatName(e, value);
    const AVInputFormat *input = avformat.av_find_input_format(name.c_str());
    const AVOutputFormat *output = avformat.av_guess_format(name.c_str(), nullptr, nullptr);
    if (!input && !output)
        throw FFMpegException(FormatText("Unknown input or output format: %s", value.c_str()));
    e.InputFormat = input;
    e.OutputFormat = output;
}

// A file or stream index of a map; one past any table stays past it rather than wrapping into it.
int32_t Index(const char *text, const char **end)
{
    return SaturatingCast<int32_t>(int64_t{LeadingInteger(text, end, 0)});
}

void StreamMap(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    // Writing past the table would corrupt the engine: refuse instead.
    if (e.StreamMapCount >= MAX_STREAM_MAPS)
        throw FFMpegException(FormatText("Too many stream maps (at most %d)", MAX_STREAM_MAPS));
    TStreamMap map;
    const char *p = value.c_str();
    map.FileIndex = Index(p, &p);
    if (*p)
        ++p;
    map.StreamIndex = Index(p, &p);
    if (*p) {
        ++p;
        map.SyncFileIndex = Index(p, &p);
        if (*p)
            ++p;
        map.SyncStreamIndex = Index(p, &p);
    } else {
        map.SyncFileIndex = map.FileIndex;
        map.SyncStreamIndex = map.StreamIndex;
    }
    e.StreamMaps[e.StreamMapCount++] = map;
}

void MetaDataMap(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    if (e.MetaDataMapCount >= MAX_META_DATA_MAPS)
        throw FFMpegException(FormatText("Too many meta data maps (at most %d)", MAX_META_DATA_MAPS));
    TMetaDataMap map;
    const char *p = value.c_str();
    map.OutFile = Index(p, &p);
    if (*p)
        ++p;
    map.InFile = Index(p, &p);
    e.MetaDataMaps[e.MetaDataMapCount++] = map;
}

// longest: the largest size a duration may have, in microseconds.
int64_t ParseTime(const std::string &keyword, const std::string &value, bool isDuration, int64_t longest = INT64_MAX)
{
    int64_t microseconds = 0;
    if (avutil.av_parse_time(&microseconds, value.c_str(), isDuration ? 1 : 0) < 0 || microseconds > longest ||
        microseconds < -longest)
        throw FFMpegException(FormatText("Invalid %s specification for %s: %s", isDuration ? "duration" : "date",
                                         keyword.c_str(), value.c_str()));
    return microseconds;
}

void RecordingTime(TCustomFFmpeg &e, const std::string &name, const std::string &value)
{
    // Under a millisecond there is nothing to convert; left out rather than taken as no limit.
    const int64_t milliseconds = ParseTime(name, value, true) / 1000;
    if (milliseconds <= 0)
        return RejectValue(e, name, value);
    e.SetRecordingTime(milliseconds);
}

// A time that moves timestamps: past some thirty years it could only make them overflow.
int64_t ParseTimeShift(const std::string &keyword, const std::string &value)
{
    return ParseTime(keyword, value, true, 1000000000000000);
}

void StartTime(TCustomFFmpeg &e, const std::string &name, const std::string &value)
{
    e.StartTime = ParseTimeShift(name, value);
}

void InputTsOffset(TCustomFFmpeg &e, const std::string &name, const std::string &value)
{
    e.InputTsOffset = ParseTimeShift(name, value);
}

void RecordingDate(TCustomFFmpeg &e, const std::string &name, const std::string &value)
{
    e.RecTimestamp = std::llround(static_cast<double>(ParseTime(name, value, false)) / 1000000.0);
}

void InputTsScale(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    const char *p = value.c_str();
    const long stream = LeadingInteger(p, &p, 0);
    if (*p)
        ++p;
    const double scale = LeadingFloat(p, nullptr);
    if (stream < 0 || stream >= MAX_STREAMS)
        throw FFMpegException(FormatText("stream index over MAX_STREAMS(%d)", MAX_STREAMS));
    // 0 leaves the stream unscaled; a negative or huge scale would turn its timestamps to garbage.
    if (scale < 0 || scale > 1000)
        throw FFMpegException(FormatText("Invalid timestamp scale %s", value.c_str()));
    if (e.InputFileCount >= MAX_FILES)
        throw FFMpegException(FormatText("Too many input files (at most %d)", MAX_FILES));
    e.InputTsScales[e.InputFileCount][stream] = scale;
}

void Verbosity(TCustomFFmpeg &e, const std::string &, const std::string &value) { e.SetVerbose(StrToInt(value)); }

void BitRate(TCustomFFmpeg &e, const std::string &name, const std::string &value)
{
    if (!e.SetCodecOption(name, value) || !e.LogCallback)
        return;
    AVCodecContext *context = e.CodecDefaults[name[0] == 'a' ? mkAudio : mkVideo].get();
    int64_t bitRate = 0;
    if (context && avutil.av_opt_get_int(context, "b", 0, &bitRate) >= 0 && bitRate < 1000)
        e.Log(1, "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

void FrameRate(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    if (value.empty())
        return;
    AVRational rate{0, 0};
    if (avutil.av_parse_video_rate(&rate, value.c_str()) < 0)
        throw FFMpegException("Incorrect frame rate");
    e.FrameRate = rate;
}

void FrameSize(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    if (value.empty())
        return;
    int width = 0, height = 0;
    if (avutil.av_parse_video_size(&width, &height, value.c_str()) < 0)
        throw FFMpegException("Incorrect frame size");
    e.FrameWidth = width;
    e.FrameHeight = height;
    if (width % 2 != 0 || height % 2 != 0)
        throw FFMpegException("Frame size must be a multiple of 2");
}

void AspectRatio(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    if (value.empty())
        return;
    const float ratio = ParseAspectRatio(value);
    if (ratio == 0.0f)
        throw FFMpegException("Incorrect aspect ratio specification.");
    e.FrameAspectRatio = ratio;
}

void LogFormatLines(TCustomFFmpeg &e, const std::vector<std::string> &lines)
{
    if (!e.LogCallback)
        return;
    for (const std::string &line : lines)
        e.Log(1, Trim(line));
}

void PixelFormat(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    if (value != "list") {
        e.FramePixFmt = avutil.av_get_pix_fmt(value.c_str());
        return;
    }
    std::vector<std::string> lines;
    char buffer[128];
    // The header line comes first, then every format the library knows.
    for (int code = -1; code < 0 || avutil.av_pix_fmt_desc_get(static_cast<AVPixelFormat>(code)); ++code)
        lines.emplace_back(avutil.av_get_pix_fmt_string(buffer, sizeof buffer, static_cast<AVPixelFormat>(code)));
    LogFormatLines(e, lines);
}

void SampleFormat(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    if (value != "list") {
        e.AudioSampleFmt = avutil.av_get_sample_fmt(value.c_str());
        e.AudioSampleBits = 0; // a format asked for is kept whole
        e.AudioSourceLossy = false;
        e.AudioSampleFmtGiven = true;
        return;
    }
    std::vector<std::string> lines;
    char buffer[128];
    for (int code = -1; code < 0 || avutil.av_get_sample_fmt_name(static_cast<AVSampleFormat>(code)); ++code)
        lines.emplace_back(avutil.av_get_sample_fmt_string(buffer, sizeof buffer, static_cast<AVSampleFormat>(code)));
    LogFormatLines(e, lines);
}

enum Side { Top, Bottom, Left, Right };
const char *const kSideNames[] = {"Top", "Bottom", "Left", "Right"};

template <Side S>
void Crop(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    const int32_t size = StrToInt(value);
    if (size < 0)
        return; // unset
    if (size % 2 != 0)
        throw FFMpegException(FormatText("%s crop size must be a multiple of 2", kSideNames[S]));
    if (S == Top || S == Bottom) {
        if (size >= e.FrameHeight)
            throw FFMpegException("Vertical crop dimensions are outside the range of the original image.\n"
                                  "Remember to crop first and scale second.");
        (S == Top ? e.CropTop : e.CropBottom) = size;
        e.FrameHeight -= size;
    } else {
        if (size >= e.FrameWidth)
            throw FFMpegException("Horizontal crop dimensions are outside the range of the original image.\n"
                                  "Remember to crop first and scale second.");
        (S == Left ? e.CropLeft : e.CropRight) = size;
        e.FrameWidth -= size;
    }
}

template <Side S>
void Pad(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    const int32_t size = StrToInt(value);
    if (size < 0)
        return; // unset
    if (size % 2 != 0)
        throw FFMpegException(FormatText("%s pad size must be a multiple of 2", kSideNames[S]));
    int32_t *fields[] = {&e.PadTop, &e.PadBottom, &e.PadLeft, &e.PadRight};
    *fields[S] = size;
}

void PadColor(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    e.PadColor = RgbToYuv(StrToInt(value));
}

void VideoQuantiser(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    const double q = StrToFloat(value);
    if (!(q > 0.0 && q <= 255.0))
        throw FFMpegException("qscale must be > 0.0 and <= 255");
    e.VideoQScale = static_cast<float>(q);
}

template <auto Name, auto Copy>
void CodecName(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    if (value.empty())
        return;
    (e.*Name).reset();
    if (value == "copy")
        e.*Copy = 1;
    else
        e.*Name = value;
}

template <auto Field>
void Tag(TCustomFFmpeg &e, const std::string &name, const std::string &value)
{
    if (value.empty())
        return;
    if (value.size() != 4)
        throw EAssertionFailed(name[0] == 'v' ? "video tag parameter must be 4 chars"
                                              : "audio tag parameter must be 4 chars");
    e.*Field = FourCharTag(value);
}

void Pass(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    const int32_t pass = StrToInt(value);
    if (pass != 1 && pass != 2)
        throw FFMpegException("pass number can be only 1 or 2");
    e.DoPass = pass;
}

void VideoStatistics(TCustomFFmpeg &e, const std::string &, const std::string &)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char clock[16];
    std::strftime(clock, sizeof clock, "%H%M%S", &local);
    std::string folder = ExecutableDir();
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    e.VstatsFileName = FormatText("%svstats_%s.log", folder.c_str(), clock);
}

void VideoHook(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    std::vector<char *> argv = SplitHookCommandLine(value);
    const int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);
    if (e.VhookList.AddHook(argc, argv.data()) != 0)
        throw FFMpegException("Failed to add video hook function: " + value);
    e.UsingVhook = 1;
}

template <auto Field>
void Matrix(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    // The new table replaces the previous one at once, also when the text proves too short.
    auto &matrix = (e.*Field).emplace();
    matrix.fill(0);
    int lastIndex = 0;
    if (!ParseMatrix(value, matrix, lastIndex))
        throw FFMpegException(FormatText("Syntax error in matrix \"%s\" at coeff %d", value.c_str(), lastIndex));
}

template <auto Chain>
void BitstreamFilter(TCustomFFmpeg &e, const std::string &, const std::string &value)
{
    if (value.empty() || value[0] == '=')
        return;
    const std::string name = value.substr(0, value.find('='));
    const AVBitStreamFilter *filter = avcodec.av_bsf_get_by_name(name.c_str());
    if (!filter)
        throw FFMpegException(FormatText("Unknown bitstream filter %s", Trim(value).c_str()));
    (e.*Chain).push_back(filter);
}

using E = TCustomFFmpeg;

void Target(TCustomFFmpeg &e, const std::string &, const std::string &value) { e.SetTargetOption(value); }

template <void (TCustomFFmpeg::*Make)(AVFormatContext *, int)>
void ExtraStream(TCustomFFmpeg &e, const std::string &, const std::string &)
{
    if (e.OutputFileCount <= 0)
        throw FFMpegException("At least one output file must be specified");
    const int last = e.OutputFileCount - 1;
    (e.*Make)(e.OutputFiles[last].get(), last);
}

// In the order the keywords are compared.
const Keyword kKeywords[] = {
    {"L", DoNothing},
    {"h", DoNothing},
    {"version", DoNothing},
    {"formats", DoNothing},
    {"f", Format},
    {"i", DoNothing},
    {"y", DoNothing},
    {"map", StreamMap},
    {"map_meta_data", MetaDataMap},
    {"t", RecordingTime},
    {"fs", SetNotNegative<&E::LimitFileSize, StrToInt64>},
    {"ss", StartTime},
    {"itsoffset", InputTsOffset},
    {"itsscale", InputTsScale},
    {"title", SetText<&E::Title>},
    {"timestamp", RecordingDate},
    {"author", SetText<&E::Author>},
    {"copyright", SetText<&E::Copyright>},
    {"comment", SetText<&E::Comment>},
    {"genre", SetText<&E::Genre>},
    {"album", SetText<&E::Album>},
    {"dframes", SetMaxFrames<mkData>},
    {"benchmark", DoNothing},
    {"dump", SetFlag<&E::PktDump>},
    {"hex", SetFlag<&E::HexDump>},
    {"re", SetFlag<&E::RateEmu>},
    {"loop_input", SetFlag<&E::LoopInput>},
    {"loop_output", SetInt<&E::LoopOutput>},
    {"v", Verbosity},
    {"target", Target},
    {"threads", Rejected},
    {"vsync", SetInt<&E::VideoSyncMethod>},
    {"async", SetInt<&E::AudioSyncMethod>},
    {"adrift_threshold", SetFloat<&E::AudioDriftThreshold>},
    {"vglobal", SetInt<&E::VideoGlobalHeader>},
    {"copyts", SetFlag<&E::CopyTs>},
    {"shortest", SetFlag<&E::Shortest>},
    {"dts_delta_threshold", SetFloat<&E::DtsDeltaThreshold>},
    {"programid", SetInt<&E::ProgramId>},
    {"xerror", SetFlag<&E::ExitOnError>},
    {"b", BitRate},
    {"vb", BitRate},
    {"vframes", SetMaxFrames<mkVideo>},
    {"r", FrameRate},
    {"s", FrameSize},
    {"aspect", AspectRatio},
    {"pix_fmt", PixelFormat},
    {"croptop", Crop<Top>},
    {"cropbottom", Crop<Bottom>},
    {"cropleft", Crop<Left>},
    {"cropright", Crop<Right>},
    {"padtop", Pad<Top>},
    {"padbottom", Pad<Bottom>},
    {"padleft", Pad<Left>},
    {"padright", Pad<Right>},
    {"padcolor", PadColor},
    {"intra", SetFlag<&E::IntraOnly>},
    {"vn", SetFlag<&E::VideoDisable>},
    {"vdt", SetInt<&E::VideoDiscard>},
    {"qscale", VideoQuantiser},
    {"rc_override", SetCopy<&E::VideoRcOverride>},
    {"vcodec", CodecName<&E::VideoCodecName, &E::VideoStreamCopy>},
    {"me_threshold", SetInt<&E::MeThreshold>},
    {"sameq", SetFlag<&E::SameQuality>},
    {"pass", Pass},
    {"passlogfile", SetTextOrClear<&E::PassLogFilePrefix>},
    {"deinterlace", SetFlag<&E::Deinterlace>},
    {"psnr", SetFlag<&E::DoPsnr>},
    {"vstats", VideoStatistics},
    {"vstats_file", SetCopy<&E::VstatsFileName>},
    {"vhook", VideoHook},
    {"vfilters", SetText<&E::VideoFilters>},
    {"intra_matrix", Matrix<&E::IntraMatrix>},
    {"inter_matrix", Matrix<&E::InterMatrix>},
    {"top", SetInt<&E::TopFieldFirst>},
    {"dc", SetInt<&E::IntraDcPrecision>},
    {"vtag", Tag<&E::VideoCodecTag>},
    {"newvideo", ExtraStream<&E::NewVideoStream>},
    {"qphist", SetFlag<&E::QpHist>},
    {"ab", BitRate},
    {"aframes", SetMaxFrames<mkAudio>},
    {"aq", SetFloat<&E::AudioQScale>},
    {"ar", SetAudioShape<&E::AudioSampleRate, &E::AudioSampleRateGiven, audio_shape::kLargestSampleRate>},
    {"ac", SetAudioShape<&E::AudioChannels, &E::AudioChannelsGiven, 64>},
    {"an", SetFlag<&E::AudioDisable>},
    {"acodec", CodecName<&E::AudioCodecName, &E::AudioStreamCopy>},
    {"atag", Tag<&E::AudioCodecTag>},
    {"vol", SetNotNegative<&E::AudioVolume, StrToInt>},
    {"newaudio", ExtraStream<&E::NewAudioStream>},
    {"alang", SetTextOrClear<&E::AudioLanguage>},
    {"sample_fmt", SampleFormat},
    {"sn", SetFlag<&E::SubtitleDisable>},
    {"scodec", CodecName<&E::SubtitleCodecName, &E::SubtitleStreamCopy>},
    {"newsubtitle", ExtraStream<&E::NewSubtitleStream>},
    {"slang", SetTextOrClear<&E::SubtitleLanguage>},
    {"vc", SetInt<&E::VideoChannel>},
    {"tvstd", SetCopy<&E::VideoStandard>},
    {"isync", SetFlag<&E::InputSync>},
    {"muxdelay", SetFloat<&E::MuxMaxDelay>},
    {"muxpreload", SetFloat<&E::MuxPreload>},
    {"absf", BitstreamFilter<&E::AudioBitstreamFilters>},
    {"vbsf", BitstreamFilter<&E::VideoBitstreamFilters>},
    {"sbsf", BitstreamFilter<&E::SubtitleBitstreamFilters>},
    {"apre", DoNothing},
    {"vpre", DoNothing},
    {"spre", DoNothing},
};

} // namespace

void TCustomFFmpeg::ParseOptionLines(const std::string &text)
{
    std::string lines;
    const std::string trimmed = Trim(text);
    lines.reserve(trimmed.size());
    for (size_t i = 0; i < trimmed.size(); ++i) {
        if (trimmed[i] == '\r') {
            lines += '\n';
            if (i + 1 < trimmed.size() && trimmed[i + 1] == '\n')
                ++i;
        } else {
            lines += trimmed[i];
        }
    }
    size_t start = 0;
    while (start < lines.size()) {
        size_t end = lines.find('\n', start);
        if (end == std::string::npos)
            end = lines.size();
        const std::string line = lines.substr(start, end - start);
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            SetOption(line, "");
        else
            SetOption(line.substr(0, equals), line.substr(equals + 1));
        start = end + 1;
    }
}

void TCustomFFmpeg::SetOption(const std::string &name, const std::string &value)
{
    for (const Keyword &keyword : kKeywords) {
        if (name == keyword.name) {
            keyword.handler(*this, name, value);
            return;
        }
    }
    SetCodecOption(name, value);
}

void TCustomFFmpeg::SetAudioVolume(int32_t volume)
{
    if (volume >= 0)
        AudioVolume = volume;
}

void TCustomFFmpeg::SetAudioSyncMethod(int32_t method) { AudioSyncMethod = method; }

void TCustomFFmpeg::SetVideoSyncMethod(int32_t method) { VideoSyncMethod = method; }

void TCustomFFmpeg::SetMuxMaxDelay(float seconds)
{
    if (seconds > 0)
        MuxMaxDelay = seconds;
}

void TCustomFFmpeg::SetMuxPreload(float seconds)
{
    if (seconds > 0)
        MuxPreload = seconds;
}

void TCustomFFmpeg::SetStartTime(int64_t microseconds)
{
    if (microseconds > 0)
        StartTime = microseconds;
}

void TCustomFFmpeg::SetProgramId(int32_t id)
{
    if (id >= 0)
        ProgramId = id;
}

void TCustomFFmpeg::SetYear(int32_t year)
{
    if (year > 0)
        Year = year;
}

void TCustomFFmpeg::SetTrack(int32_t track)
{
    if (track > 0)
        Track = track;
}

void TCustomFFmpeg::SetTitle(const std::string &text) { SetText<&E::Title>(*this, {}, text); }

void TCustomFFmpeg::SetAuthor(const std::string &text) { SetText<&E::Author>(*this, {}, text); }

void TCustomFFmpeg::SetCopyright(const std::string &text) { SetText<&E::Copyright>(*this, {}, text); }

void TCustomFFmpeg::SetComment(const std::string &text) { SetText<&E::Comment>(*this, {}, text); }

void TCustomFFmpeg::SetGenre(const std::string &text) { SetText<&E::Genre>(*this, {}, text); }

void TCustomFFmpeg::SetAlbum(const std::string &text) { SetText<&E::Album>(*this, {}, text); }

void TCustomFFmpeg::SetRecordingTime(int64_t milliseconds)
{
    if (milliseconds <= 0)
        return;
    RecordingTime = milliseconds * 1000;
    // The progress total is 32-bit; a longer limit still limits, the total saturates.
    TotalDuration = static_cast<int32_t>(std::min<int64_t>(milliseconds, INT32_MAX));
}

void TCustomFFmpeg::SetInputFormat(const std::string &name)
{
    const std::string format = FormatName(*this, name);
    const AVInputFormat *found = avformat.av_find_input_format(format.c_str());
    if (!found)
        throw FFMpegException(FormatText("Unknown input format: %s", name.c_str()));
    InputFormat = found;
}

void TCustomFFmpeg::SetOutputFormat(const std::string &name)
{
    const std::string format = FormatName(*this, name);
    const AVOutputFormat *found = avformat.av_guess_format(format.c_str(), nullptr, nullptr);
    if (!found)
        throw FFMpegException(FormatText("Unknown output format: %s", name.c_str()));
    OutputFormat = found;
}
