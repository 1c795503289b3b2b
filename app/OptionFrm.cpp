// The window itself: its controls, their initial values and enabling rules.
#include "app/OptionFrm.h"

#include "app/BrowseForFolder.h"
#include "app/CdRomFolder.h"
#include "app/OptionChoices.h"
#include "app/PreviewImage.h"
#include "app/RadioGroup.h"
#include "app/ScreenRoom.h"
#include "app/TrackBar.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QStyle>
#include <QVBoxLayout>
#include <QVariant>

#include <filesystem>

namespace {

// The values the controls start with.
const TOptionSettings &Initial()
{
    static const TOptionSettings initial;
    return initial;
}

template <class T>
T *Named(T *control, const char *name)
{
    control->setObjectName(QString::fromLatin1(name));
    return control;
}

QCheckBox *CheckBox(const char *name, const QString &caption, QWidget *parent)
{
    return Named(new QCheckBox(caption, parent), name);
}

QLineEdit *Edit(const char *name, const QString &text, QWidget *parent, bool enabled = true)
{
    auto *edit = Named(new QLineEdit(text, parent), name);
    edit->setEnabled(enabled);
    return edit;
}

// Wide enough for about chars characters of its font; kept so when the font changes.
void SetWidthInCharacters(QLineEdit *edit, int chars)
{
    edit->setProperty("widthInCharacters", chars);
    const int width = edit->fontMetrics().horizontalAdvance(QString(chars, QLatin1Char('0'))) +
                      2 * edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, edit) + 8;
    edit->setMinimumWidth(width);
    edit->setMaximumWidth(width);
}

// A choice of the window, "Auto" (its first item) chosen.
TRadioGroup *AutoChoice(const char *name, const QString &caption, const QStringList &items, QWidget *parent)
{
    auto *group = new TRadioGroup(name, caption, items, static_cast<int>(items.size()), parent);
    group->SetItemIndex(0);
    return group;
}

QGroupBox *Group(const char *name, const QString &caption, QWidget *parent)
{
    return Named(new QGroupBox(caption, parent), name);
}

bool FileExists(const std::string &path)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

std::string ProgramFolder()
{
    std::string folder = QCoreApplication::applicationDirPath().toStdString();
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// A list or the track bar in the scrolled columns takes the wheel only once it has the focus:
// turned over it, the wheel scrolls the window on instead of changing a setting.
class TWheelPast : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Wheel || static_cast<QWidget *>(watched)->hasFocus())
            return false;
        event->ignore(); // on to the scrolled area
        return true;
    }
};

} // namespace

TfrmOption::TfrmOption(QWidget *owner) : QDialog(owner)
{
    setObjectName("frmOption");
    setWindowTitle("Output Options");
    // Title bar with the system menu and close button only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    ChooseFolder = [this](const QString &title, const QString &root, QString &folder) {
        return ::BrowseForFolder(this, title, root, folder);
    };
    IsCdRomFolder = [](const std::string &folder) { return IsOnCdRom(folder); };
    VhookFolder_ = ProgramFolder() + "vhook/";

    auto *body = new QWidget;
    Columns = new QBoxLayout(QBoxLayout::LeftToRight, body);
    Columns->setContentsMargins(0, 0, 0, 0);
    Columns->addWidget(CreateLeftColumn(), 1);
    Columns->addWidget(CreateRightColumn(), 1);

    // The columns scroll when the screen is too small for them at the chosen font size.
    Scroller = Named(new QScrollArea(this), "sbxOptions");
    Scroller->setFrameShape(QFrame::NoFrame);
    Scroller->setWidgetResizable(true);
    Scroller->setWidget(body);

    btnOk = Named(new QPushButton("OK", this), "btnOk");
    btnOk->setDefault(true);
    btnCancel = Named(new QPushButton("Cancel", this), "btnCancel");
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Scroller, 1);
    layout->addLayout(buttons);

    connect(btnOk, &QPushButton::clicked, this, &TfrmOption::accept);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmOption::reject);

    FormCreate();

    FitToScreen(owner ? owner->screen() : nullptr);
    layout->activate();
}

