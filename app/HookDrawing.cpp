#include "app/HookDrawing.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <utility>

THookAction BeforeHookAction(int64_t ptsMicroseconds)
{
    if (ptsMicroseconds < 5000000)
        return haContinue;
    if (ptsMicroseconds < 10000000)
        return haIgnore;
    if (ptsMicroseconds < 15000000)
        return haContinue;
    return haStop;
}

void FlipVertically(TBitmap24 &bitmap)
{
    const size_t rowBytes = static_cast<size_t>(bitmap.Width()) * 3;
    for (int y = 0; y < bitmap.Height() / 2; ++y)
        std::swap_ranges(bitmap.ScanLine(y), bitmap.ScanLine(y) + rowBytes, bitmap.ScanLine(bitmap.Height() - 1 - y));
}

void MirrorHorizontally(TBitmap24 &bitmap)
{
    const int width = bitmap.Width();
    for (int y = 0; y < bitmap.Height(); ++y) {
        uint8_t *row = bitmap.ScanLine(y);
        for (int x = 0; x < width / 2; ++x)
            std::swap_ranges(row + 3 * x, row + 3 * x + 3, row + 3 * (width - 1 - x));
    }
}

QImage ApplicationIconImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    // A blue disc with a white note: a sound file.
    painter.setPen(QPen(QColor(0x1d, 0x4e, 0x89), 1.5));
    painter.setBrush(QColor(0x35, 0x84, 0xe4));
    painter.drawEllipse(QRectF(1.5, 1.5, 29, 29));
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(8, 19, 7, 5.5));
    painter.drawEllipse(QRectF(17, 17, 7, 5.5));
    painter.drawRect(QRectF(13, 8, 2, 14));
    painter.drawRect(QRectF(22, 6, 2, 14));
    QPainterPath beam;
    beam.moveTo(13, 8);
    beam.lineTo(24, 6);
    beam.lineTo(24, 9);
    beam.lineTo(13, 11);
    beam.closeSubpath();
    painter.drawPath(beam);
    return image;
}

TCustomHookPainter::TCustomHookPainter(const QString &family, const QImage &icon) : Family_(family), Icon_(icon) {}

void TCustomHookPainter::Reset()
{
    std::lock_guard<std::mutex> hold(mutex_);
    fonts_.clear();
}

THookFont TCustomHookPainter::Font(int index) const
{
    std::lock_guard<std::mutex> hold(mutex_);
    const auto found = fonts_.find(index);
    return found == fonts_.end() ? THookFont{} : found->second;
}

void TCustomHookPainter::Paint(int index, TBitmap24 &bitmap, int frame, int64_t pts, bool &update, bool &stop)
{
    if (frame >= 550) {
        stop = true;
        return;
    }
    if (frame >= 100 && frame < 150) {
        update = false;
        return;
    }
    THookFont font;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        THookFont &kept = fonts_[index];
        if (frame == 1) {
            kept.Color = Qt::white;
            kept.PointSize = 12;
            kept.Bold = true;
            kept.Underline = true;
        } else if (frame == 250) {
            kept.Color = Qt::red;
            kept.PointSize = 16;
        } else if (frame == 350) {
            kept.Color = Qt::white;
            kept.Bold = true;
            kept.Underline = false;
        } else if (frame == 450) {
            kept.Bold = false;
            kept.Underline = false;
        }
        font = kept;
    }
    if (frame < 100) {
        Write(bitmap, font, QStringLiteral("VeloxC - Frame Number: %1").arg(frame), false);
    } else if (frame < 250) {
        Write(bitmap, font, QStringLiteral("VeloxC - Time Stamp: %1").arg(static_cast<qlonglong>(pts)), false);
    } else if (frame < 350) {
        Write(bitmap, font, QStringLiteral("VeloxC"), true);
    } else if (frame < 450) {
        Write(bitmap, font, QStringLiteral("Reverse Picture Vertically"), false);
        FlipVertically(bitmap);
    } else {
        Write(bitmap, font, QStringLiteral("Reverse Picture Horizontally"), false);
        MirrorHorizontally(bitmap);
    }
}

void TCustomHookPainter::Write(TBitmap24 &bitmap, const THookFont &font, const QString &text, bool withIcon) const
{
    if (bitmap.Empty())
        return;
    // The same bytes, drawn on in place.
    QImage image(bitmap.Bits(), bitmap.Width(), bitmap.Height(), static_cast<qsizetype>(bitmap.BytesPerLine()),
                 QImage::Format_BGR888);
    QPainter painter(&image);
    QFont qfont(Family_);
    qfont.setPointSize(font.PointSize);
    qfont.setBold(font.Bold);
    qfont.setUnderline(font.Underline);
    painter.setFont(qfont);
    const QRect area(10, 10, std::max(0, image.width() - 10), std::max(0, image.height() - 10));
    // A dark shadow keeps light text readable on light pictures.
    painter.setPen(Qt::black);
    painter.drawText(area.translated(1, 1), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    painter.setPen(font.Color);
    painter.drawText(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    if (withIcon && !Icon_.isNull())
        painter.drawImage(QPoint(image.width() - Icon_.width() - 10, image.height() - Icon_.height() - 10), Icon_);
}
