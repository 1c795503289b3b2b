// The options window: its controls and rules, the probed file's preview and track bar, the
// full-size picture, the message boxes and the closing rules, drawn off screen.
#include "app/PreviewImage.h"
#include "app/RadioGroup.h"
#include "app/TrackBar.h"
#include "tests/app/AppTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

using namespace app_testing;
namespace fs = std::filesystem;

namespace {

const QColor kSkyBlue(0xA6, 0xCA, 0xF0);

class OptionFrmTest : public WindowTest {
protected:
    // The colour drawn at a point of the preview, as the screen would show it.
    QColor PreviewPixel(QPoint at)
    {
        const QImage shot = window->imgPreview->grab().toImage();
        return shot.pixelColor(at * shot.devicePixelRatio());
    }
    // A video of colour bands, 160 x 120 at 25 pictures a second.
    std::string Clip(double seconds = 2.0)
    {
        const std::string path = dir.File("clip.avi");
        WriteClip(path, seconds, 160, 120, false);
        return path;
    }
    struct Box {
        QMessageBox::Icon icon;
        QString title, text;
    };
    // Runs act, which opens one message box, and closes the box.
    Box Answered(const std::function<void()> &act)
    {
        Box seen{QMessageBox::NoIcon, {}, {}};
        ModalAnswer answer([&](QWidget *modal) {
            if (auto *box = qobject_cast<QMessageBox *>(modal))
                seen = {box->icon(), box->windowTitle(), box->text()};
            modal->close();
        });
        act();
        EXPECT_EQ(answer.Answered(), 1);
        return seen;
    }
};

bool Near(const QColor &a, const QColor &b, int tolerance = 40)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

struct ToggleRow {
    QCheckBox *TfrmOption::*box;
    std::vector<QLineEdit * TfrmOption::*> edits;
};

} // namespace

