#include "MonitorPicture.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <cmath>

namespace corvane {

MonitorPicture::MonitorPicture(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(64, 64);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void MonitorPicture::setFrame(const QImage& frame)
{
    frame_ = frame;
    update(pictureRect());
}

void MonitorPicture::setAspect(double aspect)
{
    if (aspect <= 0 || aspect == aspect_)
        return;
    aspect_ = aspect;
    update();
}

void MonitorPicture::setSmooth(bool smooth)
{
    if (smooth == smooth_)
        return;
    smooth_ = smooth;
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
    const QRegion bars = QRegion(event->rect()).subtracted(frame_.isNull() ? QRegion() : target);
    for (const QRect& bar : bars)
        painter.fillRect(bar, Qt::black);
    if (frame_.isNull())
        return;
    // Scaled here and then copied straight in: scaling it, the painter would convert and blend
    // it in spans shared out to worker threads, waking them for every frame.
    const QImage shown = frame_.convertToFormat(QImage::Format_RGB32)
                             .scaled(target.size(), Qt::IgnoreAspectRatio,
                                     smooth_ ? Qt::SmoothTransformation : Qt::FastTransformation);
    painter.drawImage(target.topLeft(), shown);
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
