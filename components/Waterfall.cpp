#include "Waterfall.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace corvane {

namespace {

// How fast the colour scale follows the band: a share per row, so a passing burst does not
// blank the picture.
constexpr double kFollow = 0.1;
// The scale shows at least this much above the floor, so that a band of noise stays dark.
constexpr double kMinRangeDb = 30;
constexpr double kBelowFloorDb = 3;

const std::array<QRgb, 256>& colourTable()
{
    static const std::array<QRgb, 256> table = [] {
        struct Stop
        {
            double at;
            int r, g, b;
        };
        constexpr Stop stops[] = {
            {0, 4, 4, 48}, {0.4, 20, 50, 190}, {0.7, 40, 190, 170}, {1, 255, 240, 40}};
        std::array<QRgb, 256> t{};
        for (std::size_t k = 0; k < t.size(); ++k) {
            const double v = double(k) / 255;
            std::size_t s = 0;
            while (s + 2 < std::size(stops) && v > stops[s + 1].at)
                ++s;
            const Stop &a = stops[s], &b = stops[s + 1];
            const double f = (v - a.at) / (b.at - a.at);
            const auto mix = [f](int x, int y) { return int(std::lround(x + f * (y - x))); };
            t[k] = qRgb(mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b));
        }
        return t;
    }();
    return table;
}

// A level as shown, 0..1; NaN (a bin of no power at all) counts as the floor.
double shown(double level)
{
    return level > 0 ? std::min(level, 1.0) : 0;
}

// A tick step of 1, 2 or 5 times a power of ten giving about `ticks` ticks over span.
double tickStep(double span, double ticks)
{
    const double raw = span / std::max(ticks, 1.0);
    const double decade = std::pow(10, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0})
        if (m * decade >= raw)
            return m * decade;
    return 10 * decade;
}

} // namespace

Waterfall::Waterfall(QWidget* parent)
    : QWidget(parent), markerHz_(std::numeric_limits<double>::quiet_NaN())
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::CrossCursor);
    setToolTip(tr("Click a transmission to receive it"));
}

QRgb Waterfall::colourOf(double level)
{
    const auto k = static_cast<std::size_t>(std::lround(shown(level) * 255));
    return colourTable()[k];
}

void Waterfall::clear()
{
    ring_ = QImage();
    head_ = rows_ = 0;
    latest_.clear();
    scaled_ = false;
    update();
}

double Waterfall::levelOf(float db) const
{
    return (db - floorDb_) / std::max(topDb_ - floorDb_, 1.0);
}

void Waterfall::addRow(const std::vector<float>& powerDb, double centreHz, double spanHz)
{
    if (powerDb.empty() || !(spanHz > 0))
        return;
    const int bins = int(powerDb.size());
    if (ring_.width() != bins || centreHz != centreHz_ || spanHz != spanHz_) {
        clear();
        ring_ = QImage(bins, kHistoryRows, QImage::Format_RGB32);
        ring_.fill(kBackColour);
        centreHz_ = centreHz;
        spanHz_ = spanHz;
    }
    // The floor is the median bin (most of a band is noise), the top its strongest.
    sorted_.assign(powerDb.begin(), powerDb.end());
    std::nth_element(sorted_.begin(), sorted_.begin() + bins / 2, sorted_.end());
    const double floor = sorted_[std::size_t(bins / 2)] - kBelowFloorDb;
    const double top =
        std::max(double(*std::max_element(powerDb.begin(), powerDb.end())), floor + kMinRangeDb);
    if (std::isfinite(floor) && std::isfinite(top)) {
        const double share = scaled_ ? kFollow : 1;
        floorDb_ += share * (floor - floorDb_);
        topDb_ += share * (top - topDb_);
        scaled_ = true;
    }
    head_ = (head_ + kHistoryRows - 1) % kHistoryRows;
    rows_ = std::min(rows_ + 1, kHistoryRows);
    auto* line = reinterpret_cast<QRgb*>(ring_.scanLine(head_));
    for (int k = 0; k < bins; ++k)
        line[k] = colourOf(levelOf(powerDb[std::size_t(k)]));
    latest_ = powerDb;
    update();
}

void Waterfall::setMarker(double offsetHz, bool found)
{
    markerHz_ = offsetHz;
    markerFound_ = found;
    update();
}

double Waterfall::offsetAt(double x) const
{
    return width() > 0 ? ((x + 0.5) / width() - 0.5) * spanHz_ : 0;
}

void Waterfall::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && spanHz_ > 0)
        emit tuneRequested(offsetAt(event->position().x()));
}

void Waterfall::paintScale(QPainter& painter)
{
    painter.setPen(QColor(200, 200, 200));
    const double w = width();
    const double step = tickStep(spanHz_, w / 90);
    const bool absolute = centreHz_ > 0;
    // Ticks at round frequencies: absolute ones when the centre is known.
    const double first = std::ceil((centreHz_ - spanHz_ / 2) / step) * step - centreHz_;
    for (double f = first; f <= spanHz_ / 2; f += step) {
        const double x = (f / spanHz_ + 0.5) * w;
        painter.drawLine(QPointF(x, kScaleHeight - 4), QPointF(x, kScaleHeight));
        const QString label =
            absolute ? QString::number((centreHz_ + f) / 1e6, 'f',
                                       std::clamp(int(-std::floor(std::log10(step / 1e6))), 0, 6))
                     : QString::number(f / 1e3, 'f', step < 1000 ? 1 : 0);
        painter.drawText(QRectF(x - 45, 0, 90, kScaleHeight - 4), Qt::AlignCenter,
                         label + (std::abs(f - first) < step / 2
                                      ? (absolute ? QStringLiteral(" MHz") : QStringLiteral(" kHz"))
                                      : QString()));
    }
}

void Waterfall::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor::fromRgb(kBackColour));
    if (ring_.isNull() || width() <= 0)
        return;
    const int w = width(), top = kScaleHeight + kLineHeight;
    const int bins = ring_.width();
    // The ring from head_ down to its end, then its start: newest at the top.
    const int firstPiece = std::min(kHistoryRows - head_, rows_);
    const int visible = std::max(0, height() - top);
    const int a = std::min(firstPiece, visible), b = std::min(rows_ - firstPiece, visible - a);
    if (a > 0)
        painter.drawImage(QRect(0, top, w, a), ring_, QRect(0, head_, bins, a));
    if (b > 0)
        painter.drawImage(QRect(0, top + a, w, b), ring_, QRect(0, 0, bins, b));

    // The latest power across the band, on the same colour scale.
    points_.resize(latest_.size());
    for (std::size_t k = 0; k < latest_.size(); ++k)
        points_[k] = QPointF((double(k) + 0.5) * w / bins,
                             kScaleHeight + kLineHeight * (1 - shown(levelOf(latest_[k]))));
    painter.setPen(QColor::fromRgb(kLineColour));
    painter.drawPolyline(points_.data(), int(points_.size()));
    paintScale(painter);

    if (std::isfinite(markerHz_)) {
        const double x = (markerHz_ / spanHz_ + 0.5) * w;
        painter.setPen(QColor::fromRgb(markerFound_ ? kFoundColour : kLookingColour));
        painter.drawLine(QPointF(x, kScaleHeight), QPointF(x, height()));
    }
}

} // namespace corvane