TEST_F(OptionFrmTest, TheWindowHasItsCaptionAndEveryControlItsInitialValue)
{
    EXPECT_EQ(window->windowTitle(), "Output Options");
    EXPECT_EQ(window->objectName(), "frmOption");
    EXPECT_TRUE(window->windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(window->windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowContextHelpButtonHint));

    struct Group {
        const char *name, *caption;
        QStringList items;
        int index;
    };
    for (const Group &g :
         {Group{"grpFormats",
                "Output Formats",
                {"VCD", "SVCD", "DVD",  "3GP",  "AVI",    "FLV", "iPod", "MKV", "MOV", "MP4", "OGG",
                 "PSP", "RM10", "RM20", "SWF",  "WMV",    "M1V", "M2V",  "AAC", "AC3", "MP2", "MP3",
                 "WAV", "WMA",  "FLAC", "OPUS", "VORBIS", "M4A", "ALAC", "WV",  "AIFF"},
                21},
          Group{"grpNorm", "Norm(VCD/SVCD/DVD)", {"Auto", "PAL", "NTSC"}, 0},
          Group{"grpAudioChannels", "Audio Channel", {"Auto", "Mono", "Stereo"}, 0},
          Group{"grpAudioSampleRate", "Audio Sample Rate (Hz)", {"Auto", "8000", "11025", "22050", "44100"}, 0},
          Group{"grpFrameRate", "Video Frame Rate (FPS)", {"Auto", "10", "15", "25", "30"}, 0},
          Group{"grpAspectRatio", "Aspect Ratio", {"Auto", "4:3", "16:9", "37:20", "47:20"}, 0},
          Group{"grpAudioCodec", "Audio Encoder", {"Auto", "AAC", "AC3", "FLAC", "MP3"}, 0},
          Group{"grpVideoCodec", "Video Encoder", {"Auto", "DivX", "XviD", "X264"}, 0}}) {
        SCOPED_TRACE(g.name);
        auto *group = window->findChild<TRadioGroup *>(g.name);
        ASSERT_NE(group, nullptr);
        EXPECT_EQ(group->title(), g.caption);
        EXPECT_EQ(group->Items(), g.items);
        EXPECT_EQ(group->ItemIndex(), g.index);
        for (int i = 0; i < g.items.size(); ++i)
            EXPECT_EQ(group->Button(i)->text(), g.items[i]);
    }

    // The captions of the frames, boxes, options and buttons.
    const QStringList captions =
        QString("grpAVFileInfo=Source Media File Info|grpAudioVolume=Audio Volume|grpFrameSize=Video Frame Size|"
                "grpBitRate=Bit Rate (Kbps)|grpPadCrop=Crop and Pad|grpCutClip=Cut a piece clip (seconds)|"
                "grpVideoHook=Video Hook|grpVideoFilter=Video Filter|chkAudioVolume=Adjust Volume|"
                "chkVideoBitRate=Video Bit Rate|chkAudioBitRate=Audio Bit Rate|chkCrop=Crop|chkPad=Pad|"
                "chkCutClip=Cut Clip|chkImlib2Img=Imlib2 - Image|chkImgDancing=Dancing|chkImlib2Txt=Imlib2 - Text|"
                "chkTxtScrolling=Scrolling|chkWaterMark=WaterMark|chkWaterMarkMode=Mode 0/1|"
                "chkQuillHookImg=DemoHook - Image|chkQuillHookTxt=DemoHook - Text|chkVertFlip=Vertically Flip|"
                "chkHoriFlip=Horizontally Flip|chkNegate=Negate|chkScale=Scale|chkRotate=Rotate|chkSetPTS=SetPTS|"
                "chkCopyTimestamp=Copy Timestamp (decoding rm/rmvb maybe need this)|"
                "chkOverwrite=Overwrite Existing File|"
                "rdoExternalHook=External Standard Hook (please read code of option unit)|"
                "rdoCustomHook=Internal Custom Hook (please read code of main unit)|"
                "rdoStandardHook=Standard Hook Behavior|rdoBeforeHook=Enable BeforeHook Event|rdoPTSs=PTS Periods|"
                "btnStartTime=Set Start|btnEndTime=Set End|btnPTSs=?|btnOutPath=...|btnOk=OK|btnCancel=Cancel|"
                "lblOutPath=Output Folder")
            .split('|');
    for (const QString &entry : captions) {
        const QString name = entry.section('=', 0, 0);
        const QWidget *control = window->findChild<QWidget *>(name);
        ASSERT_NE(control, nullptr) << name.toStdString();
        const auto *group = qobject_cast<const QGroupBox *>(control);
        const auto *button = qobject_cast<const QAbstractButton *>(control);
        const auto *label = qobject_cast<const QLabel *>(control);
        const QString text = group ? group->title() : button ? button->text() : label ? label->text() : "";
        EXPECT_EQ(text, entry.section('=', 1)) << name.toStdString();
    }
    // Nothing ticked; the plug-in boxes are off until their files are found.
    const QStringList plugins = {"chkImlib2Img", "chkImgDancing",    "chkImlib2Txt",    "chkTxtScrolling",
                                 "chkWaterMark", "chkWaterMarkMode", "chkQuillHookImg", "chkQuillHookTxt"};
    const QList<QCheckBox *> boxes = window->findChildren<QCheckBox *>();
    ASSERT_EQ(boxes.size(), 22);
    for (const QCheckBox *box : boxes) {
        EXPECT_FALSE(box->isChecked()) << box->objectName().toStdString();
        EXPECT_EQ(box->isEnabled(), !plugins.contains(box->objectName())) << box->objectName().toStdString();
    }
    // The two kinds exclude each other, and so do the three modes.
    EXPECT_TRUE(window->rdoExternalHook->isChecked() && window->rdoStandardHook->isChecked());
    EXPECT_FALSE(window->rdoCustomHook->isChecked() || window->rdoBeforeHook->isChecked() ||
                 window->rdoPTSs->isChecked());
    window->rdoCustomHook->setChecked(true);
    EXPECT_FALSE(window->rdoExternalHook->isChecked());
    window->rdoPTSs->setChecked(true);
    EXPECT_FALSE(window->rdoStandardHook->isChecked());
    EXPECT_TRUE(window->rdoCustomHook->isChecked());

    // Every edit off but those only shown, which are read only.
    const QStringList shown = {"edtStartTime", "edtEndTime", "edtOutPath"};
    using Text = std::pair<const char *, const char *>;
    for (const auto &[name, text] : {Text{"edtAudioVolume", "256"}, {"edtVideoBitRate", "200"},
                                     {"edtAudioBitRate", "64"},     {"edtCropTop", "0"},
                                     {"edtCropBottom", "0"},        {"edtCropLeft", "0"},
                                     {"edtCropRight", "0"},         {"edtPadTop", "0"},
                                     {"edtPadBottom", "0"},         {"edtPadLeft", "0"},
                                     {"edtPadRight", "0"},          {"edtStartTime", "0"},
                                     {"edtEndTime", "0"},           {"edtImlib2Txt", "VeloxC"},
                                     {"edtQuillHookTxt", "VeloxC"}, {"edtPTSs", "0-5000,10000-15000"},
                                     {"edtScale", "320:240"},       {"edtRotate", "45"},
                                     {"edtSetPTS", "0.5*PTS"},      {"edtOutPath", "<same as input>"}}) {
        SCOPED_TRACE(name);
        auto *edit = window->findChild<QLineEdit *>(name);
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->text(), text);
        EXPECT_EQ(edit->isEnabled(), shown.contains(name));
        EXPECT_EQ(edit->isReadOnly(), shown.contains(name));
    }
    EXPECT_EQ(window->edtAudioVolume->toolTip(), "256=normal");
    EXPECT_TRUE(window->btnOk->isDefault());
    EXPECT_NE(window->findChild<QWidget *>("pnlHook"), nullptr);
    EXPECT_EQ(window->imgPreview->toolTip(), "Click to view current picture in actual size");
    EXPECT_EQ(window->imgPreview->size(), QSize(220, 145));
    EXPECT_EQ(window->trcPreview->tickPosition(), QSlider::TicksAbove);
    EXPECT_TRUE(window->PreviewBitmap.Empty());

    ASSERT_NE(window->findChild<QPlainTextEdit *>("mmoAVFileInfo"), nullptr);
    EXPECT_TRUE(window->mmoAVFileInfo->isReadOnly());
    EXPECT_EQ(window->mmoAVFileInfo->toPlainText(), "");
    EXPECT_EQ(window->mmoAVFileInfo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(window->mmoAVFileInfo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

    QStringList sizes;
    for (int i = 0; i < window->cboFrameSize->count(); ++i)
        sizes << window->cboFrameSize->itemText(i);
    EXPECT_EQ(sizes,
              QStringList({"Auto - Original",    "128x96 - sqcif",     "176x144 - qcif",     "352x288 - cif",
                           "704x576 - 4cif",     "160x120 - qqvga",    "320x240 - qvga",     "640x480 - vga",
                           "800x600 - svga",     "1024x768 - xga",     "1600x1200 - uxga",   "2048x1536 - qxga",
                           "1280x1024 - sxga",   "2560x2048 - qsxga",  "5120x4096 - hsxga",  "852x480 - wvga",
                           "1366x768 - wxga",    "1600x1024 - wsxga",  "1920x1200 - wuxga",  "2560x1600 - woxga",
                           "3200x2048 - wqsxga", "3840x2400 - wquxga", "6400x4096 - whsxga", "7680x4800 - whuxga",
                           "320x200 - cga",      "640x350 - ega",      "852x480 - hd480",    "1280x720 - hd720",
                           "1920x1080 - hd1080"}));
    EXPECT_EQ(window->cboFrameSize->currentIndex(), 0);
    EXPECT_FALSE(window->cboFrameSize->isEditable());
}

TEST_F(OptionFrmTest, EachCheckBoxEnablesItsEditsExactlyWhileChecked)
{
    using F = TfrmOption;
    const std::vector<ToggleRow> rows = {
        {&F::chkAudioVolume, {&F::edtAudioVolume}},
        {&F::chkVideoBitRate, {&F::edtVideoBitRate}},
        {&F::chkAudioBitRate, {&F::edtAudioBitRate}},
        {&F::chkScale, {&F::edtScale}},
        {&F::chkRotate, {&F::edtRotate}},
        {&F::chkSetPTS, {&F::edtSetPTS}},
        {&F::chkCrop, {&F::edtCropTop, &F::edtCropBottom, &F::edtCropLeft, &F::edtCropRight}},
        {&F::chkPad, {&F::edtPadTop, &F::edtPadBottom, &F::edtPadLeft, &F::edtPadRight}},
    };
    window->show();
    for (const ToggleRow &row : rows) {
        QCheckBox *box = (*window).*row.box;
        SCOPED_TRACE(box->objectName().toStdString());
        for (bool checked : {true, false, true}) {
            QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center() - QPoint(box->width() / 2 - 8, 0));
            ASSERT_EQ(box->isChecked(), checked);
            for (auto edit : row.edits)
                EXPECT_EQ(((*window).*edit)->isEnabled(), checked) << ((*window).*edit)->objectName().toStdString();
        }
        // Every other row is untouched by this one.
        for (const ToggleRow &other : rows) {
            if (other.box == row.box || ((*window).*other.box)->isChecked())
                continue;
            for (auto edit : other.edits) {
                EXPECT_FALSE(((*window).*edit)->isEnabled());
            }
        }
    }
    // Crop and pad stay on together.
    EXPECT_TRUE(window->chkCrop->isChecked() && window->chkPad->isChecked());
    EXPECT_TRUE(window->edtCropTop->isEnabled() && window->edtPadTop->isEnabled());
}

