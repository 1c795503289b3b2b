// "Output Options": every output setting of a task and the preview of the file being added; the
// builder (OptionBuilder.h) turns both into the task's two option records.
#pragma once

#include "app/OptionBuilder.h"
#include "app/OptionSettings.h"
#include "component/ConverterTypes.h"
#include "libs/Bitmap24.h"

#include <QDialog>

#include <array>
#include <cstdint>
#include <functional>
#include <string>

class QBoxLayout;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLayout;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScreen;
class QScrollArea;
class QWidget;
class TAVProbe;
class TPreviewImage;
class TRadioGroup;
class TTrackBar;

class TfrmOption : public QDialog {
    Q_OBJECT

public:
    explicit TfrmOption(QWidget *owner = nullptr);
    ~TfrmOption() override;

    // Takes over a loaded probe (not owned; it must outlive its use here): the information text,
    // the preview picture and the cut-clip scale. nullptr forgets the last one.
    void LoadProbeInfo(TAVProbe *probe);
    // The settings the controls show, and the controls set to show settings (the plug-in boxes'
    // enabled states follow the plug-in folder, not the record).
    TOptionSettings Settings() const;
    void ApplySettings(const TOptionSettings &settings);
    // What the builder needs of the probe last taken over.
    TProbeFacts ProbeFacts() const;
    // The records of one task from the settings and the probe last taken over; the hook captions
    // are shown as their lines carry them.
    void BuildOutputOptions(TOutputOptions &options);
    // Output names given to other outputs of the list, which a new one must not take.
    TNameReserved NameReserved;
    void BuildInputOptions(TInputOptions &options);
    // Start and length of the cut clip in milliseconds.
    int32_t ClipStartTime() const;
    int32_t ClipDuration() const;

    void SetupPreviewTrackBar();
    void ShowPreviewFrame();
    void UpdateHookControls();
    // The folder dialog (see BrowseForFolder.h).
    bool BrowseForFolder(const QString &title, const QString &root, QString &folder);

    // The plug-in folder, ending in "/": "vhook/" beside the program unless set otherwise.
    const std::string &VhookFolder() const { return VhookFolder_; }
    void SetVhookFolder(const std::string &folder);

    // How the output-folder button asks for a folder, and how a folder is found to be on a CD
    // or DVD; BrowseForFolder and IsOnCdRom unless replaced.
    std::function<bool(const QString &title, const QString &root, QString &folder)> ChooseFolder;
    std::function<bool(const std::string &folder)> IsCdRomFolder;

    // Handlers.
    void FormShow();
    void FormHide();
    // Whether closing with OK may go ahead.
    bool FormCloseQuery();
    void btnOutPathClick();
    void btnPTSsClick();
    void imgPreviewClick();
    void trcPreviewChange();
    void btnStartTimeClick();
    void btnEndTimeClick();
    void DoUpdateHook();
    void chkAudioVolumeClick();
    void chkCropClick();
    void chkPadClick();
    void chkRotateClick();
    void chkScaleClick();
    void chkSetPTSClick();
    void chkAudioBitRateClick();
    void chkVideoBitRateClick();
    void grpFormatsChange();

    void accept() override;

    TAVProbe *Probe = nullptr; // the probe last taken over, not owned
    int VideoStreamIndex = -1; // its first video stream
    int64_t PreviewStep = 10;  // microseconds per track bar unit
    TBitmap24 PreviewBitmap;   // a copy of the last decoded frame
    bool Updating = false;     // track bar changes do not redraw

