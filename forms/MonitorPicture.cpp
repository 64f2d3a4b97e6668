#include "MonitorPicture.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace corvane {

MonitorPicture::MonitorPicture(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(64, 64);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

namespace {
// Grey levels an element may move by without being repainted: a step of 1 % is invisible, and
// noise moves every element of a still picture by about that much from frame to frame.
constexpr int kTolerance = 3;
} // namespace

void MonitorPicture::setFrame(const QImage& frame)
{
    const QImage grey =
        frame.isNull() ? QImage() : frame.convertToFormat(QImage::Format_Grayscale8);
    frame_ = grey;
    if (grey.isNull() || shown_.size() != grey.size() || scaled_.isNull() || smooth_) {
        // Smoothing spreads an element into its neighbours: no element stands alone there.
        const bool same =
            !grey.isNull() && !shown_.isNull() && shown_.size() == grey.size() && shown_ == grey;
        shown_ = grey.copy();
        scaled_ = QImage();
        if (!same)
            update(pictureRect());
        return;
    }
    const QRect target = pictureRect();
    QRegion due;
    const auto stride = static_cast<std::size_t>(scaled_.bytesPerLine() / 4);
    auto* out = reinterpret_cast<QRgb*>(scaled_.bits());
    for (int x = 0; x < grey.width(); ++x) {
        int top = -1, bottom = -1;
        for (int y = 0; y < grey.height(); ++y) {
            uchar& was = shown_.scanLine(y)[x];
            const uchar now = grey.constScanLine(y)[x];
            if (std::abs(int(now) - int(was)) <= kTolerance)
                continue;
            was = now;
            if (top < 0)
                top = y;
            bottom = y;
            const int x0 = elementLeft(x), x1 = elementLeft(x + 1);
            for (int py = elementTop(y); py < elementTop(y + 1); ++py)
                std::fill(out + static_cast<std::size_t>(py) * stride + x0,
                          out + static_cast<std::size_t>(py) * stride + x1, qRgb(now, now, now));
        }
        if (top >= 0)
            due += QRect(target.left() + elementLeft(x), target.top() + elementTop(top),
                         elementLeft(x + 1) - elementLeft(x),
                         elementTop(bottom + 1) - elementTop(top));
    }
    if (!due.isEmpty())
        update(due);
}

int MonitorPicture::elementLeft(int x) const
{
    const int w = pictureRect().width(), n = std::max(shown_.width(), 1);
    return static_cast<int>((static_cast<std::int64_t>(x) * w + n - 1) / n);
}

int MonitorPicture::elementTop(int y) const
{
    const int h = pictureRect().height(), n = std::max(shown_.height(), 1);
    return static_cast<int>((static_cast<std::int64_t>(y) * h + n - 1) / n);
}

// Scales shown_ to the picture rectangle: each element a block whose edges elementLeft and
// elementTop give, or smoothly interpolated.
void MonitorPicture::rescale()
{
    const QSize size = pictureRect().size();
    if (shown_.isNull() || size.isEmpty()) {
        scaled_ = QImage();
        return;
    }
    if (smooth_) {
        scaled_ = shown_.convertToFormat(QImage::Format_RGB32)
                      .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        return;
    }
    scaled_ = QImage(size, QImage::Format_RGB32);
    std::vector<int> columns(static_cast<std::size_t>(size.width()));
    for (int x = 0, px = 0; x < shown_.width(); ++x)
        for (const int end = elementLeft(x + 1); px < end; ++px)
            columns[static_cast<std::size_t>(px)] = x;
    for (int y = 0, py = 0; y < shown_.height(); ++y) {
        const uchar* in = shown_.constScanLine(y);
        for (const int end = elementTop(y + 1); py < end; ++py) {
            auto* line = reinterpret_cast<QRgb*>(scaled_.scanLine(py));
            for (int px = 0; px < size.width(); ++px) {
                const uchar g = in[columns[static_cast<std::size_t>(px)]];
                line[px] = qRgb(g, g, g);
            }
        }
    }
}

void MonitorPicture::resizeEvent(QResizeEvent* event)
{
    scaled_ = QImage();
    QWidget::resizeEvent(event);
}

void MonitorPicture::setAspect(double aspect)
{
    if (aspect <= 0 || aspect == aspect_)
        return;
    aspect_ = aspect;
    scaled_ = QImage();
    update();
}

void MonitorPicture::setSmooth(bool smooth)
{
    if (smooth == smooth_)
        return;
    smooth_ = smooth;
    scaled_ = QImage();
    update();
}

QRect MonitorPicture::pictureRect() const
{
    int w = width();
    int h = static_cast<int>(std::lround(w * aspect_));
    if (h > height()) {
        h = height();
        w = static_cast<int>(std::lround(h / aspect_));
    }
    return {(width() - w) / 2, (height() - h) / 2, w, h};
}

void MonitorPicture::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect target = pictureRect();
    const QRegion bars = event->region().subtracted(shown_.isNull() ? QRegion() : target);
    for (const QRect& bar : bars)
        painter.fillRect(bar, Qt::black);
    if (shown_.isNull())
        return;
    // Scaled once and then copied straight in: scaling it, the painter would convert and blend
    // it in spans shared out to worker threads, waking them for every frame.
    if (scaled_.size() != target.size())
        rescale();
    for (const QRect& rect : event->region().intersected(target))
        painter.drawImage(rect.topLeft(), scaled_, rect.translated(-target.topLeft()));
    if (dimmed_)
        painter.fillRect(target, QColor(0, 0, 0, 160));
}

void MonitorPicture::setDimmed(bool dimmed)
{
    if (dimmed == dimmed_)
        return;
    dimmed_ = dimmed;
    update();
}

} // namespace corvane