// The quality list shows the chosen sound format's presets at its default, "Lossless" alone where
// there are none, nothing for a video format; it is off while an audio bit rate is typed in.
TEST_F(OptionFrmTest, TheQualityListFollowsTheChosenFormat)
{
    EXPECT_EQ(window->lblQuality->text(), "Quality");
    using Row = std::tuple<const char *, const char *, int>; // item, shown, presets
    for (const auto &[item, shown, count] : {Row{"AVI", "", 0}, Row{"WAV", "Lossless", 0}, Row{"FLAC", "Level 5", 9},
                                             Row{"VORBIS", "Quality 5 (about 160 kbit/s)", 12}}) {
        window->grpFormats->SetItemIndex(window->grpFormats->Items().indexOf(item));
        EXPECT_EQ(window->cboQuality->currentText(), shown);
        EXPECT_EQ(window->cboQuality->count(), std::max(count, *shown ? 1 : 0)) << item;
        for (bool typed : {true, false}) {
            window->chkAudioBitRate->setChecked(typed);
            EXPECT_EQ(window->cboQuality->isEnabled(), count > 0 && !typed) << item;
        }
    }
}

TEST_F(OptionFrmTest, HookBoxesFollowThePluginFilesAndTheirMasters)
{
    struct Row {
        std::vector<std::string> files;
        bool imlib2, watermark, quill;
    };
    for (const Row &row : {Row{{}, false, false, false}, Row{{"imlib2.so"}, true, false, false},
                           Row{{"watermark.so"}, false, true, false}, Row{{"QuillHook.so"}, false, false, true},
                           Row{{"imlib2.so", "watermark.so", "QuillHook.so"}, true, true, true},
                           // Windows names count for nothing here.
                           Row{{"imlib2.dll", "watermark.dll", "QuillHook.dll"}, false, false, false}}) {
        SCOPED_TRACE(row.files.empty() ? "none" : row.files.front());
        fs::remove_all(vhook);
        fs::create_directories(vhook);
        for (const std::string &file : row.files)
            Touch((vhook / file).string());
        for (QCheckBox *box : {window->chkImlib2Img, window->chkImlib2Txt, window->chkWaterMark,
                               window->chkQuillHookImg, window->chkQuillHookTxt})
            box->setEnabled(true); // as a stale state would leave them: the show recomputes
        window->show();
        EXPECT_FALSE(window->rdoStandardHook->isEnabled());
        EXPECT_EQ(window->focusWidget(), window->grpFormats->Button(21)) << "the chosen format's";
        EXPECT_EQ(window->chkImlib2Img->isEnabled(), row.imlib2);
        EXPECT_EQ(window->chkImlib2Txt->isEnabled(), row.imlib2);
        EXPECT_EQ(window->chkWaterMark->isEnabled(), row.watermark);
        EXPECT_EQ(window->chkQuillHookImg->isEnabled(), row.quill);
        EXPECT_EQ(window->chkQuillHookTxt->isEnabled(), row.quill);
        window->hide();
    }

    // Every plug-in there: the dependants follow their masters, the modes any checked hook.
    for (const char *file : {"imlib2.so", "watermark.so", "QuillHook.so"})
        Touch((vhook / file).string());
    window->show();
    struct Master {
        QCheckBox *master;
        std::vector<QWidget *> dependants;
    };
    for (const Master &m :
         {Master{window->chkImlib2Img, {window->chkImgDancing}},
          Master{window->chkImlib2Txt, {window->edtImlib2Txt, window->chkTxtScrolling}},
          Master{window->chkWaterMark, {window->chkWaterMarkMode}}, Master{window->chkQuillHookImg, {}},
          Master{window->chkQuillHookTxt, {window->edtQuillHookTxt}}}) {
        SCOPED_TRACE(m.master->objectName().toStdString());
        EXPECT_FALSE(window->rdoStandardHook->isEnabled());
        m.master->click();
        for (QWidget *dependant : m.dependants)
            EXPECT_TRUE(dependant->isEnabled()) << dependant->objectName().toStdString();
        EXPECT_TRUE(window->rdoStandardHook->isEnabled());
        EXPECT_TRUE(window->rdoBeforeHook->isEnabled());
        EXPECT_TRUE(window->rdoPTSs->isEnabled());
        EXPECT_FALSE(window->edtPTSs->isEnabled());
        window->rdoPTSs->click();
        EXPECT_TRUE(window->edtPTSs->isEnabled());
        window->rdoStandardHook->click();
        EXPECT_FALSE(window->edtPTSs->isEnabled());
        m.master->click();
        for (QWidget *dependant : m.dependants)
            EXPECT_FALSE(dependant->isEnabled()) << dependant->objectName().toStdString();
    }

    // The internal kind disables every plug-in box and with them the modes.
    window->chkWaterMark->click();
    window->rdoPTSs->click();
    ASSERT_TRUE(window->edtPTSs->isEnabled());
    window->rdoCustomHook->click();
    for (QWidget *control : std::initializer_list<QWidget *>{
             window->chkImlib2Img, window->chkImlib2Txt, window->chkWaterMark, window->chkQuillHookImg,
             window->chkQuillHookTxt, window->chkWaterMarkMode, window->rdoStandardHook, window->rdoBeforeHook,
             window->rdoPTSs, window->edtPTSs})
        EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    window->rdoExternalHook->click();
    EXPECT_TRUE(window->chkWaterMarkMode->isEnabled());
    EXPECT_TRUE(window->edtPTSs->isEnabled());
}

