// What the probe tells about the open input: format and stream records, and the information text.
#include "probe/AVProbe.h"

#include "libs/AVEntryPoints.h"
#include "libs/AVLibLoader.h"
#include "libs/TextFormat.h"

#include <cinttypes>
#include <cstdlib>
#include <ctime>
#include <filesystem>

using namespace avlib;

namespace {

void LogLine(int level, const char *text)
{
    if (UnitLoaded(Unit::AVUtil))
        avutil.av_log(nullptr, level, "%s", text);
}

std::string Tag(AVDictionary *metadata, const char *key, size_t maxLength)
{
    const AVDictionaryEntry *entry = avutil.av_dict_get(metadata, key, nullptr, 0);
    if (!entry || !entry->value)
        return {};
    std::string value = entry->value;
    if (value.size() > maxLength)
        value.resize(maxLength);
    return value;
}

std::string TrimBlanks(const std::string &text)
{
    const size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Leading number of a tag such as "2009-06-01" or "3/12"; 0 without one.
int32_t NumericTag(AVDictionary *metadata, const char *key)
{
    const AVDictionaryEntry *entry = avutil.av_dict_get(metadata, key, nullptr, 0);
    return entry && entry->value ? static_cast<int32_t>(std::strtol(entry->value, nullptr, 10)) : 0;
}

// "12.345678" (seconds with six decimals) of a time in microseconds; a negative time keeps its sign.
std::string SecondsText(int64_t microseconds)
{
    const char *sign = microseconds < 0 ? "-" : "";
    const uint64_t magnitude = microseconds < 0 ? 0 - static_cast<uint64_t>(microseconds) : microseconds;
    return FormatText("%s%" PRIu64 ".%.6" PRIu64, sign, magnitude / 1000000, magnitude % 1000000);
}

// The time-zone offset of local standard time (no daylight saving), in seconds east of UTC.
long StandardOffsetSeconds()
{
    tzset();
    return -timezone;
}

} // namespace

void TAVProbe::GetFormatInfo(TAVFormatInfo &info) const
{
    info = TAVFormatInfo{};
    if (!FormatContext_) {
        info.StartTime = info.Duration = info.Timestamp = -1;
        info.BitRate = info.Year = info.Track = -1;
        LogLine(AV_LOG_INFO, "file not loaded.\n");
        return;
    }
    AVDictionary *metadata = FormatContext_->metadata;
    info.StartTime = FormatContext_->start_time;
    info.Duration = FormatContext_->duration;
    info.BitRate = static_cast<int32_t>(FormatContext_->bit_rate);
    if (const AVDictionaryEntry *created = avutil.av_dict_get(metadata, "creation_time", nullptr, 0)) {
        int64_t microseconds = 0;
        if (avutil.av_parse_time(&microseconds, created->value, 0) >= 0)
            info.Timestamp = microseconds / 1000000;
    }
    info.Title = Tag(metadata, "title", 511);
    info.Author = Tag(metadata, "artist", 511);
    if (info.Author.empty())
        info.Author = Tag(metadata, "author", 511);
    info.Copyright = Tag(metadata, "copyright", 511);
    info.Comment = Tag(metadata, "comment", 511);
    info.Album = Tag(metadata, "album", 511);
    info.Year = NumericTag(metadata, "date");
    if (info.Year == 0)
        info.Year = NumericTag(metadata, "year");
    info.Track = NumericTag(metadata, "track");
    info.Genre = Tag(metadata, "genre", 31);
}

void TAVProbe::GetStreamInfo(int streamIndex, TAVStreamInfo &info) const
{
    info = TAVStreamInfo{};
    if (!FormatContext_) {
        LogLine(AV_LOG_INFO, "file not loaded.\n");
        return;
    }
    int index = streamIndex;
    if (index < 0) {
        index = FirstVideo;
        if (index < 0) {
            LogLine(AV_LOG_ERROR, "no video stream.\n");
            return;
        }
    } else if (index >= StreamCount) {
        LogLine(AV_LOG_ERROR, FormatText("stream index #%d is invalid.\n", index).c_str());
        return;
    }
    const AVStream *stream = FormatContext_->streams[index];
    const AVCodecParameters *codec = stream->codecpar;
    if (codec->codec_type != AVMEDIA_TYPE_VIDEO) {
        LogLine(AV_LOG_ERROR, FormatText("stream #%d is not video stream.\n", index).c_str());
        return;
    }
    info.Language = Tag(stream->metadata, "language", 3);
    info.CodecName = avcodec.avcodec_get_name(codec->codec_id);
    if (info.CodecName.size() > 31)
        info.CodecName.resize(31);
    const AVRational microsecond{1, 1000000};
    info.StartTime = stream->start_time;
    if (stream->start_time != AV_NOPTS_VALUE)
        info.StartTimeUS = avutil.av_rescale_q(stream->start_time, stream->time_base, microsecond);
    info.Duration = stream->duration;
    if (stream->duration != AV_NOPTS_VALUE)
        info.DurationUS = avutil.av_rescale_q(stream->duration, stream->time_base, microsecond);
    info.BitRate = static_cast<int32_t>(codec->bit_rate);
    info.Height = codec->height;
    info.Width = codec->width;
    info.PixelFormat = codec->format;
    info.AspectRatio = codec->height > 0
                           ? static_cast<float>(av_q2d(codec->sample_aspect_ratio) * codec->width / codec->height)
                           : 0.0f;
    info.FrameRateNum = stream->r_frame_rate.num;
    info.FrameRateDen = stream->r_frame_rate.den;
}

std::string TAVProbe::FileName() const
{
    if (!FormatContext_) {
        LogLine(AV_LOG_INFO, "file not loaded.\n");
        return {};
    }
    std::string name = FormatContext_->url ? FormatContext_->url : "";
    if (name.size() > 1024)
        name.resize(1024);
    return name;
}

std::string TAVProbe::FormatName() const
{
    if (!FormatContext_) {
        LogLine(AV_LOG_INFO, "file not loaded.\n");
        return {};
    }
    return FormatContext_->iformat ? FormatContext_->iformat->name : "";
}

int64_t TAVProbe::SizeOnDisk() const
{
    if (!FormatContext_->url)
        return -1;
    std::error_code ec;
    const auto size = std::filesystem::file_size(FormatContext_->url, ec);
    return ec ? -1 : static_cast<int64_t>(size);
}

int64_t TAVProbe::FileSize() const
{
    if (!FormatContext_) {
        LogLine(AV_LOG_INFO, "file not loaded.\n");
        return -1;
    }
    const int64_t reported = FormatContext_->pb ? avformat.avio_size(FormatContext_->pb) : 0;
    if (reported > 0)
        return reported;
    std::error_code ec;
    if (FormatContext_->url && std::filesystem::exists(FormatContext_->url, ec))
        return SizeOnDisk();
    return reported;
}

std::string TAVProbe::StreamLine(int index) const
{
    const AVStream *stream = FormatContext_->streams[index];
    std::string line = FormatText("Stream #%d", index);
    if (FormatContext_->iformat && (FormatContext_->iformat->flags & AVFMT_SHOW_IDS))
        line += FormatText("[0x%x]", stream->id);
    const std::string language = TrimBlanks(Tag(stream->metadata, "language", 3));
    if (!language.empty())
        line += "(" + language + ")";
    const int gcd = static_cast<int>(avutil.av_gcd(stream->time_base.num, stream->time_base.den));
    line += FormatText(", %d/%d", gcd ? stream->time_base.num / gcd : stream->time_base.num,
                       gcd ? stream->time_base.den / gcd : stream->time_base.den);

    AVCodecContextPtr codec(avcodec.avcodec_alloc_context3(nullptr));
    char description[256] = "";
    if (codec && avcodec.avcodec_parameters_to_context(codec.get(), stream->codecpar) >= 0)
        avcodec.avcodec_string(description, sizeof description, codec.get(), 0);
    line += std::string(": ") + description;

    if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        if (stream->r_frame_rate.num && stream->r_frame_rate.den)
            line += FormatText(", %5.2f tb(r)", av_q2d(stream->r_frame_rate));
        else if (codec && codec->time_base.num > 0 && codec->time_base.den > 0)
            line += FormatText(", %5.2f tb(c)", 1.0 / av_q2d(codec->time_base));
        else // the parameters carry no codec time base: the average rate stands in
            line += FormatText(", %5.2f tb(c)", av_q2d(stream->avg_frame_rate));
    }
    const AVRational microsecond{1, 1000000};
    if (stream->start_time != AV_NOPTS_VALUE)
        line += ", StartTime: " + SecondsText(avutil.av_rescale_q(stream->start_time, stream->time_base, microsecond));
    if (stream->duration == AV_NOPTS_VALUE)
        line += ", Duration: N/A";
    else
        line += ", Duration: " + FormatDuration(avutil.av_rescale_q(stream->duration, stream->time_base, microsecond));
    return line;
}

