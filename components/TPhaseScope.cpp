#include "TPhaseScope.h"

#include <QEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

namespace corvane {

namespace {

constexpr double kHalfPi = 1.5707963267948966;
constexpr double kTwoPi = 6.283185307179586;
constexpr int kTicks = 32;
// Far outside any widget; a needle longer than this is shortened to it.
constexpr double kFarAway = 1 << 20;

// Plain Bresenham from `from` toward `to`, leaving out the last pixel as the dial's line
// drawing always has. Qt's own thin lines may run in either direction, which moves the gap.
void drawThinLine(QImage& image, QPoint from, QPoint to, QRgb color)
{
    int x = from.x();
    int y = from.y();
    const int dx = std::abs(to.x() - x);
    const int dy = -std::abs(to.y() - y);
    const int sx = x < to.x() ? 1 : -1;
    const int sy = y < to.y() ? 1 : -1;
    int err = dx + dy;
    while (x != to.x() || y != to.y()) {
        if (image.rect().contains(x, y))
            image.setPixel(x, y, color);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

// A 2-pixel pen with round ends along the segment between two pixel corners: every pixel
// whose centre lies within one pixel of the segment. Doing it by hand keeps both ends exact
// and copes with ends far outside the image without asking the rasteriser to clip.
void drawWideLine(QImage& image, QPointF from, QPointF to, QRgb color)
{
    constexpr double radius = 1.0;
    const double left = std::max(0.0, std::floor(std::min(from.x(), to.x()) - radius));
    const double right =
        std::min(image.width() - 1.0, std::ceil(std::max(from.x(), to.x()) + radius));
    const double top = std::max(0.0, std::floor(std::min(from.y(), to.y()) - radius));
    const double bottom =
        std::min(image.height() - 1.0, std::ceil(std::max(from.y(), to.y()) + radius));
    if (left > right || top > bottom)
        return;
    const double vx = to.x() - from.x();
    const double vy = to.y() - from.y();
    const double len2 = vx * vx + vy * vy;
    for (int y = static_cast<int>(top); y <= static_cast<int>(bottom); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = static_cast<int>(left); x <= static_cast<int>(right); ++x) {
            const double px = x + 0.5 - from.x();
            const double py = y + 0.5 - from.y();
            const double t = len2 > 0.0 ? std::clamp((px * vx + py * vy) / len2, 0.0, 1.0) : 0.0;
            const double ex = px - t * vx;
            const double ey = py - t * vy;
            if (ex * ex + ey * ey <= radius * radius)
                line[x] = color;
        }
    }
}

QPen widePen(const QColor& color)
{
    QPen pen(color, 2);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

// Parametric angle (Qt's arc convention, in 1/16 degree) of the point where the ray from the
// box's centre toward `toward` meets the ellipse inscribed in `box`.
int arcAngle16(const QRectF& box, QPointF toward)
{
    const QPointF c = box.center();
    const double dx = toward.x() - c.x();
    const double dy = c.y() - toward.y(); // screen y grows downward, arc angles upward
    const double a = box.width() / 2.0;
    const double b = box.height() / 2.0;
    const double param = std::atan2(dy * a, dx * b);
    return static_cast<int>(std::lround(param * 180.0 / std::numbers::pi * 16.0));
}

} // namespace

TPhaseScope::TPhaseScope(QWidget* parent) : QWidget(parent)
{
    // The dial covers every pixel, so nothing of the parent needs painting behind it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    resize(100, 100);
}

TPhaseScope::~TPhaseScope() = default;

void TPhaseScope::setPhase(float phase)
{
    if (std::isnan(phase))
        phase = 0.0f;
    if (phase == phase_)
        return;
    phase_ = phase;
    refresh();
}

void TPhaseScope::setAmpl(float ampl)
{
    if (std::isnan(ampl))
        ampl = 0.0f;
    if (ampl == ampl_)
        return;
    ampl_ = ampl;
    refresh();
}

void TPhaseScope::setForeColor(const QColor& color)
{
    if (color == foreColor_)
        return;
    foreColor_ = color;
    refresh();
}

void TPhaseScope::setBackColor(const QColor& color)
{
    if (color == backColor_)
        return;
    backColor_ = color;
    dialSize_ = QSize(0, 0); // the face and the tick grey come from it
    refresh();
}

void TPhaseScope::setText(const QString& text)
{
    // Kept for whoever reads it back; the dial does not show it.
    text_ = text;
}

void TPhaseScope::refresh()
{
    // Callers see the new picture as soon as the setter returns.
    if (isVisible())
        repaint();
}

void TPhaseScope::changeEvent(QEvent* event)
{
    // The corners and the rim come from the palette: a new one needs a new dial.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        dialSize_ = QSize(0, 0);
    QWidget::changeEvent(event);
}

void TPhaseScope::renderDial(QSize size)
{
    const int w = size.width();
    const int h = size.height();
    const int cx = w / 2;
    const int cy = h / 2;
    dial_ = QImage(size, QImage::Format_RGB32);
    buffer_ = QImage(size, QImage::Format_RGB32);

    QPainter p(&dial_);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(0, 0, w, h), palette().color(backgroundRole()));

    // The face fills the box (2,2)-(w-2,h-2) with its right and bottom edges left out; Qt's
    // outline reaches one pixel past the rectangle it is given, hence the 5.
    const QRect face(2, 2, w - 5, h - 5);
    if (face.width() >= 0 && face.height() >= 0) {
        p.setPen(QPen(backColor_, 1));
        p.setBrush(backColor_);
        p.drawEllipse(face);
        p.setBrush(Qt::NoBrush);

        // Rim: shadow on the upper-left half, light on the lower-right, split on the
        // diagonal from (w-2,2) to (2,h-2).
        const QRectF box(2, 2, w - 4, h - 4);
        const int upperRight = arcAngle16(box, QPointF(w - 2, 2));
        const int lowerLeft = arcAngle16(box, QPointF(2, h - 2));
        const int upperSpan = (lowerLeft - upperRight + 360 * 16) % (360 * 16);
        p.setPen(widePen(palette().color(QPalette::Dark)));
        p.drawArc(face, upperRight, upperSpan);
        p.setPen(widePen(palette().color(QPalette::Midlight)));
        p.drawArc(face, lowerLeft, 360 * 16 - upperSpan);
    }

    p.end();

    const int g = backColor_.red() / 2;
    const QRgb tickGrey = qRgb(g, g, g);
    // Radii are products in double stored as float: 50 * 0.6 is exactly 30, not 30.0000012.
    const auto rxo = static_cast<float>(cx * 0.85);
    const auto ryo = static_cast<float>(cy * 0.85);
    for (int i = 0; i < kTicks; ++i) {
        // Single precision on purpose: it puts the top tick one column left of the centre,
        // which is how this dial has always looked.
        const auto theta = static_cast<float>(i * 0.03125 * kTwoPi);
        const float s = std::sin(theta);
        const float c = std::cos(theta);
        const double k = (i % 8 == 0) ? 0.6 : 0.7;
        const auto rxi = static_cast<float>(cx * k);
        const auto ryi = static_cast<float>(cy * k);
        // The products are summed in double: in float, tick 8 would move a row down.
        const QPoint from(static_cast<int>(double(rxi) * s + cx),
                          static_cast<int>(double(ryi) * c + cy));
        const QPoint to(static_cast<int>(double(rxo) * s + cx),
                        static_cast<int>(double(ryo) * c + cy));
        drawThinLine(dial_, from, to, tickGrey);
    }
    dialSize_ = size;
}

void TPhaseScope::composeNeedle()
{
    const int cx = width() / 2;
    const int cy = height() / 2;
    const auto rx = static_cast<float>(cx - 5);
    const auto ry = static_cast<float>(cy - 5);
    const double a = -(kHalfPi + static_cast<double>(phase_));
    // An infinite amplitude counts as the largest finite one, so the direction survives.
    const double ampl =
        std::clamp(static_cast<double>(ampl_), -double(std::numeric_limits<float>::max()),
                   double(std::numeric_limits<float>::max()));
    QPointF reach(std::trunc(std::cos(a) * (ampl * rx)), std::trunc(std::sin(a) * (ampl * ry)));
    if (std::isnan(reach.x()) || std::isnan(reach.y()))
        reach = QPointF(0, 0); // an infinite phase has no direction
    // Far beyond the widget only the direction matters; shortening keeps it and the integers.
    const double longest = std::max(std::abs(reach.x()), std::abs(reach.y()));
    if (longest > kFarAway)
        reach = QPointF(std::trunc(reach.x() * kFarAway / longest),
                        std::trunc(reach.y() * kFarAway / longest));
    const int dx = static_cast<int>(reach.x());
    const int dy = static_cast<int>(reach.y());

    // Same size and format: one block copy.
    std::memcpy(buffer_.bits(), dial_.constBits(), static_cast<size_t>(dial_.sizeInBytes()));
    // A needle of no length is not drawn at all, not even as a dot.
    if (dx == 0 && dy == 0)
        return;
    drawWideLine(buffer_, QPointF(cx, cy), QPointF(double(cx) + dx, double(cy) + dy),
                 qRgb(255, 64, 64));
}

void TPhaseScope::paintEvent(QPaintEvent*)
{
    if (width() <= 0 || height() <= 0)
        return;
    if (dialSize_ != size())
        renderDial(size());
    composeNeedle();
    QPainter p(this);
    p.drawImage(0, 0, buffer_);
}

} // namespace corvane