TEST_F(OptionFrmTest, ATenMinuteFileScalesTheTrackBarInTenthsOfASecond)
{
    const std::string file = dir.File("ten minutes.wav");
    WriteSineWav(file, 600.0, 8000, 1);
    Load(file);
    EXPECT_EQ(window->PreviewStep, 100000);
    EXPECT_EQ(window->trcPreview->minimum(), 0);
    EXPECT_EQ(window->trcPreview->maximum(), 6000);
    EXPECT_EQ(window->trcPreview->singleStep(), 100);
    EXPECT_EQ(window->trcPreview->pageStep(), 500);
    EXPECT_EQ(window->trcPreview->tickInterval(), 300);
    EXPECT_EQ(window->trcPreview->value(), 0);
    EXPECT_FALSE(window->trcPreview->isHidden());
    // A file without video: the memo is filled, the picture stays sky blue, the time shows.
    EXPECT_TRUE(window->mmoAVFileInfo->toPlainText().contains("Duration: 00:10:00"));
    EXPECT_FALSE(window->mmoAVFileInfo->toPlainText().contains('\r'));
    EXPECT_TRUE(window->imgPreview->Picture().isNull());
    EXPECT_EQ(window->imgPreview->Background(), kSkyBlue);
    EXPECT_EQ(PreviewPixel(QPoint(110, 72)), kSkyBlue);
    EXPECT_EQ(window->lblPTS->text(), "PTS: 0.000");
    window->trcPreview->setValue(1234);
    EXPECT_EQ(window->lblPTS->text(), "PTS: 123.400");
    EXPECT_TRUE(window->PreviewBitmap.Empty());
    EXPECT_EQ(PreviewPixel(QPoint(10, 10)), kSkyBlue);
    // Loading starts the cut clip afresh.
    EXPECT_EQ(window->edtStartTime->text(), "N/A");
    EXPECT_EQ(window->edtEndTime->text(), "N/A");
    EXPECT_FALSE(window->chkCutClip->isEnabled());
}

