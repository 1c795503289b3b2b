// The preview picture: a background colour with the last frame drawn on it, scaled to fit and
// centred. A click is reported.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

class TBitmap24;

class TPreviewImage : public QWidget {
    Q_OBJECT

public:
    explicit TPreviewImage(QWidget *parent = nullptr);

    // Paints everything with colour; the frame is gone.
    void Fill(const QColor &colour);
    // Draws a copy of the frame over the area; an empty bitmap draws nothing.
    void Draw(const TBitmap24 &frame);

    const QColor &Background() const { return background_; }
    // The frame on show; null while only the background is.
    const QImage &Picture() const { return picture_; }
    // Where the frame is drawn, in the widget's coordinates.
    QRect PictureRect() const;

    QSize sizeHint() const override;

signals:
    void Clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QColor background_;
    QImage picture_;
};

// A deep copy of the bitmap as an image of its own (rows of blue, green, red).
QImage BitmapImage(const TBitmap24 &bitmap);