    // Left column.
    QGroupBox *grpAVFileInfo;
    QPlainTextEdit *mmoAVFileInfo;
    TRadioGroup *grpFormats;
    TRadioGroup *grpNorm;
    TRadioGroup *grpAudioChannels;
    TRadioGroup *grpAudioSampleRate;
    QGroupBox *grpAudioVolume;
    QCheckBox *chkAudioVolume;
    QLineEdit *edtAudioVolume;
    QGroupBox *grpFrameSize;
    QComboBox *cboFrameSize;
    TRadioGroup *grpFrameRate;
    TRadioGroup *grpAspectRatio;
    QGroupBox *grpBitRate;
    QCheckBox *chkVideoBitRate;
    QLineEdit *edtVideoBitRate;
    QCheckBox *chkAudioBitRate;
    QLineEdit *edtAudioBitRate;
    QLabel *lblQuality;
    QComboBox *cboQuality; // the chosen sound format's presets
    TRadioGroup *grpAudioCodec;
    TRadioGroup *grpVideoCodec;
    QGroupBox *grpPadCrop;
    QCheckBox *chkCrop;
    QLineEdit *edtCropTop, *edtCropBottom, *edtCropLeft, *edtCropRight;
    QCheckBox *chkPad;
    QLineEdit *edtPadTop, *edtPadBottom, *edtPadLeft, *edtPadRight;

    // Right column.
    QGroupBox *grpCutClip;
    TPreviewImage *imgPreview;
    TTrackBar *trcPreview;
    QLabel *lblPTS;
    QPushButton *btnStartTime;
    QLineEdit *edtStartTime;
    QPushButton *btnEndTime;
    QLineEdit *edtEndTime;
    QCheckBox *chkCutClip;
    QGroupBox *grpVideoHook;
    QRadioButton *rdoExternalHook;
    QWidget *pnlHook;
    QCheckBox *chkImlib2Img, *chkImgDancing;
    QCheckBox *chkImlib2Txt;
    QLineEdit *edtImlib2Txt;
    QCheckBox *chkTxtScrolling;
    QCheckBox *chkWaterMark, *chkWaterMarkMode;
    QCheckBox *chkQuillHookImg;
    QCheckBox *chkQuillHookTxt;
    QLineEdit *edtQuillHookTxt;
    QRadioButton *rdoStandardHook, *rdoBeforeHook, *rdoPTSs;
    QLineEdit *edtPTSs;
    QPushButton *btnPTSs;
    QRadioButton *rdoCustomHook;
    QGroupBox *grpVideoFilter;
    QCheckBox *chkVertFlip, *chkHoriFlip, *chkNegate;
    QCheckBox *chkScale;
    QLineEdit *edtScale;
    QCheckBox *chkRotate;
    QLineEdit *edtRotate;
    QCheckBox *chkSetPTS;
    QLineEdit *edtSetPTS;
    QCheckBox *chkCopyTimestamp;
    QCheckBox *chkOverwrite;
    QLabel *lblOutPath;
    QLineEdit *edtOutPath;
    QPushButton *btnOutPath;
    QPushButton *btnOk;
    QPushButton *btnCancel;

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void FormCreate();
    // The columns side by side or one above the other, and the window's size, for the screen.
    void FitToScreen(const QScreen *screen);
    QWidget *CreateLeftColumn();
    QWidget *CreateRightColumn();
    QWidget *CreateCutClip();
    QWidget *CreateVideoHook();
    QWidget *CreateVideoFilter();

    QLayout *CreateVolumeAndSize(QWidget *column);
    QWidget *CreateBitRates(QWidget *column);
    QWidget *CreatePadCrop(QWidget *column);
    // The four edits of a side each, top, bottom, left, right.
    std::array<QLineEdit *, 4> CropEdits() const;
    std::array<QLineEdit *, 4> PadEdits() const;
    QRadioButton *HookModeButton(THookMode mode) const;
    // The quality list of the chosen format with that preset chosen (-1: its default), enabled
    // while the format has presets and no audio bit rate is typed in.
    void ShowFormatQualities(int preset);
    void EnableQuality();
    // Selects the cut clip from start to end (track bar units) as Set Start and Set End would.
    void SelectClip(int start, int end);

    // The input file as the probe holds it; empty without one.
    std::string InputFileName() const;

    // Whether the control is enabled by itself (its window may be disabled meanwhile).
    bool Enabled(const QWidget *control) const;
    int64_t ProbeDuration() const;
    QString ApplicationTitle() const;

    std::string VhookFolder_;
    QButtonGroup *HookKinds; // rdoExternalHook, rdoCustomHook
    QButtonGroup *HookModes; // rdoStandardHook, rdoBeforeHook, rdoPTSs
    QBoxLayout *Columns;     // the left and the right column
    QScrollArea *Scroller;   // around them
};