TEST_F(OptionFrmTest, ThePreviewStepIsTheSmallestPowerOfTenThatFitsTheBar)
{
    struct Row {
        int rate;
        int samples;
        int64_t step;
        int maximum;
    };
    // 32 767 samples at 10 kHz last exactly 3 276 700 microseconds.
    for (const Row &row : {Row{10000, 32767, 100, 32767}, Row{10000, 32768, 1000, 3276}, Row{8000, 2620, 10, 32750},
                           Row{8000, 2622, 100, 3277}}) {
        SCOPED_TRACE(std::to_string(row.samples) + " at " + std::to_string(row.rate));
        const std::string file = dir.File("n" + std::to_string(row.samples) + ".wav");
        WriteSineWav(file, static_cast<double>(row.samples) / row.rate, row.rate, 1);
        Load(file);
        TAVFormatInfo info;
        probe.GetFormatInfo(info);
        ASSERT_EQ(info.Duration, int64_t{row.samples} * 1000000 / row.rate);
        EXPECT_EQ(window->PreviewStep, row.step);
        EXPECT_EQ(window->trcPreview->maximum(), row.maximum);
    }
}

TEST_F(OptionFrmTest, AVideoShowsItsPictureAndTheBarMovesThroughIt)
{
    Load(Clip(2.0));
    TAVFormatInfo info;
    probe.GetFormatInfo(info);
    ASSERT_EQ(info.Duration, 2000000);
    EXPECT_EQ(window->PreviewStep, 100);
    EXPECT_EQ(window->trcPreview->maximum(), 20000);
    EXPECT_EQ(window->trcPreview->singleStep(), 1000);
    EXPECT_EQ(window->VideoStreamIndex, probe.FirstVideo);
    ASSERT_EQ(window->PreviewBitmap.Width(), 160);
    ASSERT_EQ(window->PreviewBitmap.Height(), 120);
    ASSERT_FALSE(window->imgPreview->Picture().isNull());

    // 160 x 120 fills the full height of 220 x 145; sky blue stays left and right of it.
    const QRect drawn = window->imgPreview->PictureRect();
    EXPECT_EQ(drawn, QRect(13, 0, 194, 145));
    EXPECT_EQ(PreviewPixel(QPoint(3, 72)), kSkyBlue);
    EXPECT_EQ(PreviewPixel(QPoint(216, 72)), kSkyBlue);
    for (int band = 0; band < kBandCount; ++band) {
        const int x = drawn.left() + (2 * band + 1) * drawn.width() / (2 * kBandCount);
        const QColor expected(kBandColours[band][0], kBandColours[band][1], kBandColours[band][2]);
        EXPECT_TRUE(Near(PreviewPixel(QPoint(x, 72)), expected)) << "band " << band;
    }

    window->trcPreview->setValue(12345);
    EXPECT_EQ(window->lblPTS->text(), "PTS: 1.234");
    EXPECT_EQ(window->PreviewBitmap.Width(), 160);
    // The end of the bar shows the picture at the file's end, not a black one past it.
    window->trcPreview->setValue(window->trcPreview->maximum());
    EXPECT_EQ(window->lblPTS->text(), "PTS: 2.000");
    EXPECT_TRUE(Near(PreviewPixel(QPoint(drawn.left() + drawn.width() / 16, 72)), Qt::white));

    // Loading another file starts again in sky blue.
    const std::string wav = dir.File("tone.wav");
    WriteSineWav(wav, 0.5);
    Load(wav);
    EXPECT_TRUE(window->PreviewBitmap.Empty());
    EXPECT_EQ(PreviewPixel(QPoint(110, 72)), kSkyBlue);
}

