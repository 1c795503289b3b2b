// A horizontal slider with a selected range drawn along its groove.
#pragma once

#include <QSlider>

class TTrackBar : public QSlider {
    Q_OBJECT

public:
    explicit TTrackBar(QWidget *parent = nullptr);

    // The selection; neither end is bound to the slider's range.
    int SelStart() const { return selStart_; }
    int SelEnd() const { return selEnd_; }
    void SetSelStart(int value);
    void SetSelEnd(int value);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int selStart_ = 0;
    int selEnd_ = 0;
};
