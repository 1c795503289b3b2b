// The window's answers to the two per-frame hooks of a run: which frames the plug-in hooks act on,
// and what is drawn on each frame handed over as a picture. Both answer on the calling thread.
#pragma once

#include "component/ConverterTypes.h"
#include "libs/Bitmap24.h"

#include <QColor>
#include <QImage>
#include <QString>

#include <cstdint>
#include <map>
#include <mutex>

// By the frame's time in microseconds: on up to 5 s, off up to 10 s, on up to 15 s, then stop.
THookAction BeforeHookAction(int64_t ptsMicroseconds);

// Turns the picture upside down, or left to right, in place.
void FlipVertically(TBitmap24 &bitmap);
void MirrorHorizontally(TBitmap24 &bitmap);

// The program's icon, drawn at size x size pixels.
QImage ApplicationIconImage(int size);

// The font a frame's text is written with; it carries over from frame to frame of a task.
struct THookFont {
    int PointSize = 8;
    QColor Color = Qt::black;
    bool Bold = false;
    bool Underline = false;
};

// Draws on the frames of every task by frame number, each task with its own font.
class TCustomHookPainter {
public:
    // family: the font family of the texts; icon: the picture drawn at frames 250 to 349.
    TCustomHookPainter(const QString &family, const QImage &icon);

    // What the custom hook does with frame number frame of task index; update false leaves the
    // frame as it came, stop true asks for no more frames. Tasks may call at the same time.
    void Paint(int index, TBitmap24 &bitmap, int frame, int64_t pts, bool &update, bool &stop);
    // Forgets every task's font (a new run).
    void Reset();
    THookFont Font(int index) const;

private:
    void Write(TBitmap24 &bitmap, const THookFont &font, const QString &text, bool withIcon) const;

    const QString Family_;
    const QImage Icon_;
    mutable std::mutex mutex_;
    std::map<int, THookFont> fonts_;
};