// While updating, and when the window hides and empties the bar, nothing is redrawn.
TEST_F(OptionFrmTest, WhileUpdatingOrHidingTheBarDoesNotRedraw)
{
    Load(Clip(1.0));
    window->show();
    const QString label = window->lblPTS->text();
    window->Updating = true;
    window->trcPreview->setValue(5000);
    EXPECT_EQ(window->lblPTS->text(), label);
    window->Updating = false;
    window->trcPreviewChange();
    EXPECT_EQ(window->lblPTS->text(), "PTS: 0.500");
    window->hide();
    EXPECT_EQ(window->trcPreview->maximum(), 0);
    EXPECT_EQ(window->lblPTS->text(), "PTS: 0.500");
    EXPECT_FALSE(window->Updating);
}

TEST_F(OptionFrmTest, AStillPictureHidesTheBarAndShowsThePicture)
{
    const std::string still = dir.File("still.png");
    WriteStill(still);
    Load(still, "image2");
    EXPECT_TRUE(window->trcPreview->isHidden());
    EXPECT_EQ(window->trcPreview->maximum(), 0);
    EXPECT_EQ(window->trcPreview->minimum(), 0);
    ASSERT_EQ(window->PreviewBitmap.Width(), 160);
    EXPECT_FALSE(window->imgPreview->Picture().isNull());
    EXPECT_TRUE(Near(PreviewPixel(window->imgPreview->PictureRect().topLeft() + QPoint(2, 60)), Qt::white));
    EXPECT_EQ(window->edtStartTime->text(), "N/A");
    // A later video shows the bar again.
    Load(Clip(1.0));
    EXPECT_FALSE(window->trcPreview->isHidden());
}

TEST_F(OptionFrmTest, SetStartAndSetEndEnableTheCutClipForARealSelection)
{
    Load(Clip(2.0));
    struct Step {
        int position;
        bool start; // else end
        const char *text;
        bool cutClip;
    };
    for (const Step &s :
         {Step{5000, true, "0.500", false}, Step{5000, false, "0.500", false}, Step{15000, false, "1.500", true},
          Step{16000, true, "1.600", false}, Step{0, true, "0.000", true}, Step{0, false, "0.000", false},
          Step{1, false, "0.000", true}}) {
        SCOPED_TRACE(std::to_string(s.position) + (s.start ? " start" : " end"));
        window->trcPreview->setValue(s.position);
        (s.start ? window->btnStartTime : window->btnEndTime)->click();
        EXPECT_EQ((s.start ? window->edtStartTime : window->edtEndTime)->text(), s.text);
        EXPECT_EQ((s.start ? window->trcPreview->SelStart() : window->trcPreview->SelEnd()), s.position);
        EXPECT_EQ(window->chkCutClip->isEnabled(), s.cutClip);
    }
}

TEST_F(OptionFrmTest, ClickingThePictureShowsItAtFullSizeUntilClickEnterOrEsc)
{
    // Nothing decoded: no window.
    window->imgPreviewClick();

    Load(Clip(2.0));
    window->trcPreview->setValue(12345);
    enum Close { Click, Enter, Escape };
    for (Close how : {Click, Enter, Escape}) {
        SCOPED_TRACE(how);
        QString title;
        QSize client;
        ModalAnswer answer([&](QWidget *modal) {
            title = modal->windowTitle();
            client = modal->size();
            if (how == Click)
                QTest::mouseClick(modal->findChild<QLabel *>("imgFullPreview"), Qt::LeftButton);
            else
                QTest::keyClick(modal, how == Enter ? Qt::Key_Return : Qt::Key_Escape);
        });
        QTest::mouseClick(window->imgPreview, Qt::LeftButton);
        EXPECT_EQ(answer.Answered(), 1);
        EXPECT_EQ(title, "160x120 PTS: 1.234");
        EXPECT_EQ(client, QSize(160, 120));
    }
    // Freed after it closed.
    EXPECT_EQ(window->findChild<QDialog *>("frmFullPreview"), nullptr);
}

TEST_F(OptionFrmTest, TheQuestionMarkExplainsThePeriods)
{
    const Box box = Answered([&] { window->btnPTSs->click(); });
    EXPECT_EQ(box.icon, QMessageBox::Information);
    EXPECT_EQ(box.title, "Video Hook PTS Periods");
    EXPECT_EQ(box.text, "Enable Video Hook only in special periods, empty means whole duration enabled.\n"
                        "format: [<pts1>-<pts2>[,pts3-pts4[,...]]]\n"
                        "example: to process video hook only in pts periods 0-5,10-15 (seconds)\n"
                        "         PTS Periosd(millisecond!!!) -> \"0-5000,10000-15000\"");
}

