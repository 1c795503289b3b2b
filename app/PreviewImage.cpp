#include "app/PreviewImage.h"

#include "app/PreviewGeometry.h"
#include "libs/Bitmap24.h"

#include <QMouseEvent>
#include <QPainter>

QImage BitmapImage(const TBitmap24 &bitmap)
{
    if (bitmap.Empty())
        return {};
    // Wraps the bitmap's rows where they are, then copies them out of it.
    const QImage view(bitmap.Bits(), bitmap.Width(), bitmap.Height(), static_cast<qsizetype>(bitmap.BytesPerLine()),
                      QImage::Format_BGR888);
    return view.copy();
}

TPreviewImage::TPreviewImage(QWidget *parent) : QWidget(parent), background_(Qt::white)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPreviewImage::Fill(const QColor &colour)
{
    background_ = colour;
    picture_ = QImage();
    update();
}

void TPreviewImage::Draw(const TBitmap24 &frame)
{
    if (frame.Empty())
        return;
    picture_ = BitmapImage(frame);
    update();
}

QRect TPreviewImage::PictureRect() const { return FitRect(picture_.size(), rect()); }

QSize TPreviewImage::sizeHint() const { return QSize(220, 145); }

void TPreviewImage::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), background_);
    if (picture_.isNull())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(PictureRect(), picture_);
}

void TPreviewImage::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit Clicked();
}
