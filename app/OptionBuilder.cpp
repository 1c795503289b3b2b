// The builder: the output settings and the probed file become a task's two option records.
#include "app/OptionBuilder.h"

#include "app/HookLine.h"

#include "component/FormatQuality.h"
#include "component/VeloxConverter.h"
#include "probe/AVProbe.h"

#include <QImageReader>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The window's number texts: blanks around, a sign and decimal digits, within 32 bits.
std::optional<int32_t> ToInt(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? std::optional<int32_t>(value) : std::nullopt;
}

// Kilobits to bits, held within 32 bits.
int32_t Kilo(int32_t value)
{
    const int64_t bits = static_cast<int64_t>(value) * 1000;
    return static_cast<int32_t>(
        std::clamp<int64_t>(bits, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

int32_t ClampToInt32(int64_t value)
{
    return static_cast<int32_t>(
        std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// Rounded toward zero to an even number: 5 gives 4, -3 gives -2.
int32_t Even(int32_t value) { return value - value % 2; }

// Any entry under the name counts, also a link that leads nowhere.
bool NameTaken(const std::string &name)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(name, ec));
}

// The chosen format's item; no chosen item reads as the initial one.
QString FormatItem(const TOptionSettings &s)
{
    const QStringList items = OutputFormatItems();
    return s.Format >= 0 && s.Format < items.size() ? items[s.Format] : items[OptionsIndexOf("mp3")];
}

// The chosen sound format; nullptr for a video format.
const batch::OutputFormat *SoundFormat(const TOptionSettings &s)
{
    const QStringList items = OutputFormatItems();
    return batch::OutputFormatOfOptionsIndex(s.Format >= 0 && s.Format < items.size() ? s.Format
                                                                                      : OptionsIndexOf("mp3"));
}

bool CutClipChosen(const TOptionSettings &s) { return s.CutClip && s.ClipEnd > 0 && s.ClipEnd > s.ClipStart; }

// The external plug-ins give lines only while that kind is chosen.
bool External(const TOptionSettings &s) { return !s.CustomHook; }

void AddHookLines(const TOptionSettings &s, const TProbeFacts &input, TOutputOptions &options)
{
    const std::string &folder = s.VhookFolder;
    auto add = [&options](const std::vector<std::string> &words) {
        // A path the engine could not split back out is left out rather than passed on broken.
        if (const std::optional<std::string> line = HookCommandLine(words))
            options.ExtOptions += "vhook=" + *line + "\r\n";
    };
    if (s.Imlib2Image.Chosen()) {
        add({folder + "imlib2.so", "-i", folder + "imlib2.jpg", "-x",
             s.ImageDancing ? "(W-w)*(0.5+0.5*sin(N/47*PI))" : "W-w", "-y",
             s.ImageDancing ? "(H-h)*(0.5+0.5*cos(N/97*PI))" : "H-h"});
    }
    if (s.Imlib2Text.Chosen()) {
        add({folder + "imlib2.so", "-R", "255", "-G", "255", "-B", "255", "-F", "Tahoma.ttf/16", "-t",
             HookText(s.Imlib2Caption.toStdString()), "-x", "10", "-y",
             s.TextScrolling ? "(H-25)*(0.5+0.50*cos(N/97*PI))" : "10"});
    }
    if (s.WaterMark.Chosen())
        add({folder + "watermark.so", "-f", folder + "watermark.gif", "-m", s.WaterMarkMode ? "1" : "0"});
    if (s.QuillImage.Chosen()) {
        const std::string picture = folder + "QuillHook.bmp";
        QSize size = QImageReader(QString::fromStdString(picture)).size();
        if (!size.isValid() || size.isEmpty())
            size = QSize(64, 64);
        add({folder + "QuillHook.so", "-i", picture, "-mc", "FFFFFF", "-ix",
             std::to_string(static_cast<int64_t>(input.VideoWidth) - size.width() - 10), "-iy",
             std::to_string(static_cast<int64_t>(input.VideoHeight) - size.height() - 10)});
    }
    if (s.QuillText.Chosen())
        add({folder + "QuillHook.so", "-t", HookText(s.QuillCaption.toStdString()), "-tx", "10", "-ty", "10", "-fc",
             "FFFFFF", "-fn", "Tahoma", "-fs", "16", "-fst", "BU"});
}

// A hook counts as selected for the mode when its box is ticked, enabled or not.
void SetHookMode(const TOptionSettings &s, TOutputOptions &o)
{
    const bool anyHook = s.Imlib2Image.Checked || s.Imlib2Text.Checked || s.WaterMark.Checked || s.QuillImage.Checked ||
                         s.QuillText.Checked;
    const bool mode = External(s) && s.HookModeEnabled && anyHook;
    o.BeforeHook = mode && s.HookMode == hmBeforeHook;
    if (mode && s.HookMode == hmPeriods)
        o.VideoHookPTSs = s.HookPeriods.toStdString();
    o.CustomHook = s.CustomHook;
}

std::string VideoFilterChain(const TOptionSettings &s)
{
    std::vector<std::string> filters;
    if (s.VerticalFlip)
        filters.push_back("vflip");
    if (s.HorizontalFlip)
        filters.push_back("hflip");
    if (s.Negate)
        filters.push_back("negate");
    if (s.Scale && !s.ScaleSize.trimmed().isEmpty())
        filters.push_back("scale=" + s.ScaleSize.trimmed().toStdString());
    if (s.Rotate) {
        // The filter takes radians; the window's number is degrees.
        const int32_t degrees = ToInt(s.RotateDegrees).value_or(45);
        filters.push_back("rotate=" + std::to_string(degrees) + "*PI/180");
    }
    if (s.SetPTS && !s.PTSExpression.trimmed().isEmpty())
        filters.push_back("setpts=" + s.PTSExpression.trimmed().toStdString());
    std::string chain;
    for (const std::string &filter : filters)
        chain += (chain.empty() ? "" : ",") + filter;
    return chain;
}

void SetSoundAndPicture(const TOptionSettings &s, TOutputOptions &o)
{
    if (s.AudioChannels > 0)
        o.AudioChannels = s.AudioChannels;
    if (s.AudioSampleRate > 0)
        o.AudioSampleRate = ToInt(ChoiceItem(kAudioSampleRates, s.AudioSampleRate)).value_or(22050);
    if (s.AdjustVolume)
        o.AudioVolume = ToInt(s.AudioVolume).value_or(-1);
    if (s.FrameSize > 0) {
        const QString size = ChoiceItem(kFrameSizes, s.FrameSize);
        const qsizetype space = size.indexOf(' ');
        o.FrameSize = (space > 0 ? size.left(space) : size).toStdString();
    }
    if (s.FrameRate > 0)
        o.FrameRate = ChoiceItem(kFrameRates, s.FrameRate).toStdString();
    if (s.AspectRatio > 0)
        o.FrameAspectRatio = ChoiceItem(kAspectRatios, s.AspectRatio).toStdString();
    if (s.SetVideoBitRate)
        o.VideoBitrate = Kilo(ToInt(s.VideoBitRate).value_or(200));
    if (s.SetAudioBitRate)
        o.AudioBitrate = Kilo(ToInt(s.AudioBitRate).value_or(64));
}

// The audio encoder chosen in the encoder group; empty for "Auto". The library's own AAC encoder
// is the one there is.
std::string ChosenAudioEncoder(const TOptionSettings &s)
{
    const QString codec = ChoiceItem(kAudioCodecs, s.AudioCodec).toLower();
    return codec == "aac" || codec == "ac3" || codec == "flac" ? codec.toStdString()
           : codec == "mp3"                                    ? "libmp3lame"
                                                               : "";
}

void SetEncoders(const TOptionSettings &s, TOutputOptions &o)
{
    if (s.VideoCodec > 0) {
        const QString codec = ChoiceItem(kVideoCodecs, s.VideoCodec).toLower();
        if (codec == "divx") {
            o.VideoCodec = "mpeg4";
            o.VideoTag = "DIVX";
        } else if (codec == "xvid") {
            o.VideoCodec = "libxvid";
        } else if (codec == "x264") {
            o.VideoCodec = "libx264";
        }
    }
    if (const std::string audio = ChosenAudioEncoder(s); !audio.empty())
        o.AudioCodec = audio;
}

// A sound format takes its encoder and the chosen preset's quality, as the command line gives them
// for the same choice; a bit rate typed in wins over the preset, and another encoder chosen in the
// encoder group over both.
void SetSoundFormat(const TOptionSettings &s, TOutputOptions &o)
{
    const batch::OutputFormat *format = SoundFormat(s);
    const std::string chosen = ChosenAudioEncoder(s);
    if (!format || (!chosen.empty() && (!format->encoder || chosen != format->encoder)))
        return;
    // A quality on no ladder sets the encoder alone and leaves the typed rate.
    SetOutputFormat(o, *format, s.SetAudioBitRate ? batch::FormatQuality{-1, 0} : PresetQuality(*format, s.Quality));
}

// The format's own rules, first match only; the suffix some of them name instead. A rule's own
// video encoder goes without the tag of the one chosen, which would mislabel its stream.
std::string ApplyFormatRules(const TOptionSettings &s, const std::string &suffix, TOutputOptions &o)
{
    auto video = [&o](const char *codec) {
        o.VideoCodec = codec;
        o.VideoTag.clear();
    };
    if (suffix == ".flv" || suffix == ".swf") {
        if (o.AudioSampleRate != 11025 && o.AudioSampleRate != 22050 && o.AudioSampleRate != 44100)
            o.AudioSampleRate = 22050;
    } else if (suffix == ".ogg") {
        video("libtheora");
        o.AudioCodec = "flac";
    } else if (suffix == ".psp") {
        o.FileFormat = "psp";
        video("mpeg4");
        o.AudioCodec = "aac";
        o.AudioSampleRate = 24000;
        o.FrameRate = "15000/1001";
        return "_psp.mp4";
    } else if (suffix == ".ipod") {
        video("mpeg4");
        o.AudioCodec = "aac";
        o.FrameSize = "320x240";
        return "_ipod.mp4";
    } else if (suffix == ".rm10") {
        video("rv10");
        return "_rv10.rm";
    } else if (suffix == ".rm20") {
        video("rv20");
        return "_rv20.rm";
    } else if (suffix == ".wmv") {
        video("wmv2");
        o.AudioCodec = "wmav2";
    } else if (suffix == ".mkv") {
        video("libx264");
    } else if (suffix == ".wma") {
        o.DisableVideo = true;
        o.AudioCodec = "wmav2";
    } else if (suffix == ".3gp") {
        // The container's own speech encoder is not in this library build; its AAC encoder
        // takes mono 8000 Hz at this rate.
        o.AudioCodec = "aac";
        o.AudioChannels = 1;
        o.AudioSampleRate = 8000;
        o.AudioBitrate = 7400;
        o.FrameSize = "128x96";
    } else if (suffix == ".vcd" || suffix == ".svcd" || suffix == ".dvd") {
        o.Target = suffix == ".vcd" ? 1 : suffix == ".svcd" ? 2 : 3;
        o.TargetNorm = s.Norm <= 0 ? 0 : s.Norm == 1 ? 1 : 2;
        o.DefaultNorm = 1;
        // The disc's name and its norm.
        return "_" + suffix.substr(1) +
               (o.TargetNorm == 1   ? "_pal.mpg"
                : o.TargetNorm == 2 ? "_ntsc.mpg"
                                    : "_auto.mpg");
    }
    return suffix;
}

void SetCropAndPad(const TOptionSettings &s, TOutputOptions &o)
{
    auto edge = [](const QString &text) { return Even(ToInt(text).value_or(0)); };
    if (s.Crop) {
        o.CropTop = edge(s.CropEdges[0]);
        o.CropBottom = edge(s.CropEdges[1]);
        o.CropLeft = edge(s.CropEdges[2]);
        o.CropRight = edge(s.CropEdges[3]);
    }
    if (s.Pad) {
        o.PadTop = edge(s.PadEdges[0]);
        o.PadBottom = edge(s.PadEdges[1]);
        o.PadLeft = edge(s.PadEdges[2]);
        o.PadRight = edge(s.PadEdges[3]);
        o.PadColor = 0;
    }
}

} // namespace

std::string ProbedFileName(const TAVProbe *probe)
{
    if (!probe || !probe->FormatContext())
        return {};
    // The library's own copy holds the whole name, however long.
    const AVFormatContext *context = probe->FormatContext();
    return context->url ? std::string(context->url) : probe->FileName();
}

TProbeFacts ProbeFactsOf(const TAVProbe *probe, int videoStream)
{
    TProbeFacts facts;
    if (!probe || !probe->FormatContext())
        return facts;
    facts.FileName = ProbedFileName(probe);
    facts.ForcedFormat = probe->ForcedFormat;
    TAVFormatInfo format;
    probe->GetFormatInfo(format);
    // An unknown length gives a clip of nothing rather than a negative one.
    facts.Duration = format.Duration > 0 ? format.Duration : 0;
    if (probe->VideoCount > 0) {
        TAVStreamInfo video;
        probe->GetStreamInfo(videoStream, video);
        facts.VideoWidth = video.Width;
        facts.VideoHeight = video.Height;
    }
    return facts;
}

std::string OutputFileName(const std::string &input, const std::string &folder, const std::string &suffix,
                           bool overwrite, const TNameReserved &reserved)
{
    std::string base;
    if (folder == kSameAsInput) {
        base = fs::path(input).replace_extension().string();
    } else {
        base = folder;
        if (!base.empty() && base.back() != '/')
            base += '/';
        base += fs::path(input).stem().string();
    }
    // Overwriting is about files already there, never about another output of the list.
    const auto taken = [&](const std::string &name) {
        return (!overwrite && NameTaken(name)) || (reserved && reserved(name));
    };
    std::string name = base + "_(new)" + suffix;
    for (int64_t n = 1; taken(name); ++n)
        name = base + "_(new_" + std::to_string(n) + ")" + suffix;
    return name;
}

int32_t ClipStartTime(const TOptionSettings &settings, const TProbeFacts &input)
{
    const int64_t total = input.Duration / 1000;
    int64_t start = settings.ClipStart / 1000;
    if (start < 0 || start >= total)
        start = 0;
    return ClampToInt32(start);
}

int32_t ClipDuration(const TOptionSettings &settings, const TProbeFacts &input)
{
    const int64_t total = input.Duration / 1000;
    int64_t start = settings.ClipStart / 1000;
    int64_t end = settings.ClipEnd / 1000;
    if (start < 0 || start >= total)
        start = 0;
    if (start >= end || end > total)
        end = total;
    return ClampToInt32(end - start);
}

TOptionSettings WithCarriedHookTexts(TOptionSettings settings)
{
    if (!External(settings))
        return settings;
    if (settings.Imlib2Text.Chosen())
        settings.Imlib2Caption = QString::fromStdString(HookText(settings.Imlib2Caption.toStdString()));
    if (settings.QuillText.Chosen())
        settings.QuillCaption = QString::fromStdString(HookText(settings.QuillCaption.toStdString()));
    return settings;
}

TOutputOptions OutputOptionsOf(const TOptionSettings &settings, const TProbeFacts &input, const TNameReserved &reserved)
{
    TOutputOptions o;
    TCustomMediavane::InitOutputOptions(o);
    SetSoundAndPicture(settings, o);
    SetEncoders(settings, o);
    if (CutClipChosen(settings))
        o.RecordingTime = ClipDuration(settings, input);
    if (External(settings))
        AddHookLines(settings, input, o);
    SetHookMode(settings, o);
    SetSoundFormat(settings, o);
    o.CopyTimestamp = settings.CopyTimestamp;
    o.VideoFilters = VideoFilterChain(settings);
    // The rules go by the item ("VORBIS" has none, the video "OGG" has its own); a sound format's
    // file takes its extension.
    const std::string rule = ApplyFormatRules(settings, "." + FormatItem(settings).toLower().toStdString(), o);
    const batch::OutputFormat *sound = SoundFormat(settings);
    const std::string suffix = sound ? sound->extension : rule;
    // Stamped with the current time.
    o.Timestamp = 0;
    SetCropAndPad(settings, o);
    o.FileExt = suffix;
    // Beside the input or in the chosen folder, never over an existing file unless overwriting
    // is asked for.
    o.FileName =
        OutputFileName(input.FileName, settings.OutputFolder.toStdString(), suffix, settings.Overwrite, reserved);
    return o;
}

TInputOptions InputOptionsOf(const TOptionSettings &settings, const TProbeFacts &input)
{
    TInputOptions i;
    TCustomMediavane::InitInputOptions(i);
    i.FileName = input.FileName;
    i.FileFormat = input.ForcedFormat;
    if (CutClipChosen(settings))
        i.StartTime = ClipStartTime(settings, input);
    // Sound-only outputs do not read the input's pictures.
    if (SoundFormat(settings))
        i.ExtOptions = "vn=1";
    return i;
}