TfrmOption::~TfrmOption() = default;

void TfrmOption::FitToScreen(const QScreen *screen)
{
    // Side by side where the screen is wide enough, else one column above the other, so that the
    // window scrolls downwards only. As large as the content wants, within the screen with the
    // window manager's frame: the columns scroll, OK and Cancel stay in sight.
    const QSize room = ClientRoom(*this, screen);
    const QMargins margins = layout()->contentsMargins();
    const int across = style()->pixelMetric(QStyle::PM_ScrollBarExtent) + margins.left() + margins.right();
    Columns->setDirection(QBoxLayout::LeftToRight);
    if (Scroller->widget()->sizeHint().width() + across > room.width())
        Columns->setDirection(QBoxLayout::TopToBottom);
    const QSize content = Scroller->widget()->sizeHint();
    const QSize wanted(content.width() + across, content.height() + btnOk->sizeHint().height() + layout()->spacing() +
                                                     margins.top() + margins.bottom());
    resize(wanted.boundedTo(room));
}

QWidget *TfrmOption::CreateLeftColumn()
{
    auto *column = new QWidget;
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    grpAVFileInfo = Group("grpAVFileInfo", "Source Media File Info", column);
    mmoAVFileInfo = Named(new QPlainTextEdit(grpAVFileInfo), "mmoAVFileInfo");
    mmoAVFileInfo->setReadOnly(true);
    mmoAVFileInfo->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmoAVFileInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmoAVFileInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmoAVFileInfo->setMinimumHeight(mmoAVFileInfo->fontMetrics().lineSpacing() * 6);
    (new QVBoxLayout(grpAVFileInfo))->addWidget(mmoAVFileInfo);
    layout->addWidget(grpAVFileInfo, 1);

    grpFormats = new TRadioGroup("grpFormats", "Output Formats", OutputFormatItems(), 6, column);
    grpFormats->SetItemIndex(Initial().Format);
    layout->addWidget(grpFormats);

    grpNorm = AutoChoice("grpNorm", "Norm(VCD/SVCD/DVD)", ChoiceItems(kNorms), column);
    grpAudioChannels = AutoChoice("grpAudioChannels", "Audio Channel", ChoiceItems(kAudioChannelItems), column);
    auto *normAndChannels = new QHBoxLayout;
    normAndChannels->addWidget(grpNorm);
    normAndChannels->addWidget(grpAudioChannels);
    layout->addLayout(normAndChannels);

    grpAudioSampleRate =
        AutoChoice("grpAudioSampleRate", "Audio Sample Rate (Hz)", ChoiceItems(kAudioSampleRates), column);
    layout->addWidget(grpAudioSampleRate);
    layout->addLayout(CreateVolumeAndSize(column));

    grpFrameRate = AutoChoice("grpFrameRate", "Video Frame Rate (FPS)", ChoiceItems(kFrameRates), column);
    layout->addWidget(grpFrameRate);
    grpAspectRatio = AutoChoice("grpAspectRatio", "Aspect Ratio", ChoiceItems(kAspectRatios), column);
    layout->addWidget(grpAspectRatio);
    layout->addWidget(CreateBitRates(column));

    grpAudioCodec = AutoChoice("grpAudioCodec", "Audio Encoder", ChoiceItems(kAudioCodecs), column);
    layout->addWidget(grpAudioCodec);
    grpVideoCodec = AutoChoice("grpVideoCodec", "Video Encoder", ChoiceItems(kVideoCodecs), column);
    layout->addWidget(grpVideoCodec);
    layout->addWidget(CreatePadCrop(column));
    return column;
}

