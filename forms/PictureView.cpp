#include "PictureView.h"

#include "ImageSurface.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRegion>

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

void PictureView::updateColumns(int col, int cols)
{
    QRegion due;
    const auto columns = [&](int from, int to) {
        due +=
            QRect(QPoint(3 * (cols - to), 0), QPoint(3 * (cols - from) + 2, height() - 1)) & rect();
    };
    if (col < lastCol_) { // a new frame began since the last request
        columns(lastCol_, cols - 1);
        columns(0, col + 3);
    } else {
        columns(lastCol_, col + 3);
    }
    if (col + 4 > cols) // the frame may end, and the next begin, before the next request
        columns(0, 3);
    lastCol_ = col;
    due_ |= due.boundingRect();
}

void PictureView::paintDue()
{
    if (due_.isEmpty())
        return;
    repaint(due_);
    due_ = QRect();
}

void PictureView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    if (surface_) {
        // One rectangle, so Qt copies the image straight in; under a clip of several it
        // blends the rows in spans shared out to worker threads.
        const QRect due = event->rect();
        painter.drawImage(due.topLeft(), surface_->image(), due);
    } else {
        painter.fillRect(event->rect(), palette().window());
    }
}

} // namespace corvane
