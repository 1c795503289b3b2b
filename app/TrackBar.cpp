#include "app/TrackBar.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>

TTrackBar::TTrackBar(QWidget *parent) : QSlider(Qt::Horizontal, parent) {}

void TTrackBar::SetSelStart(int value)
{
    selStart_ = value;
    update();
}

void TTrackBar::SetSelEnd(int value)
{
    selEnd_ = value;
    update();
}

void TTrackBar::paintEvent(QPaintEvent *event)
{
    QSlider::paintEvent(event);
    if (selEnd_ <= selStart_ || maximum() <= minimum())
        return;
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    // Handle centres at the two ends, as the handle would stand there.
    const int span = groove.width() - handle.width();
    auto at = [&](int value) {
        const int clamped = std::clamp(value, minimum(), maximum());
        return groove.left() + handle.width() / 2 +
               QStyle::sliderPositionFromValue(minimum(), maximum(), clamped, span, option.upsideDown);
    };
    const int left = at(selStart_);
    const int right = at(selEnd_);
    QPainter painter(this);
    const int height = std::max(3, groove.height() / 3);
    painter.fillRect(QRect(left, groove.center().y() - height / 2, std::max(1, right - left), height),
                     palette().color(QPalette::Highlight));
}