// OK is refused while the output would go onto a disc, and so is a folder there; one off the disc
// is taken and OK closes. Cancel always closes.
TEST_F(OptionFrmTest, OkIsRefusedWhileTheOutputWouldGoOntoADisc)
{
    Load(Clip(0.5));
    const fs::path disc = dir.Path() / "disc", out = dir.Path() / "out";
    fs::create_directories(disc);
    fs::create_directories(out);
    std::vector<std::string> asked;
    window->IsCdRomFolder = [&](const std::string &folder) {
        asked.push_back(folder);
        return folder.rfind(disc.string(), 0) == 0 || folder == dir.Path().string();
    };
    window->show();

    // Beside an input that lies on a disc.
    const Box beside = Answered([&] { window->btnOk->click(); });
    EXPECT_EQ(asked, std::vector<std::string>{dir.Path().string()});
    EXPECT_EQ(beside.icon, QMessageBox::Information);
    EXPECT_EQ(beside.text, "Input folder is located in CD-ROM, please select output folder.");
    EXPECT_EQ(beside.title, QApplication::applicationDisplayName());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->result(), 0);
    EXPECT_EQ(window->focusWidget(), window->btnOutPath);

    // A chosen folder on a disc is refused with its own words, and the edit keeps its text. The
    // dialog starts beside the input while outputs go there, then at the chosen folder.
    QString startedAt, answer = QString::fromStdString(disc.string() + "/");
    window->ChooseFolder = [&](const QString &caption, const QString &, QString &folder) {
        EXPECT_EQ(caption, "Select Output Folder");
        startedAt = folder;
        folder = answer;
        return !answer.isEmpty();
    };
    EXPECT_EQ(Answered([&] { window->btnOutPath->click(); }).text, "Output folder cannot be located in CD-ROM.");
    EXPECT_EQ(window->edtOutPath->text(), "<same as input>");
    window->btnCancel->click();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Rejected);

    window->show();
    answer = QString::fromStdString(out.string() + "/");
    window->btnOutPath->click();
    EXPECT_EQ(startedAt.toStdString(), dir.Path().string());
    EXPECT_EQ(window->edtOutPath->text(), answer);
    answer.clear(); // cancelled: nothing changes
    window->btnOutPath->click();
    EXPECT_EQ(startedAt.toStdString(), out.string() + "/");
    EXPECT_EQ(window->edtOutPath->text().toStdString(), out.string() + "/");
    window->btnOk->click();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Accepted);
}

TEST_F(OptionFrmTest, TheLayoutKeepsEveryCaptionWholeAndNothingOverlaps)
{
    for (int points : {0, 16}) {
        SCOPED_TRACE(points);
        TfrmOption big;
        if (points > 0) {
            QFont font = big.font();
            font.setPointSize(points);
            big.setFont(font);
        }
        big.resize(big.sizeHint().expandedTo(QSize(1, 1)));
        big.show();
        QApplication::processEvents();
        // The columns scroll inside the window; the buttons below them do not.
        QWidget *columns = big.findChild<QScrollArea *>("sbxOptions")->widget();
        auto container = [&](QWidget *w) { return columns->isAncestorOf(w) ? columns : static_cast<QWidget *>(&big); };
        const QList<QWidget *> controls = big.findChildren<QWidget *>();
        std::vector<QWidget *> leaves;
        for (QWidget *w : controls) {
            if (!w->isVisibleTo(&big) || w->width() == 0)
                continue;
            if (!qobject_cast<QAbstractButton *>(w) && !qobject_cast<QLabel *>(w) && !qobject_cast<QLineEdit *>(w) &&
                !qobject_cast<QComboBox *>(w))
                continue;
            leaves.push_back(w);
            // Every caption whole: a button at least as wide as its text, the rest at their minimum.
            const std::string name = w->objectName().toStdString();
            if (auto *edit = qobject_cast<QLineEdit *>(w)) {
                const int text = w->fontMetrics().horizontalAdvance(edit->text().isEmpty() ? "0" : edit->text());
                if (edit->property("widthInCharacters").isValid()) {
                    EXPECT_GE(edit->width(), text + 4) << name;
                }
            } else if (auto *button = qobject_cast<QPushButton *>(w)) {
                EXPECT_GE(w->width(), w->fontMetrics().horizontalAdvance(button->text()) + 8) << name;
                EXPECT_GE(w->height(), w->fontMetrics().height()) << name;
            } else if (qobject_cast<QAbstractButton *>(w) || qobject_cast<QLabel *>(w)) {
                EXPECT_GE(w->width(), w->minimumSizeHint().width()) << name;
                EXPECT_GE(w->height(), w->minimumSizeHint().height()) << name;
            }
        }
        ASSERT_GT(leaves.size(), 80u);
        for (size_t i = 0; i < leaves.size(); ++i)
            for (size_t j = i + 1; j < leaves.size(); ++j) {
                QWidget *within = container(leaves[i]);
                if (within != container(leaves[j]))
                    continue;
                const QRect a(leaves[i]->mapTo(within, QPoint()), leaves[i]->size());
                const QRect b(leaves[j]->mapTo(within, QPoint()), leaves[j]->size());
                if (leaves[i]->isAncestorOf(leaves[j]) || leaves[j]->isAncestorOf(leaves[i]))
                    continue;
                EXPECT_FALSE(a.intersects(b))
                    << leaves[i]->objectName().toStdString() << " and " << leaves[j]->objectName().toStdString();
            }
    }
}