QLayout *TfrmOption::CreateVolumeAndSize(QWidget *column)
{
    grpAudioVolume = Group("grpAudioVolume", "Audio Volume", column);
    chkAudioVolume = CheckBox("chkAudioVolume", "Adjust Volume", grpAudioVolume);
    edtAudioVolume = Edit("edtAudioVolume", Initial().AudioVolume, grpAudioVolume, false);
    edtAudioVolume->setToolTip("256=normal");
    SetWidthInCharacters(edtAudioVolume, 6);
    auto *volume = new QHBoxLayout(grpAudioVolume);
    volume->addWidget(chkAudioVolume);
    volume->addWidget(edtAudioVolume);
    volume->addStretch(1);

    grpFrameSize = Group("grpFrameSize", "Video Frame Size", column);
    cboFrameSize = Named(new QComboBox(grpFrameSize), "cboFrameSize");
    cboFrameSize->addItems(ChoiceItems(kFrameSizes));
    cboFrameSize->setCurrentIndex(Initial().FrameSize);
    (new QHBoxLayout(grpFrameSize))->addWidget(cboFrameSize, 1);
    auto *volumeAndSize = new QHBoxLayout;
    volumeAndSize->addWidget(grpAudioVolume);
    volumeAndSize->addWidget(grpFrameSize, 1);
    return volumeAndSize;
}

QWidget *TfrmOption::CreateBitRates(QWidget *column)
{
    grpBitRate = Group("grpBitRate", "Bit Rate (Kbps)", column);
    chkVideoBitRate = CheckBox("chkVideoBitRate", "Video Bit Rate", grpBitRate);
    edtVideoBitRate = Edit("edtVideoBitRate", Initial().VideoBitRate, grpBitRate, false);
    chkAudioBitRate = CheckBox("chkAudioBitRate", "Audio Bit Rate", grpBitRate);
    edtAudioBitRate = Edit("edtAudioBitRate", Initial().AudioBitRate, grpBitRate, false);
    SetWidthInCharacters(edtVideoBitRate, 6);
    SetWidthInCharacters(edtAudioBitRate, 6);
    auto *bitRates = new QHBoxLayout(grpBitRate);
    bitRates->addWidget(chkVideoBitRate);
    bitRates->addWidget(edtVideoBitRate);
    bitRates->addSpacing(12);
    bitRates->addWidget(chkAudioBitRate);
    bitRates->addWidget(edtAudioBitRate);
    bitRates->addSpacing(12);
    // A sound format's quality unless an audio bit rate is typed in.
    lblQuality = Named(new QLabel("Quality", grpBitRate), "lblQuality");
    cboQuality = Named(new QComboBox(grpBitRate), "cboQuality");
    cboQuality->addItems(AllPresetCaptions());
    cboQuality->setMinimumWidth(cboQuality->sizeHint().width());
    cboQuality->clear();
    lblQuality->setBuddy(cboQuality);
    bitRates->addWidget(lblQuality);
    bitRates->addWidget(cboQuality);
    bitRates->addStretch(1);
    return grpBitRate;
}

