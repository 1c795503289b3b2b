// The builder: the window's settings and the probed file become a task's two option records.
#include "app/OptionFrm.h"

#include "app/HookLine.h"
#include "app/RadioGroup.h"
#include "app/TrackBar.h"

#include "component/VeloxConverter.h"
#include "probe/AVProbe.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImageReader>
#include <QLineEdit>
#include <QRadioButton>

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
    return static_cast<int32_t>(std::clamp<int64_t>(bits, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
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

std::string Text(const QLineEdit *edit) { return edit->text().toStdString(); }

} // namespace

std::string OutputFileName(const std::string &input, const std::string &folder, const std::string &suffix,
                           bool overwrite, const std::function<bool(const std::string &)> &reserved)
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

std::string TfrmOption::InputFileName() const
{
    if (!Probe || !Probe->FormatContext())
        return {};
    // The library's own copy holds the whole name, however long.
    const AVFormatContext *context = Probe->FormatContext();
    return context->url ? std::string(context->url) : Probe->FileName();
}

QString TfrmOption::FormatItem() const
{
    // No chosen item reads as the initial one.
    const QString item = grpFormats->ItemText();
    return item.isEmpty() ? grpFormats->Items()[21] : item;
}

bool TfrmOption::CutClipChosen() const
{
    return Enabled(chkCutClip) && chkCutClip->isChecked() && trcPreview->SelEnd() > 0 &&
           trcPreview->SelEnd() > trcPreview->SelStart();
}

int32_t TfrmOption::ClipStartTime() const
{
    const int64_t total = ProbeDuration() / 1000;
    int64_t start = trcPreview->SelStart() * PreviewStep / 1000;
    if (start < 0 || start >= total)
        start = 0;
    return ClampToInt32(start);
}

int32_t TfrmOption::ClipDuration() const
{
    const int64_t total = ProbeDuration() / 1000;
    int64_t start = trcPreview->SelStart() * PreviewStep / 1000;
    int64_t end = trcPreview->SelEnd() * PreviewStep / 1000;
    if (start < 0 || start >= total)
        start = 0;
    if (start >= end || end > total)
        end = total;
    return ClampToInt32(end - start);
}

void TfrmOption::AddHookLines(TOutputOptions &options)
{
    const std::string &folder = VhookFolder_;
    auto chosen = [this](const QCheckBox *box) { return box->isChecked() && Enabled(box); };
    auto add = [&options](const std::vector<std::string> &words) {
        // A path the engine could not split back out is left out rather than passed on broken.
        if (const std::optional<std::string> line = HookCommandLine(words))
            options.ExtOptions += "vhook=" + *line + "\r\n";
    };
    // The text as the line carries it, shown in its edit as well.
    auto hookText = [](QLineEdit *edit) {
        const std::string text = HookText(Text(edit));
        edit->setText(QString::fromStdString(text));
        return text;
    };

    if (chosen(chkImlib2Img)) {
        const bool dancing = chkImgDancing->isChecked();
        add({folder + "imlib2.so", "-i", folder + "imlib2.jpg", "-x",
             dancing ? "(W-w)*(0.5+0.5*sin(N/47*PI))" : "W-w", "-y",
             dancing ? "(H-h)*(0.5+0.5*cos(N/97*PI))" : "H-h"});
    }
    if (chosen(chkImlib2Txt)) {
        const bool scrolling = chkTxtScrolling->isChecked();
        add({folder + "imlib2.so", "-R", "255", "-G", "255", "-B", "255", "-F", "Tahoma.ttf/16", "-t",
             hookText(edtImlib2Txt), "-x", "10", "-y", scrolling ? "(H-25)*(0.5+0.50*cos(N/97*PI))" : "10"});
    }
    if (chosen(chkWaterMark))
        add({folder + "watermark.so", "-f", folder + "watermark.gif", "-m", chkWaterMarkMode->isChecked() ? "1" : "0"});
    if (chosen(chkQuillHookImg)) {
        const std::string picture = folder + "QuillHook.bmp";
        QSize size = QImageReader(QString::fromStdString(picture)).size();
        if (!size.isValid() || size.isEmpty())
            size = QSize(64, 64);
        TAVStreamInfo video;
        if (Probe && Probe->FormatContext() && Probe->VideoCount > 0)
            Probe->GetStreamInfo(VideoStreamIndex, video);
        add({folder + "QuillHook.so", "-i", picture, "-mc", "FFFFFF", "-ix",
             std::to_string(static_cast<int64_t>(video.Width) - size.width() - 10), "-iy",
             std::to_string(static_cast<int64_t>(video.Height) - size.height() - 10)});
    }
    if (chosen(chkQuillHookTxt))
        add({folder + "QuillHook.so", "-t", hookText(edtQuillHookTxt), "-tx", "10", "-ty", "10", "-fc", "FFFFFF",
             "-fn", "Tahoma", "-fs", "16", "-fst", "BU"});
}

std::string TfrmOption::VideoFilterChain() const
{
    std::vector<std::string> filters;
    if (chkVertFlip->isChecked())
        filters.push_back("vflip");
    if (chkHoriFlip->isChecked())
        filters.push_back("hflip");
    if (chkNegate->isChecked())
        filters.push_back("negate");
    if (chkScale->isChecked() && !edtScale->text().trimmed().isEmpty())
        filters.push_back("scale=" + edtScale->text().trimmed().toStdString());
    if (chkRotate->isChecked()) {
        // The filter takes radians; the window's number is degrees.
        const int32_t degrees = ToInt(edtRotate->text()).value_or(45);
        filters.push_back("rotate=" + std::to_string(degrees) + "*PI/180");
    }
    if (chkSetPTS->isChecked() && !edtSetPTS->text().trimmed().isEmpty())
        filters.push_back("setpts=" + edtSetPTS->text().trimmed().toStdString());
    std::string chain;
    for (const std::string &filter : filters)
        chain += (chain.empty() ? "" : ",") + filter;
    return chain;
}

void TfrmOption::BuildOutputOptions(TOutputOptions &result)
{
    TOutputOptions o;
    TCustomMediavane::InitOutputOptions(o);

    // 1. Suffix.
    const QString item = FormatItem();
    std::string suffix = "." + item.toLower().toStdString();

    // 2. Audio and picture settings.
    if (grpAudioChannels->ItemIndex() > 0)
        o.AudioChannels = grpAudioChannels->ItemIndex();
    if (grpAudioSampleRate->ItemIndex() > 0)
        o.AudioSampleRate = ToInt(grpAudioSampleRate->ItemText()).value_or(22050);
    if (chkAudioVolume->isChecked())
        o.AudioVolume = ToInt(edtAudioVolume->text()).value_or(-1);
    if (cboFrameSize->currentIndex() > 0) {
        const QString size = cboFrameSize->currentText();
        const qsizetype space = size.indexOf(' ');
        o.FrameSize = (space > 0 ? size.left(space) : size).toStdString();
    }
    if (grpFrameRate->ItemIndex() > 0)
        o.FrameRate = grpFrameRate->ItemText().toStdString();
    if (grpAspectRatio->ItemIndex() > 0)
        o.FrameAspectRatio = grpAspectRatio->ItemText().toStdString();
    if (chkVideoBitRate->isChecked())
        o.VideoBitrate = Kilo(ToInt(edtVideoBitRate->text()).value_or(200));
    if (chkAudioBitRate->isChecked())
        o.AudioBitrate = Kilo(ToInt(edtAudioBitRate->text()).value_or(64));

    // 3. Video encoder.
    if (grpVideoCodec->ItemIndex() > 0) {
        const QString codec = grpVideoCodec->ItemText().toLower();
        if (codec == "divx") {
            o.VideoCodec = "mpeg4";
            o.VideoTag = "DIVX";
        } else if (codec == "xvid") {
            o.VideoCodec = "libxvid";
        } else if (codec == "x264") {
            o.VideoCodec = "libx264";
        }
    }

    // 4. Audio encoder; the library's own AAC encoder is the one there is.
    if (grpAudioCodec->ItemIndex() > 0) {
        const QString codec = grpAudioCodec->ItemText().toLower();
        if (codec == "aac")
            o.AudioCodec = "aac";
        else if (codec == "ac3")
            o.AudioCodec = "ac3";
        else if (codec == "flac")
            o.AudioCodec = "flac";
        else if (codec == "mp3")
            o.AudioCodec = "libmp3lame";
    }

    // 5. Cut clip.
    if (CutClipChosen())
        o.RecordingTime = ClipDuration();

    // 6. Video hook plug-ins.
    if (rdoExternalHook->isChecked())
        AddHookLines(o);

    // 7. Hook mode; a hook counts as selected when its box is checked, enabled or not.
    const bool anyHook = chkImlib2Img->isChecked() || chkImlib2Txt->isChecked() || chkWaterMark->isChecked() ||
                         chkQuillHookImg->isChecked() || chkQuillHookTxt->isChecked();
    const bool external = rdoExternalHook->isChecked();
    o.BeforeHook = external && rdoBeforeHook->isChecked() && Enabled(rdoBeforeHook) && anyHook;
    if (external && rdoPTSs->isChecked() && Enabled(rdoPTSs) && anyHook)
        o.VideoHookPTSs = Text(edtPTSs);
    o.CustomHook = rdoCustomHook->isChecked();

    // 8, 9. Timestamps and the filter chain.
    o.CopyTimestamp = chkCopyTimestamp->isChecked();
    o.VideoFilters = VideoFilterChain();

    // 10. Format rules, first match only. A rule's own video encoder goes without the tag
    // of the one chosen in the window, which would mislabel its stream.
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
        suffix = "_psp.mp4";
    } else if (suffix == ".ipod") {
        video("mpeg4");
        o.AudioCodec = "aac";
        o.FrameSize = "320x240";
        suffix = "_ipod.mp4";
    } else if (suffix == ".rm10") {
        video("rv10");
        suffix = "_rv10.rm";
    } else if (suffix == ".rm20") {
        video("rv20");
        suffix = "_rv20.rm";
    } else if (suffix == ".mp4") {
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
        const int norm = grpNorm->ItemIndex();
        o.TargetNorm = norm <= 0 ? 0 : norm == 1 ? 1 : 2;
        o.DefaultNorm = 1;
    }

    // 11. Stamped with the current time.
    o.Timestamp = 0;

    // 12, 13. Crop and pad.
    if (chkCrop->isChecked()) {
        o.CropTop = Even(ToInt(edtCropTop->text()).value_or(0));
        o.CropBottom = Even(ToInt(edtCropBottom->text()).value_or(0));
        o.CropLeft = Even(ToInt(edtCropLeft->text()).value_or(0));
        o.CropRight = Even(ToInt(edtCropRight->text()).value_or(0));
    }
    if (chkPad->isChecked()) {
        o.PadTop = Even(ToInt(edtPadTop->text()).value_or(0));
        o.PadBottom = Even(ToInt(edtPadBottom->text()).value_or(0));
        o.PadLeft = Even(ToInt(edtPadLeft->text()).value_or(0));
        o.PadRight = Even(ToInt(edtPadRight->text()).value_or(0));
        o.PadColor = 0;
    }

    // 14, 15. Disc suffix, then the suffix kept with the record.
    if (suffix == ".vcd" || suffix == ".svcd" || suffix == ".dvd")
        suffix = "_" + suffix.substr(1) + (o.TargetNorm == 1 ? "_pal.mpg" : o.TargetNorm == 2 ? "_ntsc.mpg" : "_auto.mpg");
    o.FileExt = suffix;

    // 16. Output file name: beside the input or in the chosen folder, never over an existing
    // file unless overwriting is asked for.
    o.FileName = OutputFileName(InputFileName(), Text(edtOutPath), suffix, chkOverwrite->isChecked(), NameReserved);

    // 17.
    result = o;
}

void TfrmOption::BuildInputOptions(TInputOptions &result)
{
    TInputOptions i;
    TCustomMediavane::InitInputOptions(i);
    i.FileName = InputFileName();
    i.FileFormat = Probe && Probe->FormatContext() ? Probe->ForcedFormat : std::string();
    if (CutClipChosen())
        i.StartTime = ClipStartTime();
    // Audio-only outputs do not read the input's pictures.
    static const QStringList audioOnly = {"aac", "ac3", "mp2", "mp3", "wav", "wma"};
    if (audioOnly.contains(FormatItem().toLower()))
        i.ExtOptions = "vn=1";
    result = i;
}
