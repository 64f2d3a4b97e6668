#include "InputLevelMeter.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace corvane {

namespace {
constexpr double kFloorDb = -40.0;

// Where a level lands on the bar, 0..1.
double barFraction(double peak)
{
    if (peak <= 0)
        return 0;
    return std::clamp((20.0 * std::log10(peak) - kFloorDb) / -kFloorDb, 0.0, 1.0);
}
} // namespace

InputLevelMeter::InputLevelMeter(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void InputLevelMeter::setLevel(double peak, Verdict verdict)
{
    peak = std::clamp(peak, 0.0, 1.0);
    // The bar moves in whole pixels; a change too small to see does not cost a repaint.
    const bool moved =
        std::lround(barFraction(peak) * width()) != std::lround(barFraction(peak_) * width());
    const bool recoloured = verdict != verdict_;
    peak_ = peak;
    verdict_ = verdict;
    if (moved || recoloured)
        update();
}

QSize InputLevelMeter::sizeHint() const
{
    return {160, 14};
}

QSize InputLevelMeter::minimumSizeHint() const
{
    return {60, 10};
}

void InputLevelMeter::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect area = rect();
    painter.fillRect(area, QColor(32, 32, 32));
    QColor bar;
    switch (verdict_) {
    case Verdict::Good:
        bar = QColor(60, 180, 75);
        break;
    case Verdict::TooLow:
        bar = QColor(230, 160, 30);
        break;
    case Verdict::Clipping:
        bar = QColor(220, 40, 40);
        break;
    }
    const int filled = static_cast<int>(std::lround(barFraction(peak_) * area.width()));
    painter.fillRect(QRect(area.left(), area.top(), filled, area.height()), bar);
    // Ticks every 10 dB, so the user can tell how far a change of volume moved it.
    painter.setPen(QColor(128, 128, 128));
    for (int db = -30; db < 0; db += 10) {
        const int x =
            area.left() + static_cast<int>(std::lround((db - kFloorDb) / -kFloorDb * area.width()));
        painter.drawLine(x, area.top(), x, area.bottom());
    }
}

} // namespace corvane