QWidget *TfrmOption::CreatePadCrop(QWidget *column)
{
    grpPadCrop = Group("grpPadCrop", "Crop and Pad", column);
    auto *grid = new QGridLayout(grpPadCrop);
    grid->setVerticalSpacing(2);
    const char *headings[] = {"Top", "Bottom", "Left", "Right"};
    for (int i = 0; i < 4; ++i)
        grid->addWidget(new QLabel(headings[i], grpPadCrop), 0, i + 1, Qt::AlignHCenter);
    chkCrop = CheckBox("chkCrop", "Crop", grpPadCrop);
    edtCropTop = Edit("edtCropTop", Initial().CropEdges[0], grpPadCrop, false);
    edtCropBottom = Edit("edtCropBottom", Initial().CropEdges[1], grpPadCrop, false);
    edtCropLeft = Edit("edtCropLeft", Initial().CropEdges[2], grpPadCrop, false);
    edtCropRight = Edit("edtCropRight", Initial().CropEdges[3], grpPadCrop, false);
    chkPad = CheckBox("chkPad", "Pad", grpPadCrop);
    edtPadTop = Edit("edtPadTop", Initial().PadEdges[0], grpPadCrop, false);
    edtPadBottom = Edit("edtPadBottom", Initial().PadEdges[1], grpPadCrop, false);
    edtPadLeft = Edit("edtPadLeft", Initial().PadEdges[2], grpPadCrop, false);
    edtPadRight = Edit("edtPadRight", Initial().PadEdges[3], grpPadCrop, false);
    grid->addWidget(chkCrop, 1, 0);
    grid->addWidget(chkPad, 2, 0);
    const std::array<QLineEdit *, 4> crops = CropEdits(), pads = PadEdits();
    for (int i = 0; i < 4; ++i) {
        SetWidthInCharacters(crops[i], 5);
        SetWidthInCharacters(pads[i], 5);
        grid->addWidget(crops[i], 1, i + 1);
        grid->addWidget(pads[i], 2, i + 1);
    }
    grid->setColumnStretch(5, 1);
    return grpPadCrop;
}

std::array<QLineEdit *, 4> TfrmOption::CropEdits() const
{
    return {edtCropTop, edtCropBottom, edtCropLeft, edtCropRight};
}
std::array<QLineEdit *, 4> TfrmOption::PadEdits() const { return {edtPadTop, edtPadBottom, edtPadLeft, edtPadRight}; }

QWidget *TfrmOption::CreateRightColumn()
{
    auto *column = new QWidget;
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(CreateCutClip());
    layout->addWidget(CreateVideoHook());
    layout->addWidget(CreateVideoFilter());

    chkCopyTimestamp = CheckBox("chkCopyTimestamp", "Copy Timestamp (decoding rm/rmvb maybe need this)", column);
    chkOverwrite = CheckBox("chkOverwrite", "Overwrite Existing File", column);
    layout->addWidget(chkCopyTimestamp);
    layout->addWidget(chkOverwrite);

    lblOutPath = Named(new QLabel("Output Folder", column), "lblOutPath");
    edtOutPath = Edit("edtOutPath", QString(), column);
    edtOutPath->setReadOnly(true);
    btnOutPath = Named(new QPushButton("...", column), "btnOutPath");
    btnOutPath->setMaximumWidth(btnOutPath->fontMetrics().horizontalAdvance("....") + 16);
    lblOutPath->setBuddy(edtOutPath);
    auto *outPath = new QHBoxLayout;
    outPath->addWidget(lblOutPath);
    outPath->addWidget(edtOutPath, 1);
    outPath->addWidget(btnOutPath);
    layout->addLayout(outPath);
    layout->addStretch(1);

    connect(btnOutPath, &QPushButton::clicked, this, &TfrmOption::btnOutPathClick);
    return column;
}

