#pragma once

#include <QWidget>

namespace corvane {

// A bar showing the input's peak level on a decibel scale from -40 dB to full scale. The bar is
// green while the level suits, amber when it is too low and red when the input clips; whoever
// feeds it decides which.
class InputLevelMeter : public QWidget
{
    Q_OBJECT

public:
    enum class Verdict
    {
        Good,
        TooLow,
        Clipping
    };

    explicit InputLevelMeter(QWidget* parent = nullptr);

    // peak: 0..1 of full scale.
    void setLevel(double peak, Verdict verdict);
    double level() const { return peak_; }
    Verdict verdict() const { return verdict_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double peak_ = 0;
    Verdict verdict_ = Verdict::TooLow;
};

} // namespace corvane
