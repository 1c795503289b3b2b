// The window as a settings record: read from its controls, set back into them, and built into
// a task's records with the probe last taken over.
#include "app/OptionFrm.h"

#include "app/OptionBuilder.h"
#include "app/PreviewGeometry.h"
#include "app/RadioGroup.h"
#include "app/TrackBar.h"

#include "probe/AVProbe.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

#include <algorithm>
#include <limits>

namespace {

void SetText(QLineEdit *edit, const QString &text)
{
    if (edit->text() != text)
        edit->setText(text);
}

int TrackBarUnits(int64_t microseconds, int64_t step)
{
    return static_cast<int>(
        std::clamp<int64_t>(microseconds / step, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

} // namespace

QRadioButton *TfrmOption::HookModeButton(THookMode mode) const
{
    return mode == hmBeforeHook ? rdoBeforeHook : mode == hmPeriods ? rdoPTSs : rdoStandardHook;
}

TOptionSettings TfrmOption::Settings() const
{
    TOptionSettings s;
    s.Format = grpFormats->ItemIndex();
    s.Norm = grpNorm->ItemIndex();
    s.AudioChannels = grpAudioChannels->ItemIndex();
    s.AudioSampleRate = grpAudioSampleRate->ItemIndex();
    s.FrameSize = cboFrameSize->currentIndex();
    s.FrameRate = grpFrameRate->ItemIndex();
    s.AspectRatio = grpAspectRatio->ItemIndex();
    s.AudioCodec = grpAudioCodec->ItemIndex();
    s.VideoCodec = grpVideoCodec->ItemIndex();

    s.AdjustVolume = chkAudioVolume->isChecked();
    s.AudioVolume = edtAudioVolume->text();
    s.SetVideoBitRate = chkVideoBitRate->isChecked();
    s.VideoBitRate = edtVideoBitRate->text();
    s.SetAudioBitRate = chkAudioBitRate->isChecked();
    s.AudioBitRate = edtAudioBitRate->text();
    const batch::OutputFormat *format = batch::OutputFormatOfOptionsIndex(s.Format);
    s.Quality = format && !format->presets.empty() ? cboQuality->currentIndex() : -1;
    s.Crop = chkCrop->isChecked();
    s.Pad = chkPad->isChecked();
    for (size_t i = 0; i < 4; ++i) {
        s.CropEdges[i] = CropEdits()[i]->text();
        s.PadEdges[i] = PadEdits()[i]->text();
    }

    s.CutClip = chkCutClip->isChecked() && Enabled(chkCutClip);
    s.ClipStart = trcPreview->SelStart() * PreviewStep;
    s.ClipEnd = trcPreview->SelEnd() * PreviewStep;

    s.CustomHook = rdoCustomHook->isChecked();
    auto plugin = [this](const QCheckBox *box) { return TPluginChoice{box->isChecked(), Enabled(box)}; };
    s.Imlib2Image = plugin(chkImlib2Img);
    s.Imlib2Text = plugin(chkImlib2Txt);
    s.WaterMark = plugin(chkWaterMark);
    s.QuillImage = plugin(chkQuillHookImg);
    s.QuillText = plugin(chkQuillHookTxt);
    s.ImageDancing = chkImgDancing->isChecked();
    s.TextScrolling = chkTxtScrolling->isChecked();
    s.WaterMarkMode = chkWaterMarkMode->isChecked();
    s.Imlib2Caption = edtImlib2Txt->text();
    s.QuillCaption = edtQuillHookTxt->text();
    s.HookMode = rdoBeforeHook->isChecked() ? hmBeforeHook : rdoPTSs->isChecked() ? hmPeriods : hmStandard;
    s.HookModeEnabled = Enabled(HookModeButton(s.HookMode));
    s.HookPeriods = edtPTSs->text();
    s.VhookFolder = VhookFolder_;

    s.VerticalFlip = chkVertFlip->isChecked();
    s.HorizontalFlip = chkHoriFlip->isChecked();
    s.Negate = chkNegate->isChecked();
    s.Scale = chkScale->isChecked();
    s.ScaleSize = edtScale->text();
    s.Rotate = chkRotate->isChecked();
    s.RotateDegrees = edtRotate->text();
    s.SetPTS = chkSetPTS->isChecked();
    s.PTSExpression = edtSetPTS->text();

    s.CopyTimestamp = chkCopyTimestamp->isChecked();
    s.Overwrite = chkOverwrite->isChecked();
    s.OutputFolder = edtOutPath->text();
    return s;
}

void TfrmOption::SelectClip(int start, int end)
{
    if (start == trcPreview->SelStart() && end == trcPreview->SelEnd())
        return;
    trcPreview->SetSelStart(start);
    trcPreview->SetSelEnd(end);
    edtStartTime->setText(FormatPTS(static_cast<int64_t>(start) * PreviewStep));
    edtEndTime->setText(FormatPTS(static_cast<int64_t>(end) * PreviewStep));
    chkCutClip->setEnabled(end >= 1 && end > start);
}

void TfrmOption::ApplySettings(const TOptionSettings &s)
{
    if (s.VhookFolder != VhookFolder_)
        SetVhookFolder(s.VhookFolder);
    grpFormats->SetItemIndex(s.Format);
    grpNorm->SetItemIndex(s.Norm);
    grpAudioChannels->SetItemIndex(s.AudioChannels);
    grpAudioSampleRate->SetItemIndex(s.AudioSampleRate);
    cboFrameSize->setCurrentIndex(s.FrameSize);
    grpFrameRate->SetItemIndex(s.FrameRate);
    grpAspectRatio->SetItemIndex(s.AspectRatio);
    grpAudioCodec->SetItemIndex(s.AudioCodec);
    grpVideoCodec->SetItemIndex(s.VideoCodec);

    // The boxes enable their edits as they are ticked.
    chkAudioVolume->setChecked(s.AdjustVolume);
    SetText(edtAudioVolume, s.AudioVolume);
    chkVideoBitRate->setChecked(s.SetVideoBitRate);
    SetText(edtVideoBitRate, s.VideoBitRate);
    chkAudioBitRate->setChecked(s.SetAudioBitRate);
    SetText(edtAudioBitRate, s.AudioBitRate);
    ShowFormatQualities(s.Quality);
    chkCrop->setChecked(s.Crop);
    chkPad->setChecked(s.Pad);
    for (size_t i = 0; i < 4; ++i) {
        SetText(CropEdits()[i], s.CropEdges[i]);
        SetText(PadEdits()[i], s.PadEdges[i]);
    }

    SelectClip(TrackBarUnits(s.ClipStart, PreviewStep), TrackBarUnits(s.ClipEnd, PreviewStep));
    chkCutClip->setChecked(s.CutClip);

    // Every toggle below brings the hook boxes' enabled states up to date.
    (s.CustomHook ? rdoCustomHook : rdoExternalHook)->setChecked(true);
    chkImlib2Img->setChecked(s.Imlib2Image.Checked);
    chkImlib2Txt->setChecked(s.Imlib2Text.Checked);
    chkWaterMark->setChecked(s.WaterMark.Checked);
    chkQuillHookImg->setChecked(s.QuillImage.Checked);
    chkQuillHookTxt->setChecked(s.QuillText.Checked);
    chkImgDancing->setChecked(s.ImageDancing);
    chkTxtScrolling->setChecked(s.TextScrolling);
    chkWaterMarkMode->setChecked(s.WaterMarkMode);
    SetText(edtImlib2Txt, s.Imlib2Caption);
    SetText(edtQuillHookTxt, s.QuillCaption);
    HookModeButton(s.HookMode)->setChecked(true);
    SetText(edtPTSs, s.HookPeriods);

    chkVertFlip->setChecked(s.VerticalFlip);
    chkHoriFlip->setChecked(s.HorizontalFlip);
    chkNegate->setChecked(s.Negate);
    chkScale->setChecked(s.Scale);
    SetText(edtScale, s.ScaleSize);
    chkRotate->setChecked(s.Rotate);
    SetText(edtRotate, s.RotateDegrees);
    chkSetPTS->setChecked(s.SetPTS);
    SetText(edtSetPTS, s.PTSExpression);

    chkCopyTimestamp->setChecked(s.CopyTimestamp);
    chkOverwrite->setChecked(s.Overwrite);
    SetText(edtOutPath, s.OutputFolder);
    UpdateHookControls();
}

std::string TfrmOption::InputFileName() const { return ProbedFileName(Probe); }

TProbeFacts TfrmOption::ProbeFacts() const { return ProbeFactsOf(Probe, VideoStreamIndex); }

void TfrmOption::BuildOutputOptions(TOutputOptions &options)
{
    const TOptionSettings settings = Settings();
    options = OutputOptionsOf(settings, ProbeFacts(), NameReserved);
    // The captions as their lines carry them, shown in their edits as well.
    const TOptionSettings carried = WithCarriedHookTexts(settings);
    SetText(edtImlib2Txt, carried.Imlib2Caption);
    SetText(edtQuillHookTxt, carried.QuillCaption);
}

void TfrmOption::BuildInputOptions(TInputOptions &options) { options = InputOptionsOf(Settings(), ProbeFacts()); }

int32_t TfrmOption::ClipStartTime() const { return ::ClipStartTime(Settings(), ProbeFacts()); }

int32_t TfrmOption::ClipDuration() const { return ::ClipDuration(Settings(), ProbeFacts()); }