QWidget *TfrmOption::CreateCutClip()
{
    grpCutClip = Group("grpCutClip", "Cut a piece clip (seconds)", nullptr);
    imgPreview = Named(new TPreviewImage(grpCutClip), "imgPreview");
    imgPreview->setFixedSize(220, 145);
    imgPreview->setCursor(Qt::PointingHandCursor);
    trcPreview = Named(new TTrackBar(grpCutClip), "trcPreview");
    trcPreview->setFixedWidth(220);
    trcPreview->setTickPosition(QSlider::TicksAbove);
    trcPreview->setRange(0, 0);
    // A hidden slider keeps its place, so nothing below it moves for a still picture.
    QSizePolicy keep = trcPreview->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    trcPreview->setSizePolicy(keep);
    lblPTS = Named(new QLabel("PTS: 0.000", grpCutClip), "lblPTS");

    btnStartTime = Named(new QPushButton("Set Start", grpCutClip), "btnStartTime");
    edtStartTime = Edit("edtStartTime", "0", grpCutClip);
    edtStartTime->setReadOnly(true);
    btnEndTime = Named(new QPushButton("Set End", grpCutClip), "btnEndTime");
    edtEndTime = Edit("edtEndTime", "0", grpCutClip);
    edtEndTime->setReadOnly(true);
    SetWidthInCharacters(edtStartTime, 10);
    SetWidthInCharacters(edtEndTime, 10);
    chkCutClip = CheckBox("chkCutClip", "Cut Clip", grpCutClip);

    auto *picture = new QVBoxLayout;
    picture->setSpacing(2);
    picture->addWidget(imgPreview);
    picture->addWidget(trcPreview);
    picture->addWidget(lblPTS);
    picture->addStretch(1);
    auto *times = new QVBoxLayout;
    times->setSpacing(2);
    times->addWidget(btnStartTime);
    times->addWidget(edtStartTime);
    times->addSpacing(6);
    times->addWidget(btnEndTime);
    times->addWidget(edtEndTime);
    times->addSpacing(6);
    times->addWidget(chkCutClip);
    times->addStretch(1);
    auto *layout = new QHBoxLayout(grpCutClip);
    layout->addLayout(picture);
    layout->addLayout(times);
    layout->addStretch(1);

    connect(trcPreview, &QSlider::valueChanged, this, &TfrmOption::trcPreviewChange);
    connect(imgPreview, &TPreviewImage::Clicked, this, &TfrmOption::imgPreviewClick);
    connect(btnStartTime, &QPushButton::clicked, this, &TfrmOption::btnStartTimeClick);
    connect(btnEndTime, &QPushButton::clicked, this, &TfrmOption::btnEndTimeClick);
    return grpCutClip;
}

