#include "component/OptionTranslation.h"

#include "engine/NumberText.h"
#include "engine/OptionValues.h"
#include "engine/Saturating.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>

namespace option_translation {

namespace {

constexpr double kUnixEpochDay = 25569.0; // 1970-01-01 as days since 1899-12-30
constexpr double kSecondsPerDay = 86400.0;

// Meta-data fields hold at most this many bytes.
constexpr size_t kMetaDataBytes = 512;
constexpr size_t kGenreBytes = 32;

// A meta-data text as its fixed-size field holds it: up to the first NUL, at most limit bytes,
// and never ending inside a UTF-8 sequence (a split one would be invalid text in the tags).
std::string MetaDataText(const std::string &text, size_t limit)
{
    size_t length = std::min(text.find('\0'), text.size());
    if (length <= limit)
        return text.substr(0, length);
    length = limit;
    // Back off over the continuation bytes of the character the cut falls into.
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    return text.substr(0, length);
}

// Milliseconds as microseconds, stopping at the ends of the range rather than wrapping.
int64_t MillisecondsToMicroseconds(int64_t milliseconds)
{
    constexpr int64_t kFactor = 1000;
    if (milliseconds > std::numeric_limits<int64_t>::max() / kFactor)
        return std::numeric_limits<int64_t>::max();
    if (milliseconds < std::numeric_limits<int64_t>::min() / kFactor)
        return std::numeric_limits<int64_t>::min();
    return milliseconds * kFactor;
}

// A generic option in decimal. A value the libraries refuse is listed in RejectedOptions by the
// engine, which is where a caller looks for options that were left out.
void SetGeneric(TCustomFFmpeg &engine, const char *name, int32_t value) { engine.SetCodecOptionInt(name, value); }

void ApplyTable(TCustomFFmpeg &engine, const TOutputOptions &o)
{
    if (!o.FileFormat.empty())
        engine.SetOutputFormat(o.FileFormat);
    if (o.PacketSize > 0)
        SetGeneric(engine, "packetsize", o.PacketSize);
    if (o.MuxRate > 0)
        SetGeneric(engine, "muxrate", o.MuxRate);
    if (o.MuxDelay > 0)
        engine.SetMuxMaxDelay(o.MuxDelay);
    if (o.MuxPreload > 0)
        engine.SetMuxPreload(o.MuxPreload);

    if (!o.AudioCodec.empty())
        engine.SetOption("acodec", o.AudioCodec);
    if (o.DisableAudio)
        engine.SetOption("an", "");
    if (o.AudioVolume >= 0)
        engine.SetAudioVolume(o.AudioVolume);
    if (o.AudioChannels > 0)
        engine.SetOption("ac", std::to_string(o.AudioChannels));
    if (o.AudioSampleRate > 0)
        engine.SetOption("ar", std::to_string(o.AudioSampleRate));
    if (o.AudioBitrate > 0)
        SetGeneric(engine, "ab", o.AudioBitrate);
    if (o.AudioBitrateTolerance > 0)
        SetGeneric(engine, "abt", o.AudioBitrateTolerance);
    engine.SetOption("alang", o.AudioLanguage); // empty clears
    engine.SetAudioSyncMethod(o.AudioSyncMethod);
    if (!o.AudioTag.empty())
        engine.SetOption("atag", o.AudioTag);

    if (!o.VideoCodec.empty())
        engine.SetOption("vcodec", o.VideoCodec);
    if (o.DisableVideo)
        engine.SetOption("vn", "");
    if (!o.FrameRate.empty())
        engine.SetOption("r", o.FrameRate);
    if (!o.FrameSize.empty())
        engine.SetOption("s", o.FrameSize);
    if (!o.FrameAspectRatio.empty())
        engine.SetOption("aspect", o.FrameAspectRatio);

    const std::pair<const char *, int32_t> crops[] = {
        {"croptop", o.CropTop}, {"cropbottom", o.CropBottom}, {"cropleft", o.CropLeft}, {"cropright", o.CropRight}};
    for (const auto &[name, size] : crops)
        if (size >= 0)
            engine.SetOption(name, std::to_string(size));
    const std::pair<const char *, int32_t> pads[] = {
        {"padtop", o.PadTop}, {"padbottom", o.PadBottom}, {"padleft", o.PadLeft}, {"padright", o.PadRight}};
    for (const auto &[name, size] : pads)
        if (size >= 0)
            engine.SetOption(name, std::to_string(size));
    // There is no palette of system colours here: a value with its high byte set stands for the
    // colour in its low three bytes, red lowest, which is the layout "padcolor" reads.
    engine.SetOption("padcolor", std::to_string(o.PadColor & 0x00FFFFFFu));

    if (o.GOPSize > 0)
        SetGeneric(engine, "g", o.GOPSize); // the library's name for the group-of-pictures size
    if (o.VideoBitrate > 0)
        SetGeneric(engine, "vb", o.VideoBitrate);
    if (o.VideoMaxRate > 0)
        SetGeneric(engine, "maxrate", o.VideoMaxRate);
    if (o.VideoMinRate > 0)
        SetGeneric(engine, "minrate", o.VideoMinRate);
    if (o.VideoBitrateTolerance > 0)
        SetGeneric(engine, "bt", o.VideoBitrateTolerance);
    if (o.VideoBufSize > 0)
        SetGeneric(engine, "bufsize", o.VideoBufSize);
    engine.SetVideoSyncMethod(o.VideoSyncMethod);
    if (!o.VideoTag.empty())
        engine.SetOption("vtag", o.VideoTag);
    if (!o.VideoFilters.empty())
        engine.SetOption("vfilters", o.VideoFilters);

    if (o.DisableSubtitle)
        engine.SetOption("sn", "");
    engine.SetOption("slang", o.SubtitleLanguage); // empty clears
    // The "copyts" keyword only sets its flag; False has to clear it here.
    engine.CopyTs = o.CopyTimestamp ? 1 : 0;

    if (o.RecordingTime > 0)
        engine.SetRecordingTime(o.RecordingTime);
    if (o.Timestamp >= 0) {
        const double dateTime = o.Timestamp == 0 ? LocalDateTimeNow() : o.Timestamp;
        engine.RecTimestamp = UnixSecondsFromDateTime(dateTime, StandardTimeZoneBiasMinutes());
    }
    engine.SetYear(o.Year);
    engine.SetTrack(o.Track);
    // Each setter leaves its field alone for an empty text.
    engine.SetTitle(MetaDataText(o.Title, kMetaDataBytes));
    engine.SetAuthor(MetaDataText(o.Author, kMetaDataBytes));
    engine.SetCopyright(MetaDataText(o.Copyright, kMetaDataBytes));
    engine.SetComment(MetaDataText(o.Comment, kMetaDataBytes));
    engine.SetAlbum(MetaDataText(o.Album, kMetaDataBytes));
    engine.SetGenre(MetaDataText(o.Genre, kGenreBytes));
}

void ApplyTarget(TCustomFFmpeg &engine, const TOutputOptions &o)
{
    const char *type = o.Target == 1 ? "vcd" : o.Target == 2 ? "svcd" : o.Target == 3 ? "dvd" : nullptr;
    if (!type)
        return;
    const char *norm = o.TargetNorm == 1 ? "pal" : o.TargetNorm == 2 ? "ntsc" : "auto";
    engine.SetTarget(type, norm, o.DefaultNorm == 1 ? "pal" : "ntsc");
}

void ApplyHookChoice(TCustomFFmpeg &engine, const TOutputOptions &o, const THookWiring &hooks)
{
    if (o.CustomHook)
        engine.CustomHookCallback = hooks.CustomHook;
    else if (o.BeforeHook)
        engine.BeforeHookCallback = hooks.BeforeHook;
    else
        engine.SetHookRanges(ParseHookRanges(o.VideoHookPTSs));
}

// A whole number of milliseconds as microseconds; anything else counts as -1 ms.
int64_t HookTime(const std::string &text) { return MillisecondsToMicroseconds(TryStrToInt64(text).value_or(-1)); }

} // namespace

void InitInputOptions(TInputOptions &options) { options = TInputOptions{}; }

void InitOutputOptions(TOutputOptions &options) { options = TOutputOptions{}; }

void ApplyInputOptions(TCustomFFmpeg &engine, const TInputOptions &options)
{
    engine.ParseOptionLines(options.ExtOptions);
    if (!options.FileFormat.empty())
        engine.SetInputFormat(options.FileFormat);
    if (options.StartTime > 0)
        engine.SetStartTime(MillisecondsToMicroseconds(options.StartTime));
    if (options.ProgramID >= 0)
        engine.SetProgramId(options.ProgramID);
}

void ApplyOutputOptions(TCustomFFmpeg &engine, const TOutputOptions &options, const THookWiring &hooks)
{
    engine.ParseOptionLines(options.ExtOptions);
    ApplyTable(engine, options);
    ApplyTarget(engine, options);
    ApplyHookChoice(engine, options, hooks);
}

std::vector<THookRange> ParseHookRanges(const std::string &text)
{
    std::vector<THookRange> ranges;
    const std::string trimmed = Trim(text);
    size_t start = 0;
    while (true) {
        const size_t comma = trimmed.find(',', start);
        const std::string piece =
            Trim(trimmed.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        const size_t dash = piece.find('-');
        THookRange range;
        range.Start = HookTime(Trim(piece.substr(0, dash)));
        range.End = dash == std::string::npos ? HookTime("") : HookTime(piece.substr(dash + 1));
        if (range.Start <= range.End && range.End >= 0)
            ranges.push_back(range);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return ranges;
}

int64_t UnixSecondsFromDateTime(double dateTime, int standardBiasMinutes)
{
    const double days = dateTime - kUnixEpochDay + standardBiasMinutes / 1440.0;
    return SaturatingCast<int64_t>(std::round(days * kSecondsPerDay));
}

int StandardTimeZoneBiasMinutes()
{
    // timezone: seconds west of UTC of the zone's standard time, set by tzset.
    tzset();
    return static_cast<int>(timezone / 60);
}

double LocalDateTimeNow()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    if (!localtime_r(&seconds, &local))
        local.tm_gmtoff = 0; // no zone information: the clock reads UTC
    // The local clock as it reads now, daylight saving included.
    const double utcSeconds = std::chrono::duration<double>(now.time_since_epoch()).count();
    return kUnixEpochDay + (utcSeconds + static_cast<double>(local.tm_gmtoff)) / kSecondsPerDay;
}

} // namespace option_translation
