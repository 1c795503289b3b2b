// The probed file in the window: its information, the preview picture, the track bar that
// scrolls through it and the cut-clip selection.
#include "app/OptionFrm.h"

#include "app/PreviewGeometry.h"
#include "app/PreviewImage.h"
#include "app/TrackBar.h"

#include "probe/AVProbe.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <functional>

namespace {

// The full-size picture: closed by a click on it, Enter or Esc.
class TFramePicture : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> OnClick;

protected:
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton && OnClick)
            OnClick();
    }
};

} // namespace

int64_t TfrmOption::ProbeDuration() const
{
    if (!Probe || !Probe->FormatContext())
        return 0;
    TAVFormatInfo info;
    Probe->GetFormatInfo(info);
    // An unknown length gives a scale of nothing rather than a negative one.
    return info.Duration > 0 ? info.Duration : 0;
}

void TfrmOption::LoadProbeInfo(TAVProbe *probe)
{
    PreviewBitmap.SetSize(0, 0);
    imgPreview->Fill(QColor(0xA6, 0xCA, 0xF0));
    Probe = probe;
    VideoStreamIndex = probe ? probe->FirstVideo : -1;
    SetupPreviewTrackBar();
    ShowPreviewFrame();
    QString text = probe && probe->FormatContext() ? QString::fromStdString(probe->GetInfoText()) : QString();
    text.replace("\r\n", "\n");
    mmoAVFileInfo->setPlainText(text);
}

void TfrmOption::SetupPreviewTrackBar()
{
    Updating = true;
    const bool still = Probe && Probe->FormatContext() && Probe->FormatName() == "image2";
    trcPreview->setVisible(!still);
    trcPreview->SetSelStart(0);
    trcPreview->SetSelEnd(0);
    chkCutClip->setEnabled(false);
    chkCutClip->setChecked(false);
    edtStartTime->setText("N/A");
    edtEndTime->setText("N/A");
    if (still) {
        trcPreview->setRange(0, 0);
        Updating = false;
        return;
    }

    const int64_t duration = ProbeDuration();
    PreviewStep = 10;
    while (duration / PreviewStep > 32767)
        PreviewStep *= 10;
    const int count = static_cast<int>(duration / PreviewStep);
    // A tick about every 10 pixels of the bar.
    const int ticks = std::max(1, (trcPreview->width() - 12) / 10);
    trcPreview->setTickInterval(count / ticks);
    trcPreview->setRange(0, count);
    const int line = count > 10000 ? 1000 : count > 1000 ? 100 : count > 100 ? 10 : 1;
    trcPreview->setSingleStep(line);
    trcPreview->setPageStep(5 * line);
    trcPreview->setValue(0);
    Updating = false;
}

void TfrmOption::ShowPreviewFrame()
{
    if (Updating)
        return;
    const int64_t position = static_cast<int64_t>(trcPreview->value()) * PreviewStep;
    if (Probe && Probe->VideoCount > 0) {
        const int64_t at = trcPreview->value() == trcPreview->maximum() ? ProbeDuration() : position;
        try {
            Probe->Seek(VideoStreamIndex, at);
            const TBitmap24 &frame = Probe->DecodeFrame(VideoStreamIndex);
            imgPreview->Draw(frame);
            PreviewBitmap = frame;
        } catch (const std::exception &) {
            // A stream that cannot be decoded has no picture to show; the rest of the window works.
            PreviewBitmap.SetSize(0, 0);
        }
    }
    lblPTS->setText("PTS: " + FormatPTS(position));
}

void TfrmOption::trcPreviewChange() { ShowPreviewFrame(); }

void TfrmOption::imgPreviewClick()
{
    if (PreviewBitmap.Empty())
        return;
    QDialog window(this, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                             Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    window.setObjectName("frmFullPreview");
    window.setWindowTitle(QString::asprintf("%dx%d PTS: ", PreviewBitmap.Width(), PreviewBitmap.Height()) +
                          FormatPTS(static_cast<int64_t>(trcPreview->value()) * PreviewStep));
    auto *picture = new TFramePicture(&window);
    picture->setObjectName("imgFullPreview");
    // One picture pixel on one screen pixel, also on a scaled screen.
    QPixmap pixmap = QPixmap::fromImage(BitmapImage(PreviewBitmap));
    const QScreen *screen = this->screen();
    pixmap.setDevicePixelRatio(screen ? screen->devicePixelRatio() : 1.0);
    picture->setPixmap(pixmap);
    picture->OnClick = [&window] { window.reject(); };
    // Enter and Esc close it, as the dialog's default and cancel button would.
    auto *closer = new QPushButton(&window);
    closer->setObjectName("btnFullPreviewClose");
    closer->setDefault(true);
    closer->setFixedSize(0, 0);
    connect(closer, &QPushButton::clicked, &window, &QDialog::reject);
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(picture);
    window.setFixedSize(pixmap.deviceIndependentSize().toSize());
    if (screen) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
    window.exec();
}

void TfrmOption::btnStartTimeClick()
{
    trcPreview->SetSelStart(trcPreview->value());
    edtStartTime->setText(FormatPTS(static_cast<int64_t>(trcPreview->value()) * PreviewStep));
    chkCutClip->setEnabled(trcPreview->SelEnd() >= 1 && trcPreview->SelEnd() > trcPreview->SelStart());
}

void TfrmOption::btnEndTimeClick()
{
    trcPreview->SetSelEnd(trcPreview->value());
    edtEndTime->setText(FormatPTS(static_cast<int64_t>(trcPreview->value()) * PreviewStep));
    chkCutClip->setEnabled(trcPreview->SelEnd() >= 1 && trcPreview->SelEnd() > trcPreview->SelStart());
}