QWidget *TfrmOption::CreateVideoHook()
{
    grpVideoHook = Group("grpVideoHook", "Video Hook", nullptr);
    rdoExternalHook = Named(new QRadioButton("External Standard Hook (please read code of option unit)", grpVideoHook),
                            "rdoExternalHook");
    rdoCustomHook =
        Named(new QRadioButton("Internal Custom Hook (please read code of main unit)", grpVideoHook), "rdoCustomHook");
    HookKinds = new QButtonGroup(this);
    HookKinds->addButton(rdoExternalHook);
    HookKinds->addButton(rdoCustomHook);
    (Initial().CustomHook ? rdoCustomHook : rdoExternalHook)->setChecked(true);

    pnlHook = Named(new QWidget(grpVideoHook), "pnlHook");
    chkImlib2Img = CheckBox("chkImlib2Img", "Imlib2 - Image", pnlHook);
    chkImgDancing = CheckBox("chkImgDancing", "Dancing", pnlHook);
    chkImgDancing->setEnabled(false);
    chkImlib2Txt = CheckBox("chkImlib2Txt", "Imlib2 - Text", pnlHook);
    edtImlib2Txt = Edit("edtImlib2Txt", Initial().Imlib2Caption, pnlHook, false);
    chkTxtScrolling = CheckBox("chkTxtScrolling", "Scrolling", pnlHook);
    chkTxtScrolling->setEnabled(false);
    chkWaterMark = CheckBox("chkWaterMark", "WaterMark", pnlHook);
    chkWaterMarkMode = CheckBox("chkWaterMarkMode", "Mode 0/1", pnlHook);
    chkWaterMarkMode->setEnabled(false);
    chkQuillHookImg = CheckBox("chkQuillHookImg", "DemoHook - Image", pnlHook);
    chkQuillHookTxt = CheckBox("chkQuillHookTxt", "DemoHook - Text", pnlHook);
    edtQuillHookTxt = Edit("edtQuillHookTxt", Initial().QuillCaption, pnlHook, false);
    rdoStandardHook = Named(new QRadioButton("Standard Hook Behavior", pnlHook), "rdoStandardHook");
    rdoBeforeHook = Named(new QRadioButton("Enable BeforeHook Event", pnlHook), "rdoBeforeHook");
    rdoPTSs = Named(new QRadioButton("PTS Periods", pnlHook), "rdoPTSs");
    HookModes = new QButtonGroup(this);
    HookModes->addButton(rdoStandardHook);
    HookModes->addButton(rdoBeforeHook);
    HookModes->addButton(rdoPTSs);
    HookModeButton(Initial().HookMode)->setChecked(true);
    edtPTSs = Edit("edtPTSs", Initial().HookPeriods, pnlHook, false);
    btnPTSs = Named(new QPushButton("?", pnlHook), "btnPTSs");
    btnPTSs->setMaximumWidth(btnPTSs->fontMetrics().horizontalAdvance("??") + 16);

    auto *grid = new QGridLayout(pnlHook);
    grid->setContentsMargins(20, 0, 0, 0);
    grid->setVerticalSpacing(2);
    grid->addWidget(chkImlib2Img, 0, 0);
    grid->addWidget(chkImgDancing, 0, 1);
    grid->addWidget(chkImlib2Txt, 1, 0);
    grid->addWidget(edtImlib2Txt, 1, 1);
    grid->addWidget(chkTxtScrolling, 1, 2);
    grid->addWidget(chkWaterMark, 2, 0);
    grid->addWidget(chkWaterMarkMode, 2, 1);
    grid->addWidget(chkQuillHookImg, 3, 0);
    grid->addWidget(chkQuillHookTxt, 4, 0);
    grid->addWidget(edtQuillHookTxt, 4, 1);
    grid->addWidget(rdoStandardHook, 5, 0);
    grid->addWidget(rdoBeforeHook, 5, 1, 1, 2);
    auto *periods = new QHBoxLayout;
    periods->addWidget(edtPTSs, 1);
    periods->addWidget(btnPTSs);
    grid->addWidget(rdoPTSs, 6, 0);
    grid->addLayout(periods, 6, 1, 1, 2);
    grid->setColumnStretch(1, 1);

    auto *layout = new QVBoxLayout(grpVideoHook);
    layout->setSpacing(2);
    layout->addWidget(rdoExternalHook);
    layout->addWidget(pnlHook);
    layout->addWidget(rdoCustomHook);

    for (QAbstractButton *control : std::initializer_list<QAbstractButton *>{
             rdoExternalHook, rdoCustomHook, rdoStandardHook, rdoBeforeHook, rdoPTSs, chkImlib2Img, chkImlib2Txt,
             chkWaterMark, chkQuillHookImg, chkQuillHookTxt})
        connect(control, &QAbstractButton::toggled, this, &TfrmOption::DoUpdateHook);
    connect(btnPTSs, &QPushButton::clicked, this, &TfrmOption::btnPTSsClick);
    return grpVideoHook;
}

QWidget *TfrmOption::CreateVideoFilter()
{
    grpVideoFilter = Group("grpVideoFilter", "Video Filter", nullptr);
    chkVertFlip = CheckBox("chkVertFlip", "Vertically Flip", grpVideoFilter);
    chkHoriFlip = CheckBox("chkHoriFlip", "Horizontally Flip", grpVideoFilter);
    chkNegate = CheckBox("chkNegate", "Negate", grpVideoFilter);
    chkScale = CheckBox("chkScale", "Scale", grpVideoFilter);
    edtScale = Edit("edtScale", Initial().ScaleSize, grpVideoFilter, false);
    chkRotate = CheckBox("chkRotate", "Rotate", grpVideoFilter);
    edtRotate = Edit("edtRotate", Initial().RotateDegrees, grpVideoFilter, false);
    chkSetPTS = CheckBox("chkSetPTS", "SetPTS", grpVideoFilter);
    edtSetPTS = Edit("edtSetPTS", Initial().PTSExpression, grpVideoFilter, false);
    SetWidthInCharacters(edtScale, 8);
    SetWidthInCharacters(edtRotate, 5);
    SetWidthInCharacters(edtSetPTS, 8);

    auto *grid = new QGridLayout(grpVideoFilter);
    grid->setVerticalSpacing(2);
    grid->addWidget(chkVertFlip, 0, 0, 1, 2);
    grid->addWidget(chkHoriFlip, 0, 2, 1, 2);
    grid->addWidget(chkNegate, 0, 4, 1, 2);
    grid->addWidget(chkScale, 1, 0);
    grid->addWidget(edtScale, 1, 1);
    grid->addWidget(chkRotate, 1, 2);
    grid->addWidget(edtRotate, 1, 3);
    grid->addWidget(chkSetPTS, 1, 4);
    grid->addWidget(edtSetPTS, 1, 5);
    grid->setColumnStretch(6, 1);

    connect(chkScale, &QCheckBox::toggled, this, &TfrmOption::chkScaleClick);
    connect(chkRotate, &QCheckBox::toggled, this, &TfrmOption::chkRotateClick);
    connect(chkSetPTS, &QCheckBox::toggled, this, &TfrmOption::chkSetPTSClick);
    return grpVideoFilter;
}

