#include "PictureView.h"

#include "ImageSurface.h"

#include <QPaintEvent>
#include <QPainter>

namespace corvane {

PictureView::PictureView(QWidget* parent) : QWidget(parent)
{
    // The surface covers the whole control; nothing behind it needs painting first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::setSurface(const ImageSurface* surface)
{
    surface_ = surface;
    update();
}

void PictureView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    if (surface_)
        painter.drawImage(QPoint(0, 0), surface_->image());
    else
        painter.fillRect(event->rect(), palette().window());
}

} // namespace corvane