// On a small screen, at a large font too, the window fits the screen's free area with room for a
// title bar as large as two lines: its columns scroll inside, with the wheel too, and OK and
// Cancel stay in sight.
TEST_F(OptionFrmTest, TheWindowFitsASmallScreenWithOkAndCancelInSight)
{
    const struct Restore {
        QFont usual = QApplication::font();
        ~Restore() { QApplication::setFont(usual); }
    } fonts;
    for (double scale : {1.0, 2.0}) {
        SCOPED_TRACE(scale);
        QFont font = fonts.usual;
        font.setPointSizeF(fonts.usual.pointSizeF() * scale);
        QApplication::setFont(font);
        TfrmOption small;
        small.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&small));
        const QRect free = small.screen()->availableGeometry();
        ASSERT_LT(free.height(), small.findChild<QScrollArea *>("sbxOptions")->widget()->sizeHint().height());
        EXPECT_TRUE(free.contains(small.geometry()));
        EXPECT_LE(small.height() + 2 * small.fontMetrics().height(), free.height());
        for (const QPushButton *button : {small.btnOk, small.btnCancel})
            EXPECT_TRUE(small.rect().contains(QRect(button->mapTo(&small, QPoint()), button->size())));
        // The wheel over a list without the focus is left to the columns, the list's choice kept.
        EXPECT_GT(small.findChild<QScrollArea *>("sbxOptions")->verticalScrollBar()->maximum(), 0);
        const QPoint at = small.cboFrameSize->rect().center();
        QWheelEvent wheel(at, small.cboFrameSize->mapToGlobal(at), {}, {0, -120}, Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(small.cboFrameSize, &wheel);
        EXPECT_EQ(small.cboFrameSize->currentIndex(), 0);
        EXPECT_FALSE(wheel.isAccepted()) << "the system hands it on to the scrolled area";
    }
}

TEST_F(OptionFrmTest, TheSettingsReadBackAreTheSettingsSet)
{
    TOptionSettings initial;
    initial.VhookFolder = window->VhookFolder();
    EXPECT_EQ(window->Settings(), initial);

    for (const char *file : {"watermark.so", "QuillHook.so"})
        Touch((vhook / file).string());
    // Plug-ins found, nothing ticked.
    TOptionSettings plain = initial;
    plain.WaterMark.Enabled = plain.QuillImage.Enabled = plain.QuillText.Enabled = true;

    TOptionSettings every = plain;
    every.Format = OptionsIndexOf("ogg");
    every.Norm = 2;
    every.AudioChannels = 1;
    every.AudioSampleRate = 3;
    every.FrameSize = 28;
    every.FrameRate = 2;
    every.AspectRatio = 4;
    every.AudioCodec = 3;
    every.VideoCodec = 2;
    every.AdjustVolume = every.SetVideoBitRate = every.SetAudioBitRate = every.Crop = every.Pad = true;
    every.AudioVolume = "300";
    every.VideoBitRate = "500";
    every.AudioBitRate = "96";
    every.Quality = 5;
    every.CropEdges = {"2", "4", "6", "8"};
    every.PadEdges = {"10", "12", "14", "16"};
    every.CutClip = true;
    every.ClipStart = 1000 * window->PreviewStep;
    every.ClipEnd = 5000 * window->PreviewStep;
    every.Imlib2Image.Checked = every.WaterMark.Checked = every.QuillText.Checked = true; // imlib2.so is not there
    every.ImageDancing = every.TextScrolling = every.WaterMarkMode = true;
    every.Imlib2Caption = "Hi";
    every.QuillCaption = "There";
    every.HookMode = hmPeriods;
    every.HookModeEnabled = true;
    every.HookPeriods = "1000-2000";
    every.VerticalFlip = every.HorizontalFlip = every.Negate = every.Scale = every.Rotate = every.SetPTS = true;
    every.ScaleSize = "160:120";
    every.RotateDegrees = "90";
    every.PTSExpression = "2*PTS";
    every.CopyTimestamp = every.Overwrite = true;
    every.OutputFolder = "/srv/out/";

    // The custom hook disables every plug-in box and the modes; no format and no size chosen.
    TOptionSettings custom = plain;
    custom.CustomHook = true;
    custom.WaterMark = {true, false};
    custom.QuillImage.Enabled = custom.QuillText.Enabled = false;
    custom.HookMode = hmBeforeHook;
    custom.Format = custom.FrameSize = custom.Quality = -1;

    for (const TOptionSettings &settings : {every, custom, plain}) {
        window->ApplySettings(settings);
        EXPECT_EQ(window->Settings(), settings);
    }
}
