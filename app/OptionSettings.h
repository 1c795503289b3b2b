// Every output setting of a task as plain values: what the options window shows, what the
// builder turns into the task's records, and what the window can be set back to. The defaults
// are the window's values when it opens.
#pragma once

#include "app/OptionChoices.h"

#include <QString>

#include <array>
#include <cstdint>
#include <string>

// The output folder while outputs go beside their inputs.
inline constexpr const char *kSameAsInput = "<same as input>";

// A plug-in box: ticked, and enabled (its plug-in was there when the window last looked).
struct TPluginChoice {
    bool Checked = false;
    bool Enabled = false;

    bool Chosen() const { return Checked && Enabled; }
    bool operator==(const TPluginChoice &) const = default;
};

// When the external plug-ins act: on every frame, as the before-hook event says, or in periods.
enum THookMode { hmStandard, hmBeforeHook, hmPeriods };

struct TOptionSettings {
    // Item indexes into the lists of OptionChoices.h; -1 when none is chosen.
    int Format = OptionsIndexOf("mp3");
    int Norm = 0;
    int AudioChannels = 0;
    int AudioSampleRate = 0;
    int FrameSize = 0;
    int FrameRate = 0;
    int AspectRatio = 0;
    int AudioCodec = 0;
    int VideoCodec = 0;

    // Numbers as typed; each counts only while its box is ticked.
    bool AdjustVolume = false;
    QString AudioVolume = QStringLiteral("256");
    bool SetVideoBitRate = false;
    QString VideoBitRate = QStringLiteral("200"); // kilobits a second
    bool SetAudioBitRate = false;
    QString AudioBitRate = QStringLiteral("64");
    // A preset of the chosen sound format (batch::OutputFormat::presets): how it is encoded unless
    // the audio bit rate above is set; -1 or one out of range: the format's default.
    int Quality = batch::OutputFormatNamed("mp3")->defaultPreset;
    // Top, bottom, left, right.
    bool Crop = false;
    std::array<QString, 4> CropEdges = {QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0"),
                                        QStringLiteral("0")};
    bool Pad = false;
    std::array<QString, 4> PadEdges = {QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0"),
                                       QStringLiteral("0")};

    // The cut clip: ticked while it may be, and the selection in microseconds of the file.
    bool CutClip = false;
    int64_t ClipStart = 0;
    int64_t ClipEnd = 0;

    // Video hooks: the internal custom hook, else the external plug-ins of VhookFolder.
    bool CustomHook = false;
    TPluginChoice Imlib2Image, Imlib2Text, WaterMark, QuillImage, QuillText;
    bool ImageDancing = false;
    bool TextScrolling = false;
    bool WaterMarkMode = false;
    QString Imlib2Caption = QStringLiteral("VeloxC");
    QString QuillCaption = QStringLiteral("VeloxC");
    THookMode HookMode = hmStandard;
    // The modes are enabled while a plug-in box was chosen when the window last looked.
    bool HookModeEnabled = false;
    QString HookPeriods = QStringLiteral("0-5000,10000-15000");
    std::string VhookFolder; // ending in "/"

    // Video filters.
    bool VerticalFlip = false;
    bool HorizontalFlip = false;
    bool Negate = false;
    bool Scale = false;
    QString ScaleSize = QStringLiteral("320:240");
    bool Rotate = false;
    QString RotateDegrees = QStringLiteral("45");
    bool SetPTS = false;
    QString PTSExpression = QStringLiteral("0.5*PTS");

    bool CopyTimestamp = false;
    bool Overwrite = false;
    QString OutputFolder = QString::fromLatin1(kSameAsInput);

    bool operator==(const TOptionSettings &) const = default;
};