void TfrmOption::FormCreate()
{
    imgPreview->setToolTip("Click to view current picture in actual size");
    auto *wheel = new TWheelPast(this);
    for (QWidget *control : std::initializer_list<QWidget *>{cboFrameSize, cboQuality, trcPreview}) {
        control->setFocusPolicy(Qt::StrongFocus);
        control->installEventFilter(wheel);
    }
    edtOutPath->setText(Initial().OutputFolder);
    PreviewBitmap.SetSize(0, 0);

    connect(chkAudioVolume, &QCheckBox::toggled, this, &TfrmOption::chkAudioVolumeClick);
    connect(chkVideoBitRate, &QCheckBox::toggled, this, &TfrmOption::chkVideoBitRateClick);
    connect(chkAudioBitRate, &QCheckBox::toggled, this, &TfrmOption::chkAudioBitRateClick);
    connect(chkCrop, &QCheckBox::toggled, this, &TfrmOption::chkCropClick);
    connect(chkPad, &QCheckBox::toggled, this, &TfrmOption::chkPadClick);
    connect(grpFormats, &TRadioGroup::ItemIndexChanged, this, &TfrmOption::grpFormatsChange);
    ShowFormatQualities(Initial().Quality);
    // The hook boxes follow the plug-in files from the start, not only once the window is shown:
    // the builder runs on a window that is never shown.
    UpdateHookControls();
}

void TfrmOption::SetVhookFolder(const std::string &folder)
{
    // Hook lines carry absolute paths: the engine loads them from another current folder.
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
    VhookFolder_ = ec || folder.empty() ? folder : absolute.string();
    if (!VhookFolder_.empty() && VhookFolder_.back() != '/')
        VhookFolder_ += '/';
    UpdateHookControls();
}

bool TfrmOption::Enabled(const QWidget *control) const { return control->isEnabledTo(this); }

void TfrmOption::UpdateHookControls()
{
    const bool external = rdoExternalHook->isChecked();
    auto present = [this](const char *file) { return FileExists(VhookFolder_ + file); };
    // Imlib2's own libraries come from the system's search path here, not from the folder.
    const bool imlib2 = external && present("imlib2.so");
    chkImlib2Img->setEnabled(imlib2);
    chkImlib2Txt->setEnabled(imlib2);
    chkWaterMark->setEnabled(external && present("watermark.so"));
    const bool quill = external && present("QuillHook.so");
    chkQuillHookImg->setEnabled(quill);
    chkQuillHookTxt->setEnabled(quill);

    auto on = [this](const QCheckBox *box) { return Enabled(box) && box->isChecked(); };
    chkImgDancing->setEnabled(on(chkImlib2Img));
    edtImlib2Txt->setEnabled(on(chkImlib2Txt));
    chkTxtScrolling->setEnabled(on(chkImlib2Txt));
    chkWaterMarkMode->setEnabled(on(chkWaterMark));
    edtQuillHookTxt->setEnabled(on(chkQuillHookTxt));

    const bool anyHook =
        on(chkImlib2Img) || on(chkImlib2Txt) || on(chkWaterMark) || on(chkQuillHookImg) || on(chkQuillHookTxt);
    rdoStandardHook->setEnabled(anyHook);
    rdoBeforeHook->setEnabled(anyHook);
    rdoPTSs->setEnabled(anyHook);
    edtPTSs->setEnabled(Enabled(rdoPTSs) && rdoPTSs->isChecked());
}