std::string TAVProbe::GetInfoText() const
{
    if (!FormatContext_) {
        LogLine(AV_LOG_INFO, "file not loaded.\n");
        return {};
    }
    const AVFormatContext *context = FormatContext_;
    std::vector<std::string> lines;
    lines.push_back("File Name: " + std::string(context->url ? context->url : ""));
    if (context->iformat) {
        lines.push_back(FormatText("Format Name: %s", context->iformat->name));
        lines.push_back(
            FormatText("Format Long Name: %s", context->iformat->long_name ? context->iformat->long_name : ""));
    }
    int64_t size = context->pb ? avformat.avio_size(context->pb) : 0;
    std::error_code ec;
    if (size <= 0 && context->url && std::filesystem::exists(context->url, ec))
        size = SizeOnDisk();
    lines.push_back("File Size: " + FormatFileSize(size));

    TAVFormatInfo info;
    GetFormatInfo(info);
    if (info.StartTime != AV_NOPTS_VALUE)
        lines.push_back("StartTime: " + SecondsText(info.StartTime));
    lines.push_back(info.Duration == AV_NOPTS_VALUE ? "Duration: N/A" : "Duration: " + FormatDuration(info.Duration));
    lines.push_back(info.BitRate < 1 ? "Bit Rate: N/A" : FormatText("Bit Rate: %d Kbps", info.BitRate / 1000));
    if (info.Timestamp > 0) {
        const std::time_t local = static_cast<std::time_t>(info.Timestamp + StandardOffsetSeconds());
        std::tm parts{};
        gmtime_r(&local, &parts);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
        lines.push_back(std::string("Time Stamp: ") + text);
    }
    const std::pair<const char *, const std::string *> texts[] = {
        {"Title: ", &info.Title},     {"Author: ", &info.Author}, {"Copyright: ", &info.Copyright},
        {"Comment: ", &info.Comment}, {"Album: ", &info.Album},   {"Genre: ", &info.Genre},
    };
    for (const auto &[label, text] : texts)
        if (!text->empty())
            lines.push_back(label + *text);
    if (info.Year > 0)
        lines.push_back(FormatText("Year: %d", info.Year));
    if (info.Track > 0)
        lines.push_back(FormatText("Track: #%d", info.Track));

    if (context->nb_programs == 0) {
        for (unsigned i = 0; i < context->nb_streams; ++i)
            lines.push_back(StreamLine(static_cast<int>(i)));
    } else {
        for (unsigned p = 0; p < context->nb_programs; ++p) {
            const AVProgram *program = context->programs[p];
            std::string name = Tag(program->metadata, "service_name", 255);
            if (name.empty())
                name = Tag(program->metadata, "name", 255);
            lines.push_back(FormatText("Program %d %s@%s", program->id, name.c_str(),
                                       Tag(program->metadata, "service_provider", 255).c_str()));
            for (unsigned s = 0; s < program->nb_stream_indexes; ++s)
                lines.push_back(StreamLine(static_cast<int>(program->stream_index[s])));
        }
    }
    std::string text;
    for (const std::string &line : lines)
        text += line + "\r\n";
    return text;
}

std::string FormatDuration(int64_t microseconds)
{
    const int64_t seconds = microseconds / 1000000;
    const int64_t milliseconds = (microseconds % 1000000) / 1000;
    return FormatText("%.2" PRId64 ":%.2" PRId64 ":%.2" PRId64 ".%.3" PRId64, seconds / 3600, (seconds / 60) % 60,
                      seconds % 60, milliseconds);
}

std::string FormatFileSize(int64_t bytes)
{
    if (bytes > 1073741824)
        return FormatText("%.2f GB", static_cast<double>(bytes) / 1073741824.0);
    if (bytes > 1048576)
        return FormatText("%.2f MB", static_cast<double>(bytes) / 1048576.0);
    if (bytes > 1024)
        return FormatText("%.2f KB", static_cast<double>(bytes) / 1024.0);
    return FormatText("%" PRId64 " Byte", bytes);
}
