// Small helpers of the preview: where a picture goes in a frame, and how a time reads.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>

#include <cstdint>

// The largest rectangle of the picture's proportions inside target, centred; the insets are
// rounded to the nearest integer, halves to even. An empty picture or target gives target.
QRect FitRect(const QSize &picture, const QRect &target);

// "seconds.milliseconds" of a time in microseconds: 1234567 gives "1.234".
QString FormatPTS(int64_t microseconds);