void TfrmOption::DoUpdateHook() { UpdateHookControls(); }

void TfrmOption::chkAudioVolumeClick() { edtAudioVolume->setEnabled(chkAudioVolume->isChecked()); }
void TfrmOption::chkVideoBitRateClick() { edtVideoBitRate->setEnabled(chkVideoBitRate->isChecked()); }
void TfrmOption::chkAudioBitRateClick()
{
    edtAudioBitRate->setEnabled(chkAudioBitRate->isChecked());
    EnableQuality();
}

void TfrmOption::grpFormatsChange() { ShowFormatQualities(-1); }

void TfrmOption::ShowFormatQualities(int preset)
{
    // A video format has no list; a sound format without presets shows "Lossless".
    const batch::OutputFormat *format = batch::OutputFormatOfOptionsIndex(grpFormats->ItemIndex());
    cboQuality->clear();
    if (format) {
        cboQuality->addItems(PresetCaptions(*format));
        cboQuality->setCurrentIndex(format->presets.empty() ? 0 : PresetOf(*format, preset));
    }
    EnableQuality();
}

void TfrmOption::EnableQuality()
{
    const batch::OutputFormat *format = batch::OutputFormatOfOptionsIndex(grpFormats->ItemIndex());
    cboQuality->setEnabled(format && !format->presets.empty() && !chkAudioBitRate->isChecked());
}
void TfrmOption::chkScaleClick() { edtScale->setEnabled(chkScale->isChecked()); }
void TfrmOption::chkRotateClick() { edtRotate->setEnabled(chkRotate->isChecked()); }
void TfrmOption::chkSetPTSClick() { edtSetPTS->setEnabled(chkSetPTS->isChecked()); }

void TfrmOption::chkCropClick()
{
    for (QLineEdit *edit : CropEdits())
        edit->setEnabled(chkCrop->isChecked());
}

void TfrmOption::chkPadClick()
{
    for (QLineEdit *edit : PadEdits())
        edit->setEnabled(chkPad->isChecked());
}

void TfrmOption::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() != QEvent::FontChange)
        return;
    for (QLineEdit *edit : findChildren<QLineEdit *>())
        if (const QVariant chars = edit->property("widthInCharacters"); chars.isValid())
            SetWidthInCharacters(edit, chars.toInt());
}

void TfrmOption::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmOption::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    if (!event->spontaneous())
        FormHide();
}

void TfrmOption::FormShow()
{
    // Within the screen it is shown on, which may be smaller than the one it was made for.
    FitToScreen(screen());
    move(CentredPosition(*this, screen(), size()));
    UpdateHookControls();
    if (QRadioButton *chosen = grpFormats->Button(grpFormats->ItemIndex()); chosen && chosen->isEnabled())
        chosen->setFocus();
}

void TfrmOption::FormHide()
{
    Updating = true;
    trcPreview->setMaximum(0);
    Updating = false;
}

void TfrmOption::btnPTSsClick()
{
    QMessageBox::information(this, "Video Hook PTS Periods",
                             "Enable Video Hook only in special periods, empty means whole duration enabled.\n"
                             "format: [<pts1>-<pts2>[,pts3-pts4[,...]]]\n"
                             "example: to process video hook only in pts periods 0-5,10-15 (seconds)\n"
                             "         PTS Periosd(millisecond!!!) -> \"0-5000,10000-15000\"");
}
